// Start, stop and the first passes of the heartbeat thread, and the thread
// acting on the passive bits other threads post: bit 1 (unregistered:
// registration starts over), bit 2 (a new heartbeat interval); bit 4
// (reactivated: a new RP client object) is in SharedRpClientTest.
#include "core/rpclcore/heartbeat_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
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
          *out = nullptr;
          if (dataId == 118) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++heartbeats_;
            *out = &heartbeat_.response;
          }
          return uint8_t{1};
        }));
  }
  ~HeartbeatThreadTest() override {
    StopClientHeartBeatThread(&env_.rpClient);
    StopRpTaskPerformerThreadPool();
  }
  int Heartbeats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return heartbeats_;
  }

  HeartbeatEnv env_;
  GateClock clock_;
  platform::ScopedClock clockScope_;
  TestServerResponse heartbeat_{true};
  TestServerResponse registration_{true};
  std::mutex mutex_;
  int heartbeats_ = 0;
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

TEST_F(HeartbeatThreadTest, FirstPassRegistersAndSendsTheHeartbeatAtOnceAndForceSyncSendsAnother) {
  ON_CALL(env_.rpClient, InitCSClient(_)).WillByDefault(Return(1));
  EXPECT_CALL(env_.rpClient, Register(_, _)).WillOnce(DoAll(SetArgPointee<1>(&registration_.response), Return(1)));
  ASSERT_TRUE(StartClientHeartBeatThread(&env_.rpClient));
  // Wait 1: the first pass (0 ms). Wait 2: the next registration round.
  ASSERT_TRUE(clock_.AwaitWaits(2));
  EXPECT_EQ(clock_.Waits()[0], 0u);
  EXPECT_EQ(clock_.Waits()[1], 3u * 60000u);
  EXPECT_EQ(Heartbeats(), 1);
  EXPECT_EQ(env_.support.RegStatusValue(false), 3u);

  ASSERT_TRUE(SetServerForceSyncEvent());
  ASSERT_TRUE(clock_.AwaitWaits(3));
  EXPECT_EQ(Heartbeats(), 2);
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
  ON_CALL(env_.rpClient, InitCSClient(_)).WillByDefault(Return(1));
  EXPECT_CALL(env_.rpClient, Register(_, _)).WillOnce(DoAll(SetArgPointee<1>(&registration_.response), Return(1)));
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
  ~PassiveBitsTest() override {
    StopClientHeartBeatThread(&env_.rpClient);
    StopRpTaskPerformerThreadPool();
    RpResetPassiveNotificationRegistry();
  }

  // The thread after its first pass, resting.
  void StartAndLetRest() {
    ASSERT_TRUE(StartClientHeartBeatThread(&env_.rpClient));
    ASSERT_TRUE(clock_.AwaitWaits(2));
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
  template <typename T>
  T Stored(uint32_t id) {
    T value{};
    EXPECT_TRUE(GetClientBlobData(id, sizeof(value), &value));
    return value;
  }
};

TEST_F(PassiveBitsTest, UnregisteredClientStartsItsRegistrationAttemptsOver) {
  const uint32_t attempts = 5;
  const uint64_t started = 1'600'000'000;
  ASSERT_TRUE(SetClientBlobData(DB_ID_CLIENT_REG_ATTEMPT, sizeof(attempts), &attempts));
  ASSERT_TRUE(SetClientBlobData(DB_ID_CLIENT_REG_START_DATE, sizeof(started), &started));
  StartAndLetRest();
  PostAndWake(CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER);
  EXPECT_EQ(Stored<uint32_t>(DB_ID_CLIENT_REG_ATTEMPT), 0u);
  EXPECT_EQ(Stored<uint64_t>(DB_ID_CLIENT_REG_START_DATE), 0u);
}

// The new interval counts from the next heartbeat on: the rest after the
// heartbeat the next wake brings.
TEST_F(PassiveBitsTest, NewIntervalSetsTheRestAfterTheNextHeartbeat) {
  StartAndLetRest();
  const uint32_t minutes = 1;  // shorter than every other timer
  ASSERT_TRUE(SetClientBlobData(DB_ID_CLIENT_HEARTBEAT_INTERVAL, sizeof(minutes), &minutes));
  PostAndWake(CA_THREAD_PASSIVE_NOTIFICATION_HEARTBEAT_INTERVAL_CHANGED);
  PostAndWake(0);
  EXPECT_EQ(clock_.Waits().back(), minutes * 60'000u) << ::testing::PrintToString(clock_.Waits());
}

}  // namespace
