// The device-id library (libagdevid), loaded at run time by the core.
// GeneratUDI writes a stable identifier of this machine into `buffer`;
// `*pLength` holds the buffer size on entry and the text length on return.
// A status of 0 means success.
#pragma once

#include <cstdint>

using PFN_GENERATE_UDI = uint16_t (*)(char* buffer, int32_t* pLength);
inline constexpr const char* kGenerateUdiExport = "GeneratUDI";
