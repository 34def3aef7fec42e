#include "core/config/agent_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/unit/config/config_test_env.h"

namespace {

class AgentFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product_ = env_.base() + "/product/";
    std::filesystem::create_directories(product_);
    ConfigTestEnv::SetAppPath(u"avscan.exe", product_);
  }

  ConfigTestEnv env_;
  std::string product_;
};

TEST_F(AgentFilesTest, OsQueryStatusReadsTheFlagWithDefaultZeroAndFailsWithoutConfigurationFolder) {
  uint32_t status = 7;
  EXPECT_TRUE(GetOSQueryStatus(&status));
  EXPECT_EQ(status, 0u);
  ConfigTestEnv::WriteFile(env_.root() + "config/agadv.ini", "[av_config_flags]\nIOSQUERYSTS=1\n");
  EXPECT_TRUE(GetOSQueryStatus(&status));
  EXPECT_EQ(status, 1u);
  env_.support().SetRootDir(std::u16string(258, u'r') + u"/");
  EXPECT_FALSE(GetOSQueryStatus(&status));
}

// The one-time password is the ten characters before the last '='; anything
// else, or no product folder, reads as none.
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
  platform::RegistryKey key;
  ASSERT_EQ(key.Open(platform::RegistryHive::kLocalMachine,
                     u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\avscan.exe",
                     platform::RegistryAccess::kAllAccess),
            0u);
  ASSERT_EQ(key.DeleteValue(u"Path"), 0u);
  EXPECT_EQ(GetLastAppliedOTP(), "");
}

}  // namespace
