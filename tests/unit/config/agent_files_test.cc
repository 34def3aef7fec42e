#include "core/config/agent_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/unit/config/config_test_env.h"
#include "tests/unit/mocks/log_capture.h"

namespace {

class AgentFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product_ = env_.base() + "/product/";
    std::filesystem::create_directories(product_);
    ConfigTestEnv::SetAppPath(u"avscan.exe", product_);
  }

  ConfigTestEnv env_;
  LogCapture log_;
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
      {"x9876543210=\n", "9876543210"},
      {"0123456789", ""},
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

TEST_F(AgentFilesTest, LogPullingUsesTheServerDirectlyAndTheRelayWhenRoaming) {
  env_.WriteTenantJson(R"({"csUrl":"cs.example.test","csPrtNo":443,"csAppNm":"app","rpIP":"10.0.0.9","rpPrtNo":8443})");
  std::string host, port, app;
  env_.support().SetConnectionStatus(1);
  ASSERT_TRUE(GetLogPullingInfoFromDat(&host, &port, &app));
  EXPECT_EQ(host + ":" + port + "/" + app, "cs.example.test:443/app");
  env_.support().SetConnectionStatus(2);
  ASSERT_TRUE(GetLogPullingInfoFromDat(&host, &port, &app));
  EXPECT_EQ(host + ":" + port + "/" + app, "10.0.0.9:8443/app");
  EXPECT_TRUE(log_.Contains("End point is in Roaming."));

  // Each missing key fails with its own line, and every failure gives the store back.
  const struct {
    const char* tenant;
    const char* line;
  } kMissing[] = {
      {R"({"csUrl":"cs","csPrtNo":443,"csAppNm":"app"})", "GetTenantInfoOfGivenKey() failed for IP Address."},
      {R"({"rpIP":"10.0.0.9","csAppNm":"app"})", "GetTenantInfoOfGivenKey() failed for port no."},
      {R"({"rpIP":"10.0.0.9","rpPrtNo":8443})", "GetTenantInfoOfGivenKey() failed for app name."},
  };
  for (const auto& m : kMissing) {
    env_.WriteTenantJson(m.tenant);
    EXPECT_FALSE(GetLogPullingInfoFromDat(&host, &port, &app));
    EXPECT_TRUE(log_.ContainsAtLevel(AG_LOG_FAILURE, m.line)) << m.line;
  }
  env_.RemoveTenantFile();
  EXPECT_FALSE(GetLogPullingInfoFromDat(&host, &port, &app));
  EXPECT_EQ(CTenantInfo::getInstance(false), nullptr);
}

}  // namespace
