// Private-profile (INI) files with the Windows semantics: section and key
// names compare case-insensitively, reads return the default when the file,
// section or key is missing, a write creates the file, section and key, and
// every write replaces the file atomically (write to a temporary, rename).
// Names and values are UTF-16; files are stored as UTF-8 (a UTF-16LE file
// with its byte-order mark, as Windows tools write them, is read too and
// rewritten as UTF-8). Lines that are not sections or key=value pairs
// (comments, garbage, bytes that are not UTF-8, lines of any length) are kept
// on rewrite and ignored on read. Blanks around names and values are ignored,
// and a value in matching quotes is read without them. Backslashes in file
// names are taken as folder separators. Files over 32 MiB are not read.
//
// Thread safety: any thread; all profile access in the process is serialised,
// and a reader in another process sees either the old or the new file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"

namespace platform {

// Copies the value (or the default) into `buffer` of `size_units`, truncated
// with a terminator; returns the number of units copied, without terminator.
// Section null lists the section names, key null the keys of the section:
// each name ends in a NUL and the list in one more; a list that does not fit
// is cut, still ends in two NULs, and the result is size_units - 2.
AG_PLATFORM_EXPORT uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                                     const char16_t* default_value, char16_t* buffer,
                                                     uint32_t size_units, const char16_t* file);
// `default_value` when the key is missing or empty; otherwise, as on Windows,
// the value's leading decimal number (0 when it has none; "-3" wraps).
AG_PLATFORM_EXPORT uint32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key,
                                                  int32_t default_value, const char16_t* file);
// value null deletes the key; key null deletes the section. Names or values
// that would not read back as written (line breaks, '=' in a key, ']' in a
// section) are refused with false.
AG_PLATFORM_EXPORT bool WritePrivateProfileStringW(const char16_t* section, const char16_t* key,
                                                   const char16_t* value, const char16_t* file);
// Raw blobs, stored as hexadecimal text with a checksum byte; a read fails
// when the stored size differs from `size` or the checksum does not match.
AG_PLATFORM_EXPORT bool GetPrivateProfileStructW(const char16_t* section, const char16_t* key, void* data,
                                                 uint32_t size, const char16_t* file);
AG_PLATFORM_EXPORT bool WritePrivateProfileStructW(const char16_t* section, const char16_t* key,
                                                   const void* data, uint32_t size, const char16_t* file);

}  // namespace platform
