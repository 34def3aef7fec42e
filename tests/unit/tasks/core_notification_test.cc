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

// Without a pool or a heartbeat thread: events outside the table, a task
// that finds no queue and a signal without its thread fail the callback; the
// disconnect does not. 31 and 32 stop at the signal, before queueing.
TEST_F(CoreNotificationTest, EventsThatCannotBeServedFailTheCallback) {
  const std::pair<int32_t, uint8_t> cases[] = {{25, 0}, {34, 0}, {23, 0},
                                               {CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS, 0},
                                               {CA_NOTIFY_EVENT_ID_SERVER_DISCONNECT_CLIENT, 1},
                                               {CA_NOTIFY_EVENT_ID_SERVER_FORCE_SYNC, 0},
                                               {CA_NOTIFY_EVENT_ID_UNAUTH_DEVICE_ACCESS, 0},
                                               {CA_NOTIFY_EVENT_ID_ENCRYPTION_RECOVERY, 0}};
  for (const auto& [event, result] : cases) EXPECT_EQ(NotifyClientCoreForRpTask(event, 0), result) << event;
  EXPECT_EQ(env.log.Count("Not a valid Notify Event ID."), 3u);
  EXPECT_TRUE(env.log.Contains("Failed to append task(5) to CS task queue"));
  EXPECT_FALSE(env.log.Contains("Failed to append task(7)"));
}

TEST_F(CoreNotificationTest, PolicyEventQueuesOneTaskFive) {
  Gate gate;
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  // Keep both performers busy so the queued entries can be inspected.
  EXPECT_CALL(env.preinst, AGPreInstUninstall()).Times(2).WillRepeatedly(Invoke([&] {
    gate.Wait();
    return uint8_t{0};
  }));
  ASSERT_TRUE(AddTaskInQ(GetRpTaskQueue(), 0, CS_CLIENT_TASKQ_UNINSTALL_CLIENT_SILENTLY));
  ASSERT_TRUE(AddTaskInQ(GetRpTaskQueue(), 1, CS_CLIENT_TASKQ_UNINSTALL_CLIENT_SILENTLY));
  gate.WaitForWaiting(2);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS, 0), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS, 0), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_SERVER_DISCONNECT_CLIENT, 0), 1);
  EXPECT_EQ(GetRpTaskQueue()->count(), 2u);
  EXPECT_CALL(env.rpClient, SendNotification(_, _, _, _)).WillRepeatedly(Return(1));
  gate.Open();
  WaitUntilIdle();
  EXPECT_TRUE(env.log.Contains("CS TASK: FetchAndApplyPolicy"));
  EXPECT_TRUE(env.log.Contains(" Action ID : 30"));
}

TEST_F(CoreNotificationTest, PassiveEventsPostBitsToRegisteredThreads) {
  ASSERT_TRUE(RpRegisterThreadForPassiveNotification(nullptr));
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_CLIENT_UNREGISTER, 0), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_HEARTBEAT_INTERVAL_CHANGED, 0), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_REACTIVATE_CLIENT, 0), 1);
  uint32_t bits = 0;
  ASSERT_TRUE(RpGetThreadPassiveNotification(&bits));
  EXPECT_EQ(bits, 7u);
  EXPECT_TRUE(env.log.Contains("CA_NOTIFY_EVENT_ID_REACTIVATE_CLIENT triggered"));
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
  EXPECT_TRUE(env.log.Contains("Sending OTP notification failed so addinng in pending queue."));
  const auto stored = env.support.PendingInList(15);
  ASSERT_EQ(stored.size(), 1u);
  const auto parsed = ParsePendingNotification(stored[0].data.data(), stored[0].data.size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->kind, 29u);
  EXPECT_EQ(parsed->dataId, 144u);
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
