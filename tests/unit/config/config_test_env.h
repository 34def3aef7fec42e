// Test surroundings for the configuration routines: a temporary agent root
// (with the in-memory support library pointing at it), a temporary machine
// root for the file-backed registry, and writers for tenant files and
// registry values. One per test; not shared between threads.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/config/tenant_info.h"
#include "core/siblings/siblings.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "tests/unit/mocks/fake_support_library.h"
#include "tests/unit/mocks/scratch_folder.h"

class ConfigTestEnv {
 public:
  ConfigTestEnv() : siblings_(SiblingSet{.support = &support_}) {
    base_ = test_support::MakeScratchFolder("agconfig-");
    root_ = base_ + "/agent/";
    machine_ = base_ + "/machine/";
    std::filesystem::create_directories(root_ + "config");
    std::filesystem::create_directories(machine_);
    support_.SetRootDir(*platform::Utf8ToUtf16(root_));
    previous_machine_root_ = platform::MachineRoot();
    platform::SetMachineRoot(machine_);
  }
  ~ConfigTestEnv() {
    platform::SetMachineRoot(previous_machine_root_);
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }
  ConfigTestEnv(const ConfigTestEnv&) = delete;
  ConfigTestEnv& operator=(const ConfigTestEnv&) = delete;

  InMemorySupportLibrary& support() { return support_; }
  const std::string& root() const { return root_; }
  const std::string& base() const { return base_; }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    // Written aside and renamed, so a concurrent reader sees old or new only.
    const std::string temp = path + ".tmp";
    std::ofstream(temp, std::ios::binary | std::ios::trunc) << bytes;
    std::filesystem::rename(temp, path);
  }
  void WriteTenantBytes(const std::string& bytes) const { WriteFile(root_ + "clagnt.dat", bytes); }
  void WriteTenantJson(const std::string& json) const { WriteTenantBytes(EncodeTenantFile(json)); }
  void RemoveTenantFile() const { std::filesystem::remove(root_ + "clagnt.dat"); }

  static void SetRegistryDword(platform::RegistryHive hive, const std::u16string& key, const std::u16string& name,
                               uint32_t value) {
    platform::RegistryKey k;
    ASSERT_EQ(k.CreateKey(hive, key), 0u);
    ASSERT_EQ(k.WriteDword(name, value), 0u);
  }
  static void SetAppPath(const std::u16string& exe, const std::string& pathUtf8) {
    platform::RegistryKey k;
    ASSERT_EQ(k.CreateKey(platform::RegistryHive::kLocalMachine,
                          u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exe),
              0u);
    ASSERT_EQ(k.WriteString(u"Path", *platform::Utf8ToUtf16(pathUtf8)), 0u);
  }

 private:
  InMemorySupportLibrary support_;
  ScopedSiblings siblings_;
  std::string base_;
  std::string root_;
  std::string machine_;
  std::string previous_machine_root_;
};

// Base64 helpers for crafting files the encoder would never write.
inline std::string Base64Encode(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}
inline std::string Base64Decode(const std::string& text) {
  std::string out(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  size_t pad = 0;
  while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}
// A tenant file of exactly `blocks` (a multiple of 8 bytes) with no padding
// added: ECB encrypts blocks independently, so dropping the encoder's final
// pad block leaves the ciphertext of `blocks` alone.
inline std::string EncryptWithoutPadding(const std::string& blocks) {
  const std::string cipher = Base64Decode(EncodeTenantFile(blocks));
  return Base64Encode(cipher.substr(0, blocks.size()));
}
