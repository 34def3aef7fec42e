// Start, stop and the first passes of the heartbeat thread, and the thread
// acting on the passive bits other threads post: bit 1 (unregistered:
// registration starts over), bit 2 (a new heartbeat interval); bit 4
// (reactivated: a new RP client object) is in SharedRpClientTest.
#include "core/rpclcore/heartbeat_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/rpclcore/heartbeat_state.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "tests/unit/heartbeat/gate_clock.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgPointee;

class HeartbeatThreadTest : public ::testing::Test {
 protected:
  HeartbeatThreadTest() : clockScope_(&clock_) {
    env_.WriteTenantJson();
    ON_CALL(env_.rpClient, SetClientData(_, _, _, _))
        .WillByDefault(Invoke([this](const ClientDataRecord*, uint32_t dataId, ServerResponse** out, uint8_t) {
          *out = dataId == 118 ? &heartbeat_.response : nullptr;
          return uint8_t{1};
        }));
  }
  ~HeartbeatThreadTest() override {
    StopClientHeartBeatThread(&env_.rpClient);
    StopRpTaskPerformerThreadPool();
    RpResetPassiveNotificationRegistry();
  }

  HeartbeatEnv env_;
  GateClock clock_;
  platform::ScopedClock clockScope_;
  TestServerResponse heartbeat_{true};
};

// Started twice, one thread; stopped during its initialisation retry, it ends
// within that wait; stopped twice, both stops succeed.
TEST_F(HeartbeatThreadTest, StopDuringTheInitialisationRetryEndsTheOneThreadWithinThatWait) {
  // InitCSClient fails: the thread retries every five minutes.
  ASSERT_TRUE(StartClientHeartBeatThread(&env_.rpClient));
  EXPECT_TRUE(StartClientHeartBeatThread(&env_.rpClient));
  ASSERT_TRUE(clock_.AwaitWaits(1));
  EXPECT_EQ(clock_.Waits(), std::vector<uint32_t>{kRpInitRetryMs}) << "one thread";
  EXPECT_TRUE(StopClientHeartBeatThread(&env_.rpClient));
  EXPECT_FALSE(IsHeartbeatThreadRunning());
  EXPECT_FALSE(SetServerForceSyncEvent());
  EXPECT_TRUE(StopClientHeartBeatThread(&env_.rpClient));
}

// A stop while the skip step acknowledges a flood of repeats ends the step
// at the next command: nothing more is acknowledged or carried out, and the
// thread leaves without working through the rest of the answer.
TEST_F(HeartbeatThreadTest, StopDuringTheSkipStepEndsItAtTheNextCommand) {
  TestCommandList commands;
  for (int i = 0; i < 10; ++i) commands.Add("12", "g" + std::to_string(i));
  heartbeat_.response.pCommands = const_cast<ServerCommandEntry*>(commands.Entries());
  heartbeat_.response.dwCommandCount = commands.Count();
  TestServerResponse registration{true};
  ON_CALL(env_.rpClient, InitCSClient(_)).WillByDefault(Return(1));
  EXPECT_CALL(env_.rpClient, Register(_, _)).WillOnce(DoAll(SetArgPointee<1>(&registration.response), Return(1)));
  std::atomic<int> skipAcks{0};
  ON_CALL(env_.rpClient, SendCommandAck(_, _)).WillByDefault(Invoke([&](const CmdAck*, ServerResponse** out) {
    *out = nullptr;
    ++skipAcks;
    // The stop arrives while this acknowledgement is on its way.
    while (!HeartbeatStopRequested()) std::this_thread::yield();
    return uint8_t{1};
  }));
  ASSERT_TRUE(StartClientHeartBeatThread(&env_.rpClient));
  while (skipAcks == 0) std::this_thread::yield();
  EXPECT_TRUE(StopClientHeartBeatThread(&env_.rpClient));
  EXPECT_EQ(skipAcks.load(), 1);
  EXPECT_TRUE(env_.Processed().empty());
  heartbeat_.response.pCommands = nullptr;
  heartbeat_.response.dwCommandCount = 0;
}

class PassiveBitsTest : public HeartbeatThreadTest {
 protected:
  PassiveBitsTest() {
    RpResetPassiveNotificationRegistry();
    env_.support.SetRegStatusValue(kRegisteredStatus, false);
    ON_CALL(env_.rpClient, InitCSClient(_)).WillByDefault(Return(1));
  }

  // Posts `bits` (none: 0) and wakes the thread; returns once it rests again.
  void PostAndWake(uint32_t bits) {
    const size_t waits = clock_.Waits().size();
    if (bits != 0) {
      ASSERT_TRUE(RpUpdatePassiveNotificationForAllThreads(&bits, false));
    }
    ASSERT_TRUE(SetServerForceSyncEvent());
    ASSERT_TRUE(clock_.AwaitWaits(waits + 1));
  }
};

// Bit 1 starts the registration attempts over; bit 2's new interval counts
// from the next heartbeat on: the rest after the heartbeat the next wake brings.
TEST_F(PassiveBitsTest, UnregisteredStartsRegistrationOverAndANewIntervalSetsTheNextRest) {
  env_.support.PutValue<uint32_t>(DB_ID_CLIENT_REG_ATTEMPT, 5);
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_REG_START_DATE, 1'600'000'000);
  ASSERT_TRUE(StartClientHeartBeatThread(&env_.rpClient));
  ASSERT_TRUE(clock_.AwaitWaits(2));
  PostAndWake(CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER);
  EXPECT_EQ(env_.support.Value<uint32_t>(DB_ID_CLIENT_REG_ATTEMPT), 0u);
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_REG_START_DATE), 0u);

  const uint32_t minutes = 1;  // shorter than every other timer
  env_.support.PutValue(DB_ID_CLIENT_HEARTBEAT_INTERVAL, minutes);
  PostAndWake(CA_THREAD_PASSIVE_NOTIFICATION_HEARTBEAT_INTERVAL_CHANGED);
  PostAndWake(0);
  EXPECT_EQ(clock_.Waits().back(), minutes * 60'000u) << ::testing::PrintToString(clock_.Waits());
}

}  // namespace
