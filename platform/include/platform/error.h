// Windows error codes as the agent reports them, and their mapping from errno.
//
// The platform layer keeps the Windows numbers in its results (named events,
// registry, process search) because the agent logs and compares those numbers;
// the POSIX backends translate errno once, here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"

namespace platform {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorModNotFound = 126;
inline constexpr uint32_t kErrorProcNotFound = 127;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorUnsupportedType = 1630;

// The Windows code closest to `posix_errno`. An errno without a Windows
// counterpart maps to 0x20000000 | errno (the application-defined bit), so the
// log still tells the causes apart.
AG_PLATFORM_EXPORT uint32_t ErrorFromErrno(int posix_errno);
// Short English text for a code returned by this layer.
AG_PLATFORM_EXPORT std::string ErrorText(uint32_t code);

}  // namespace platform
