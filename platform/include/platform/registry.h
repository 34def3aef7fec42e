// File-backed stand-in for the Windows registry, for the few values the agent
// reads (App Paths entries, the SecureProtocols setting) and that installers
// and tests write.
//
// Layout: <MachineRoot()>registry/<hive>/<key path>/<value name>, where hive is
// "HKLM" or "HKU", every '\\' of the key path becomes a folder level, and each
// value is a file ("@" for the default value, whose name is empty). A value
// file holds its type on the first line, then the data:
//   REG_SZ\n<UTF-8 text>          REG_DWORD\n<decimal or 0x-hex number>
// so installers and shell scripts can write one with printf.
// Key and value names compare case-insensitively (ASCII), as on Windows: a
// look-up takes the existing folder/file whatever its case; creation keeps the
// case it is given.
//
// Results are Windows error codes (error.h): kErrorSuccess, kErrorFileNotFound
// (no such key or value), kErrorAccessDenied (file permissions, or a write
// through a key opened for query), kErrorUnsupportedType (a value of the other
// type), kErrorInvalidData (a malformed value file), kErrorInvalidParameter.
//
// Thread safety: a RegistryKey object is not shared between threads without a
// lock; different objects (also on the same key) may be used concurrently.
// Writes replace value files atomically (temporary file and rename).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/export.h"

namespace platform {

enum class RegistryHive { kLocalMachine, kUsers };
enum class RegistryAccess { kQuery, kAllAccess };

class AG_PLATFORM_EXPORT RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(RegistryKey&&) noexcept = default;
  RegistryKey& operator=(RegistryKey&&) noexcept = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens an existing key ("SOFTWARE\\Microsoft\\...", no leading '\\').
  [[nodiscard]] uint32_t Open(RegistryHive hive, std::u16string_view path, RegistryAccess access);
  // Opens the key, creating it and its parents when missing (all access).
  [[nodiscard]] uint32_t CreateKey(RegistryHive hive, std::u16string_view path);
  void Close();
  [[nodiscard]] bool IsOpen() const { return !folder_.empty(); }

  [[nodiscard]] uint32_t ReadString(std::u16string_view value_name, std::u16string* value) const;
  [[nodiscard]] uint32_t ReadDword(std::u16string_view value_name, uint32_t* value) const;
  [[nodiscard]] uint32_t WriteString(std::u16string_view value_name, std::u16string_view value);
  [[nodiscard]] uint32_t WriteDword(std::u16string_view value_name, uint32_t value);
  [[nodiscard]] uint32_t DeleteValue(std::u16string_view value_name);

 private:
  std::string folder_;  // resolved key folder with trailing '/'; empty = closed
  RegistryAccess access_ = RegistryAccess::kQuery;
};

}  // namespace platform
