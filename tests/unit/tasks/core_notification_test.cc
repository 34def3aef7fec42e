// NotifyClientCoreForRpTask: validation, queueing with and without a running
// pool, passive-notification posting and the OTP status notification.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/agcore/core_state.h"
#include "core/casupp/pending_records.h"
#include "core/rpclcore/core_notification.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "tests/unit/tasks/pool_test_env.h"
#include "tests/unit/mocks/scratch_folder.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

namespace {

class CoreNotificationTest : public PoolTest {
 protected:
  CoreNotificationTest() : scopedClock(&clock) {}
  ~CoreNotificationTest() override { GetCoreState().rpClient.Exchange(nullptr); }

  platform::ManualClock clock{1'700'000'000};
  platform::ScopedClock scopedClock;
};

}  // namespace

TEST_F(CoreNotificationTest, PolicyEventFetchesThePolicy) {
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  EXPECT_CALL(env.rpClient, SetClientData(_, 14, _, _)).WillOnce(Return(1));
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS, 0), 1);
  WaitUntilIdle();
}

TEST_F(CoreNotificationTest, PassiveEventsPostBitsToRegisteredThreads) {
  ASSERT_TRUE(RpRegisterThreadForPassiveNotification(nullptr));
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_CLIENT_UNREGISTER, 0), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_HEARTBEAT_INTERVAL_CHANGED, 0), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_REACTIVATE_CLIENT, 0), 1);
  uint32_t bits = 0;
  ASSERT_TRUE(RpGetThreadPassiveNotification(&bits));
  EXPECT_EQ(bits, 7u);
}

// Status 13 sends an empty OTP; 14 without a stored OTP sends nothing.
TEST_F(CoreNotificationTest, OtpStatus13SendsEmptyOtpAnd14WithoutStoredOtpNothing) {
  GetCoreState().rpClient.Exchange(&env.rpClient);
  EXPECT_CALL(env.rpClient,
              SendNotification(29, 144, ::testing::StrEq("{\"cdt\":1700000000000,\"otp\":\"\",\"scd\":0}\n"), _))
      .WillOnce(Return(1));
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_OTP_STATUS, 13), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_OTP_STATUS, 14), 1);
  EXPECT_TRUE(env.support.Pending().empty());
}

TEST_F(CoreNotificationTest, UnsentOtpStatusIsStored) {
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_OTP_STATUS, 13), 1);  // no shared RP object
  const auto stored = env.support.PendingInList(15);
  ASSERT_EQ(stored.size(), 1u);
  const auto parsed = ParsePendingNotification(stored[0].data.data(), stored[0].data.size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(std::make_pair(parsed->kind, parsed->dataId), std::make_pair(29u, 144u));
}

TEST_F(CoreNotificationTest, OtpUnknownStatusSendsMinusOneWithStoredOtp) {
  const test_support::ScratchFolder scratch("agotp-");
  const std::string& base = scratch.path();
  const std::string previousRoot = platform::MachineRoot();
  platform::SetMachineRoot(base + "/machine/");
  const std::string product = base + "/product/";
  std::filesystem::create_directories(product);
  {
    platform::RegistryKey key;
    ASSERT_EQ(key.CreateKey(platform::RegistryHive::kLocalMachine,
                            u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\avscan.exe"),
              0u);
    ASSERT_EQ(key.WriteString(u"Path", *platform::Utf8ToUtf16(product)), 0u);
  }
  std::ofstream(product + "dcotp.ini") << "OTP 0123456789=";
  GetCoreState().rpClient.Exchange(&env.rpClient);
  EXPECT_CALL(env.rpClient, SendNotification(29, 144, ::testing::HasSubstr("\"otp\":\"0123456789\",\"scd\":-1"), _))
      .WillOnce(Return(1));
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_OTP_STATUS, 99), 1);
  // The log shows the payload with the OTP masked, never the OTP itself.
  EXPECT_TRUE(env.log.Contains("\"otp\":\"01****89\""));
  EXPECT_FALSE(env.log.Contains("0123456789"));
  platform::SetMachineRoot(previousRoot);
}
