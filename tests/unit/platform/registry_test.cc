#include <fstream>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/registry.h"
#include "temp_folder.h"

namespace platform {
namespace {

using platform_test::TempFolder;

constexpr std::u16string_view kInternetSettings =
    u"S-1-5-18\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Values are files an installer may write by hand; names ignore case; a
// value is deleted only with full access.
TEST(PlatformRegistry, ValuesReadBackAndAreDeletedOnlyWithFullAccess) {
  TempFolder root(true);
  RegistryKey writer;
  ASSERT_EQ(writer.CreateKey(RegistryHive::kUsers, kInternetSettings), kErrorSuccess);
  ASSERT_EQ(writer.WriteDword(u"SecureProtocols", 0), kErrorSuccess);
  ASSERT_EQ(writer.WriteString(u"Path", u"C:\\Vx\\"), kErrorSuccess);
  const std::string folder = root.Path() + "registry/HKU/S-1-5-18/Software/Microsoft/Windows/CurrentVersion/"
                                           "Internet Settings/";
  std::ofstream(folder + "hex") << "REG_DWORD\n0x1F\n";
  std::ofstream(folder + "word") << "REG_DWORD\ntwelve";

  RegistryKey query;
  ASSERT_EQ(query.Open(RegistryHive::kUsers, u"s-1-5-18\\SOFTWARE\\microsoft\\windows\\currentversion\\internet "
                                             u"settings",
                       RegistryAccess::kQuery),
            kErrorSuccess);
  uint32_t number = 99;
  ASSERT_EQ(query.ReadDword(u"secureprotocols", &number), kErrorSuccess);
  EXPECT_EQ(number, 0u);
  ASSERT_EQ(query.ReadDword(u"hex", &number), kErrorSuccess);
  EXPECT_EQ(number, 0x1Fu);
  EXPECT_EQ(query.ReadDword(u"word", &number), kErrorInvalidData);
  std::u16string text;
  ASSERT_EQ(query.ReadString(u"PATH", &text), kErrorSuccess);
  EXPECT_EQ(text, u"C:\\Vx\\");
  EXPECT_EQ(query.DeleteValue(u"SecureProtocols"), kErrorAccessDenied);

  RegistryKey full;
  ASSERT_EQ(full.Open(RegistryHive::kUsers, kInternetSettings, RegistryAccess::kAllAccess), kErrorSuccess);
  EXPECT_EQ(full.DeleteValue(u"SecureProtocols"), kErrorSuccess);
  EXPECT_EQ(full.ReadDword(u"SecureProtocols", &number), kErrorFileNotFound);
  // A subkey is not a value, and a path cannot leave the hive.
  EXPECT_EQ(full.ReadString(u"..", &text), kErrorInvalidParameter);
  ASSERT_EQ(full.CreateKey(RegistryHive::kUsers, u"S-1-5-18\\Software"), kErrorSuccess);
  EXPECT_EQ(full.ReadString(u"Microsoft", &text), kErrorFileNotFound);
  EXPECT_EQ(full.CreateKey(RegistryHive::kLocalMachine, u"SOFTWARE\\..\\..\\escape"), kErrorInvalidParameter);
}

}  // namespace
}  // namespace platform
