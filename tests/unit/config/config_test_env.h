// Test surroundings for the configuration routines: a temporary folder that is
// the machine root (file-backed registry) and holds the agent root (with the
// in-memory support library pointing at it), and writers for tenant files and
// registry values. One per test; not shared between threads.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/config/tenant_info.h"
#include "core/siblings/siblings.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "tests/unit/mocks/fake_support_library.h"
#include "tests/unit/platform/temp_folder.h"

class ConfigTestEnv {
 public:
  ConfigTestEnv() {
    std::filesystem::create_directories(root_ + "config");
    support_.SetRootDir(*platform::Utf8ToUtf16(root_));
  }

  InMemorySupportLibrary& support() { return support_; }
  const std::string& root() const { return root_; }
  // The machine root, with trailing '/'.
  const std::string& base() const { return machine_.Path(); }

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
  platform_test::TempFolder machine_{true};
  std::string root_ = machine_.Path() + "agent/";
  InMemorySupportLibrary support_;
  ScopedSiblings siblings_{SiblingSet{.support = &support_}};
};
