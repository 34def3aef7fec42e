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
  void WriteOtpFile(const std::string& content) { ConfigTestEnv::WriteFile(product_ + "dcotp.ini", content); }

  ConfigTestEnv env_;
  LogCapture log_;
  std::string product_;
};

TEST_F(AgentFilesTest, OsQueryStatusReadsTheFlagWithDefaultZero) {
  uint32_t status = 7;
  EXPECT_TRUE(GetOSQueryStatus(&status));
  EXPECT_EQ(status, 0u);
  ConfigTestEnv::WriteFile(env_.root() + "config/agadv.ini", "[av_config_flags]\nIOSQUERYSTS=1\n");
  EXPECT_TRUE(GetOSQueryStatus(&status));
  EXPECT_EQ(status, 1u);
  EXPECT_TRUE(log_.Contains("dwOSQueryStatus :- 1"));
}

TEST_F(AgentFilesTest, OsQueryStatusFailsWithoutConfigurationFolder) {
  env_.support().SetRootDir(std::u16string(258, u'r') + u"/");
  uint32_t status = 0;
  EXPECT_FALSE(GetOSQueryStatus(&status));
  EXPECT_TRUE(log_.ContainsAtLevel(AG_LOG_FAILURE, "GetClientAgentConfigDir failed"));
}

TEST_F(AgentFilesTest, OtpIsTheTenCharactersBeforeTheLastEqualsSign) {
  WriteOtpFile("seed=abc\nOTP 0123456789=");
  EXPECT_EQ(GetLastAppliedOTP(), "0123456789");
  WriteOtpFile("x9876543210=\n");
  EXPECT_EQ(GetLastAppliedOTP(), "9876543210");
}

TEST_F(AgentFilesTest, OtpIsEmptyWhenUnavailable) {
  EXPECT_EQ(GetLastAppliedOTP(), "");
  EXPECT_TRUE(log_.ContainsAtLevel(AG_LOG_FAILURE, "OTP file is not present or Error Reading OTP file."));

  WriteOtpFile("0123456789");
  EXPECT_EQ(GetLastAppliedOTP(), "");
  EXPECT_TRUE(log_.ContainsAtLevel(AG_LOG_FAILURE, "OTP is invalid as not found the identifyer."));

  WriteOtpFile("012345678=");  // nine characters before the marker
  EXPECT_EQ(GetLastAppliedOTP(), "");
  EXPECT_TRUE(log_.Contains("Std exception found in GetLastAppliedOTP"));
}

TEST_F(AgentFilesTest, OtpNeedsTheProductFolder) {
  platform::RegistryKey key;
  ASSERT_EQ(key.Open(platform::RegistryHive::kLocalMachine,
                     u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\avscan.exe",
                     platform::RegistryAccess::kAllAccess),
            0u);
  ASSERT_EQ(key.DeleteValue(u"Path"), 0u);
  EXPECT_EQ(GetLastAppliedOTP(), "");
  EXPECT_TRUE(log_.Contains("CFGetVornexPath Failed"));
}

class LogPullingTest : public AgentFilesTest {
 protected:
  bool Pull() { return GetLogPullingInfoFromDat(&host_, &port_, &app_); }
  std::string host_, port_, app_;
};

TEST_F(LogPullingTest, DirectEndpointUsesTheServer) {
  env_.WriteTenantJson(R"({"csUrl":"cs.example.test","csPrtNo":443,"csAppNm":"app","rpIP":"10.0.0.9","rpPrtNo":8443})");
  env_.support().SetConnectionStatus(1);
  ASSERT_TRUE(Pull());
  EXPECT_EQ(host_, "cs.example.test");
  EXPECT_EQ(port_, "443");
  EXPECT_EQ(app_, "app");
  EXPECT_FALSE(log_.Contains("End point is in Roaming."));
}

TEST_F(LogPullingTest, RoamingEndpointUsesTheRelay) {
  env_.WriteTenantJson(R"({"csUrl":"cs.example.test","csPrtNo":443,"csAppNm":"app","rpIP":"10.0.0.9","rpPrtNo":8443})");
  env_.support().SetConnectionStatus(2);
  ASSERT_TRUE(Pull());
  EXPECT_EQ(host_, "10.0.0.9");
  EXPECT_EQ(port_, "8443");
  EXPECT_EQ(app_, "app");
  EXPECT_TRUE(log_.Contains("End point is in Roaming."));
}

TEST_F(LogPullingTest, EachMissingKeyFailsWithItsOwnLine) {
  env_.support().SetConnectionStatus(2);
  env_.WriteTenantJson(R"({"csUrl":"cs","csPrtNo":443,"csAppNm":"app"})");
  EXPECT_FALSE(Pull());
  EXPECT_TRUE(log_.ContainsAtLevel(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for IP Address."));
  env_.WriteTenantJson(R"({"rpIP":"10.0.0.9","csAppNm":"app"})");
  EXPECT_FALSE(Pull());
  EXPECT_TRUE(log_.ContainsAtLevel(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for port no."));
  env_.WriteTenantJson(R"({"rpIP":"10.0.0.9","rpPrtNo":8443})");
  EXPECT_FALSE(Pull());
  EXPECT_TRUE(log_.ContainsAtLevel(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for app name."));
  env_.RemoveTenantFile();
  EXPECT_FALSE(Pull());
  EXPECT_TRUE(log_.Contains("getInstance() failed."));
  // Every failure gave the store back.
  EXPECT_EQ(CTenantInfo::getInstance(false), nullptr);
}

}  // namespace
