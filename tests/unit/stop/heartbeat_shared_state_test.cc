// What the heartbeat thread shares with other threads and with its next
// start: the RP client object other threads borrow while the thread replaces
// it, and the reduced-heartbeat counter kept in the store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/agcore/core_state.h"
#include "core/rpclcore/core_notification.h"
#include "core/rpclcore/heartbeat_cycle.h"
#include "core/rpclcore/heartbeat_state.h"
#include "core/rpclcore/heartbeat_thread.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "tests/unit/heartbeat/gate_clock.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

struct CounterCase {
  uint32_t stored;    // store id 66 before the step
  uint32_t maxCount;  // the support library's maximum
  uint32_t expected;  // store id 66 after the step
};

class ReducedHeartbeatCounterTest : public ::testing::TestWithParam<CounterCase> {};

// The first heartbeat after a restart, while the download locations are
// still awaited: the maximum must be known before the counter is stepped.
TEST_P(ReducedHeartbeatCounterTest, FirstStepAfterARestartWrapsAtTheMaximum) {
  HeartbeatEnv env;
  env.support.SetRegStatusValue(kRegisteredStatus, false);
  env.support.SetReducedHb(GetParam().maxCount, 5);
  const uint32_t stored = GetParam().stored;
  ASSERT_TRUE(SetClientBlobData(DB_ID_REDUCED_HB_COUNTER, sizeof(stored), &stored));
  HeartbeatState state;
  state.regStatus = kRegisteredStatus;
  state.throttling = true;
  state.timers.timeoutCSHeartbeat = true;
  RpHeartbeatStep(&env.rpClient, &env.respGen, &state);
  uint32_t counter = 0;
  ASSERT_TRUE(GetClientBlobData(DB_ID_REDUCED_HB_COUNTER, sizeof(counter), &counter));
  EXPECT_EQ(counter, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Counters, ReducedHeartbeatCounterTest,
                         ::testing::Values(CounterCase{1, 3, 2}, CounterCase{2, 3, 3}, CounterCase{3, 3, 1},
                                           // Left above a lowered maximum by an earlier run.
                                           CounterCase{5, 3, 1}, CounterCase{3, 2, 1}));

// Event 33 sends on the shared object while the heartbeat thread replaces it
// after a reactivation. Run under the thread sanitizer this also checks that
// the slot is never read and written unsynchronised.
TEST(SharedRpClientTest, EventThirtyThreeNeverSendsWithAReplacedObject) {
  HeartbeatEnv env;
  GateClock clock;
  platform::ScopedClock clockScope(&clock);
  env.WriteTenantJson();
  RpResetPassiveNotificationRegistry();
  ::testing::NiceMock<MockRpClient> rebuilt;
  std::atomic<bool> firstFreed{false};
  std::atomic<int> sendsAfterFree{0};
  ON_CALL(env.rpClient, InitCSClient(_)).WillByDefault(Return(1));
  ON_CALL(rebuilt, InitCSClient(_)).WillByDefault(Return(1));
  ON_CALL(env.rpClient, SendNotification(_, _, _, _)).WillByDefault(Invoke([&](uint32_t, uint32_t, const char*,
                                                                                 ServerResponse**) {
    if (firstFreed) ++sendsAfterFree;
    return uint8_t{1};
  }));
  ON_CALL(env.transport, FreeRPClientObject(_, _)).WillByDefault(Invoke([&](IRPClient* client, uint32_t*) {
    if (client == &env.rpClient) firstFreed = true;
    return uint8_t{1};
  }));
  struct CsClient : ICSClient {} csClient;
  ON_CALL(env.transport, CreateCSClientObject(_, _))
      .WillByDefault(::testing::DoAll(::testing::SetArgPointee<0>(&csClient), Return(1)));
  ON_CALL(env.transport, CreateRPClientObject(_, _, _, _))
      .WillByDefault(::testing::DoAll(::testing::SetArgPointee<1>(&rebuilt), Return(1)));

  GetCoreState().rpClient.Exchange(&env.rpClient);
  ASSERT_TRUE(StartClientHeartBeatThread(&env.rpClient));
  // Wait 1: the first pass. Wait 2: the thread rests, registered for passive
  // notifications.
  ASSERT_TRUE(clock.AwaitWaits(2));
  std::thread sender([&rebuilt] {
    // Bounded, so that a thread that never replaces the object fails the test.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (GetCoreState().rpClient.Peek() != &rebuilt && std::chrono::steady_clock::now() < limit) {
      NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_OTP_STATUS, 13);
    }
  });
  const uint32_t reactivate = CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT;
  ASSERT_TRUE(RpUpdatePassiveNotificationForAllThreads(&reactivate, false));
  ASSERT_TRUE(SetServerForceSyncEvent());
  sender.join();
  EXPECT_EQ(GetCoreState().rpClient.Peek(), &rebuilt);
  EXPECT_TRUE(StopClientHeartBeatThread(&rebuilt));
  StopRpTaskPerformerThreadPool();
  GetCoreState().rpClient.Exchange(nullptr);
  EXPECT_TRUE(firstFreed);
  EXPECT_EQ(sendsAfterFree.load(), 0);
}

}  // namespace
