#include <fstream>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/registry.h"
#include "temp_folder.h"

namespace platform {
namespace {

using platform_test::TempFolder;

constexpr std::u16string_view kAppPaths = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\avscan.exe";
constexpr std::u16string_view kInternetSettings =
    u"S-1-5-18\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

TEST(PlatformRegistry, WrittenValuesReadBackThroughAnyCaseOfThePath) {
  TempFolder root(true);
  RegistryKey writer;
  ASSERT_EQ(writer.CreateKey(RegistryHive::kLocalMachine, kAppPaths), kErrorSuccess);
  ASSERT_EQ(writer.WriteString(u"Path", u"C:\\Program Files\\Vx\\"), kErrorSuccess);
  ASSERT_EQ(writer.WriteDword(u"Flags", 0xFFFFFFFFu), kErrorSuccess);
  ASSERT_EQ(writer.WriteString(u"", u"default"), kErrorSuccess);

  RegistryKey reader;
  ASSERT_EQ(reader.Open(RegistryHive::kLocalMachine, u"software\\MICROSOFT\\windows\\currentversion\\app paths\\AVSCAN.EXE",
                        RegistryAccess::kQuery),
            kErrorSuccess);
  std::u16string text;
  ASSERT_EQ(reader.ReadString(u"PATH", &text), kErrorSuccess);
  EXPECT_EQ(text, u"C:\\Program Files\\Vx\\");
  ASSERT_EQ(reader.ReadString(u"", &text), kErrorSuccess);
  EXPECT_EQ(text, u"default");
  uint32_t number = 0;
  ASSERT_EQ(reader.ReadDword(u"flags", &number), kErrorSuccess);
  EXPECT_EQ(number, 0xFFFFFFFFu);
  // The layout is the documented one, so installers can write it directly.
  std::ifstream file(root.Path() + "registry/HKLM/SOFTWARE/Microsoft/Windows/CurrentVersion/App Paths/avscan.exe/Path");
  std::string type;
  std::getline(file, type);
  EXPECT_EQ(type, "REG_SZ");
}

TEST(PlatformRegistry, SecureProtocolsCanBeReadAndDeletedWithFullAccess) {
  TempFolder root(true);
  RegistryKey setup;
  ASSERT_EQ(setup.CreateKey(RegistryHive::kUsers, kInternetSettings), kErrorSuccess);
  ASSERT_EQ(setup.WriteDword(u"SecureProtocols", 0), kErrorSuccess);

  RegistryKey query;
  ASSERT_EQ(query.Open(RegistryHive::kUsers, kInternetSettings, RegistryAccess::kQuery), kErrorSuccess);
  EXPECT_EQ(query.DeleteValue(u"SecureProtocols"), kErrorAccessDenied);
  EXPECT_EQ(query.WriteDword(u"SecureProtocols", 1), kErrorAccessDenied);

  RegistryKey full;
  ASSERT_EQ(full.Open(RegistryHive::kUsers, kInternetSettings, RegistryAccess::kAllAccess), kErrorSuccess);
  uint32_t number = 99;
  ASSERT_EQ(full.ReadDword(u"SecureProtocols", &number), kErrorSuccess);
  EXPECT_EQ(number, 0u);
  EXPECT_EQ(full.DeleteValue(u"SecureProtocols"), kErrorSuccess);
  EXPECT_EQ(full.ReadDword(u"SecureProtocols", &number), kErrorFileNotFound);
}

TEST(PlatformRegistry, HandWrittenAndMalformedValueFiles) {
  TempFolder root(true);
  RegistryKey key;
  ASSERT_EQ(key.CreateKey(RegistryHive::kLocalMachine, u"SOFTWARE\\Test"), kErrorSuccess);
  const std::string folder = root.Path() + "registry/HKLM/SOFTWARE/Test/";
  std::ofstream(folder + "hex") << "REG_DWORD\n0x1F\n";
  std::ofstream(folder + "echoed") << "REG_SZ\nC:\\Vx\\\n";
  std::ofstream(folder + "notype") << "just text";
  std::ofstream(folder + "toobig") << "REG_DWORD\n4294967296";
  std::ofstream(folder + "word") << "REG_DWORD\ntwelve";
  std::ofstream(folder + "badutf8") << "REG_SZ\n\xC0\x80";

  uint32_t number = 0;
  ASSERT_EQ(key.ReadDword(u"hex", &number), kErrorSuccess);
  EXPECT_EQ(number, 0x1Fu);
  std::u16string text;
  ASSERT_EQ(key.ReadString(u"echoed", &text), kErrorSuccess);
  EXPECT_EQ(text, u"C:\\Vx\\");  // the line end echo adds is not part of the value
  EXPECT_EQ(key.ReadString(u"hex", &text), kErrorUnsupportedType);
  EXPECT_EQ(key.ReadDword(u"echoed", &number), kErrorUnsupportedType);
  EXPECT_EQ(key.ReadString(u"notype", &text), kErrorInvalidData);
  EXPECT_EQ(key.ReadDword(u"toobig", &number), kErrorInvalidData);
  EXPECT_EQ(key.ReadDword(u"word", &number), kErrorInvalidData);
  EXPECT_EQ(key.ReadString(u"badutf8", &text), kErrorInvalidData);
}

TEST(PlatformRegistry, MissingOrForbiddenKeysAndValuesFailWithTheirErrors) {
  TempFolder root(true);
  RegistryKey key;
  std::u16string text;
  EXPECT_EQ(key.ReadString(u"Path", &text), kErrorInvalidHandle);
  EXPECT_EQ(key.WriteString(u"Path", u"x"), kErrorInvalidHandle);
  EXPECT_EQ(key.Open(RegistryHive::kLocalMachine, kAppPaths, RegistryAccess::kQuery), kErrorFileNotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.CreateKey(RegistryHive::kLocalMachine, u"SOFTWARE\\..\\..\\escape"), kErrorInvalidParameter);
  EXPECT_EQ(key.Open(RegistryHive::kLocalMachine, u"a/b", RegistryAccess::kQuery), kErrorInvalidParameter);
  ASSERT_EQ(key.CreateKey(RegistryHive::kUsers, kInternetSettings), kErrorSuccess);
  uint32_t number = 0;
  EXPECT_EQ(key.ReadDword(u"SecureProtocols", &number), kErrorFileNotFound);
  EXPECT_EQ(key.DeleteValue(u"SecureProtocols"), kErrorFileNotFound);
  EXPECT_EQ(key.WriteString(u"../x", u"x"), kErrorInvalidParameter);
  // A subkey is not a value, and the hives are separate trees.
  ASSERT_EQ(key.CreateKey(RegistryHive::kUsers, u"S-1-5-18\\Software"), kErrorSuccess);
  EXPECT_EQ(key.ReadString(u"Microsoft", &text), kErrorFileNotFound);
  EXPECT_EQ(key.Open(RegistryHive::kLocalMachine, kInternetSettings, RegistryAccess::kQuery), kErrorFileNotFound);
}

}  // namespace
}  // namespace platform
