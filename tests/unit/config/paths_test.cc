// Where the agent finds the product, the update managers and its own files,
// the secure-protocol repair and the version it reports.
#include "core/config/paths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "core/config/agent_files.h"
#include "platform/error.h"
#include "platform/os_version.h"
#include "tests/unit/config/config_test_env.h"
#include "tests/unit/mocks/sibling_mocks.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArrayArgument;

constexpr char16_t kSecureProtocolsKey[] = u"S-1-5-18\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

class PathsTest : public ::testing::Test {
 protected:
  ConfigTestEnv env_;
};

// Callers ask only whether there is one: the current version is not old.
TEST_F(PathsTest, OldUpdateManagerIsAnyOldVersionButNotTheCurrentOne) {
  bool found = true;
  EXPECT_FALSE(IsOldUpdateManagerPresent(&found, nullptr, 0));
  EXPECT_FALSE(found);
  ConfigTestEnv::SetAppPath(u"agupdmgr1014.exe", "/opt/um/10.14/");
  EXPECT_FALSE(IsOldUpdateManagerPresent(&found, nullptr, 0));
  EXPECT_TRUE(IsUpdateManagerPresent(&found));
  EXPECT_TRUE(found);
  ConfigTestEnv::SetAppPath(u"agupdmgr1051.exe", "/opt/um/10.51/");
  EXPECT_TRUE(IsOldUpdateManagerPresent(&found, nullptr, 0));
  EXPECT_TRUE(found);
}

// The value is deleted only when it is 0 on Windows 10 (or a version that
// cannot be read).
TEST_F(PathsTest, SecureProtocolZeroIsDeletedOnWindows10Only) {
  EXPECT_FALSE(ChkSecureProtocolKey());  // no key
  const platform::OsVersionRecord windows81{.major = 6, .minor = 3};
  const struct {
    uint32_t value;
    std::optional<std::optional<platform::OsVersionRecord>> os;  // unset: the default, Windows 10
    bool result;
    bool deleted;
  } kCases[] = {
      {0, std::nullopt, true, true},
      {0xA80, std::nullopt, true, false},
      {0, windows81, false, false},
      {0, std::optional<platform::OsVersionRecord>{}, true, true},
  };
  for (const auto& c : kCases) {
    ConfigTestEnv::SetRegistryDword(platform::RegistryHive::kUsers, kSecureProtocolsKey, u"SecureProtocols", c.value);
    std::optional<platform::ScopedOsVersionRecord> os;
    if (c.os) os.emplace(*c.os);
    EXPECT_EQ(ChkSecureProtocolKey(), c.result) << c.value;
    platform::RegistryKey key;
    ASSERT_EQ(key.Open(platform::RegistryHive::kUsers, kSecureProtocolsKey, platform::RegistryAccess::kQuery), 0u);
    uint32_t value = 1;
    EXPECT_EQ(key.ReadDword(u"SecureProtocols", &value), c.deleted ? platform::kErrorFileNotFound : 0u) << c.value;
    EXPECT_EQ(value, c.deleted ? 1u : c.value);  // a failed read leaves it alone
  }
}

TEST_F(PathsTest, ClientVersionHasTwoOrFourParts) {
  ::testing::NiceMock<MockVersionLibrary> version;
  ScopedSiblings siblings(SiblingSet{.version = &version});
  const uint8_t parts[4] = {10, 14, 0, 1};
  ON_CALL(version, GetProductVersion(_, _)).WillByDefault(DoAll(SetArrayArgument<1>(parts, parts + 4), Return(1)));
  char text[20] = {};
  ASSERT_TRUE(GetClientVersion(text, sizeof(text), false));
  EXPECT_STREQ(text, "10.14");
  ASSERT_TRUE(GetClientVersion(text, sizeof(text), true));
  EXPECT_STREQ(text, "10.14.0.1");
}

class AgentFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product_ = env_.base() + "product/";
    std::filesystem::create_directories(product_);
    ConfigTestEnv::SetAppPath(u"avscan.exe", product_);
  }

  ConfigTestEnv env_;
  std::string product_;
};

TEST_F(AgentFilesTest, OsQueryStatusReadsTheFlagWithDefaultZero) {
  uint32_t status = 7;
  EXPECT_TRUE(GetOSQueryStatus(&status));
  EXPECT_EQ(status, 0u);
  ConfigTestEnv::WriteFile(env_.root() + "config/agadv.ini", "[av_config_flags]\nIOSQUERYSTS=1\n");
  EXPECT_TRUE(GetOSQueryStatus(&status));
  EXPECT_EQ(status, 1u);
}

// The one-time password is the ten characters before the last '='; anything
// else reads as none.
TEST_F(AgentFilesTest, OtpIsTheTenCharactersBeforeTheLastEqualsSign) {
  const struct {
    const char* file;  // nullptr: no file
    const char* otp;
  } kFiles[] = {
      {nullptr, ""},
      {"seed=abc\nOTP 0123456789=", "0123456789"},
      {"012345678=", ""},  // nine characters before the marker
  };
  for (const auto& f : kFiles) {
    if (f.file != nullptr) ConfigTestEnv::WriteFile(product_ + "dcotp.ini", f.file);
    EXPECT_EQ(GetLastAppliedOTP(), f.otp) << (f.file ? f.file : "no file");
  }
}

}  // namespace
