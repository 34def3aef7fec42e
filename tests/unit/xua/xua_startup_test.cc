// Start-up and clean-up with the unified agent installed: a cloud tenant
// takes the device identifier from the unified agent; an on-premises tenant
// never subscribes.
#include <gtest/gtest.h>

#include "tests/unit/lifecycle/lifecycle_env.h"
#include "xua_env.h"

namespace {

using ::testing::ElementsAre;

constexpr const char* kUnifiedAgentUdi = "UA-DEVICE-7731";

std::string StoredUdi(InMemorySupportLibrary& support) {
  char udi[100] = {};
  return support.GetClientUDI(udi, sizeof udi) ? std::string(udi) : std::string();
}

TEST(XuaStartUp, CloudTenantTakesTheDeviceIdentifierFromTheUnifiedAgent) {
  LifecycleEnv env;
  InstallUnifiedAgent(UAINT_LIBRARY, kUnifiedAgentUdi);
  ASSERT_EQ(StartUpForTest(), 1);
  EXPECT_EQ(StoredUdi(env.support), kUnifiedAgentUdi);
  ASSERT_EQ(CleanUpForTest(), 1);

  EXPECT_THAT(CallNames(), ElementsAre("SubscribeV2", "RegisterNotificationCallback", "GetUDIFromQA", "UnSubscribe"));
}

TEST(XuaStartUp, OnPremisesTenantNeverSubscribes) {
  LifecycleEnv env;
  env.WriteTenantJson(R"({"tenantId":"tenant-1","onPrem":1})");
  CTenantInfo::release(CTenantInfo::getInstance(true));
  InstallUnifiedAgent(UAINT_LIBRARY, kUnifiedAgentUdi);
  ASSERT_EQ(StartUpForTest(), 1);
  EXPECT_NE(StoredUdi(env.support), kUnifiedAgentUdi);
  ASSERT_EQ(CleanUpForTest(), 1);
  // Clean-up ends a subscription only when there is one.
  EXPECT_TRUE(env.log.Contains("Already QAC client un-subcribed with XUA"));
  EXPECT_TRUE(JournalledCalls().empty());
}

}  // namespace
