// The heartbeat thread acting on the passive bits other threads post: bit 1
// (unregistered: registration starts over), bit 2 (a new heartbeat interval)
// and bit 4 (reactivated: a new RP client object, see SharedRpClientTest).
#include <gtest/gtest.h>

#include "core/rpclcore/heartbeat_state.h"
#include "core/rpclcore/heartbeat_thread.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "tests/unit/heartbeat/gate_clock.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::Return;

class PassiveBitsTest : public ::testing::Test {
 protected:
  PassiveBitsTest() : clockScope_(&clock_) {
    RpResetPassiveNotificationRegistry();
    env_.WriteTenantJson(R"({"tenantId":"T-1","locale":"en-US","csUrl":"cs.example.test","csAppNm":"app",
      "csSrvCl":"cl","csSrvRp":"rp","csSrvNe":"ne","csSrvPo":"po","csSrvGn":"gn","csPrtNo":443,
      "clientDefaultHeartBeatInterval":60})");
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

  HeartbeatEnv env_;
  GateClock clock_;
  platform::ScopedClock clockScope_;
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
