// UTF-8 <-> UTF-16 conversion. UTF-16 is char16_t everywhere (never wchar_t,
// which is 4 bytes here). Invalid input fails cleanly with nullopt.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/export.h"

namespace platform {

AG_PLATFORM_EXPORT std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);
AG_PLATFORM_EXPORT std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16);

// Length of a NUL-terminated UTF-16 text, at most `max_units`.
AG_PLATFORM_EXPORT size_t U16Length(const char16_t* text, size_t max_units);
// Copies `source` into `buffer` of `size_units` with a terminator; false (and an
// empty buffer) when it does not fit.
AG_PLATFORM_EXPORT bool U16Copy(char16_t* buffer, size_t size_units, std::u16string_view source);

}  // namespace platform
