// Private-profile (INI) files with the Windows semantics: section and key
// names compare case-insensitively, reads return the default when the file,
// section or key is missing, a write creates the file, section and key, and
// every write replaces the file atomically (write to a temporary, rename).
// Names and values are UTF-16; files are stored as UTF-8. Lines that are not
// sections or key=value pairs are kept on rewrite and ignored on read.
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"

namespace platform {

// Copies the value (or the default) into `buffer` of `size_units`, truncated
// with a terminator; returns the number of units copied, without terminator.
AG_PLATFORM_EXPORT uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                                     const char16_t* default_value, char16_t* buffer,
                                                     uint32_t size_units, const char16_t* file);
// Decimal value of the key, `default_value` when missing or not a number.
AG_PLATFORM_EXPORT uint32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key,
                                                  int32_t default_value, const char16_t* file);
// value null deletes the key; key null deletes the section.
AG_PLATFORM_EXPORT bool WritePrivateProfileStringW(const char16_t* section, const char16_t* key,
                                                   const char16_t* value, const char16_t* file);
// Raw blobs, stored as hexadecimal text with a checksum byte; a read fails
// when the stored size differs from `size` or the checksum does not match.
AG_PLATFORM_EXPORT bool GetPrivateProfileStructW(const char16_t* section, const char16_t* key, void* data,
                                                 uint32_t size, const char16_t* file);
AG_PLATFORM_EXPORT bool WritePrivateProfileStructW(const char16_t* section, const char16_t* key,
                                                   const void* data, uint32_t size, const char16_t* file);

}  // namespace platform
