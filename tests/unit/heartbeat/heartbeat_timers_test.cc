// The countdown arithmetic of the heartbeat loop.
#include "core/rpclcore/heartbeat_timers.h"

#include <gtest/gtest.h>

namespace {

HeartbeatTimers MakeTimers(uint32_t heartbeat, bool onPrem = false) {
  HeartbeatTimers timers;
  timers.heartbeatInterval = heartbeat;
  timers.onPrem = onPrem;
  timers.relay = RelayIntervals{7, 1440, 11};
  return timers;
}

// One loop iteration up to the wait: reload, compute, carry.
uint32_t Iterate(HeartbeatTimers* timers, bool avInstalled = true) {
  timers->Reload();
  const uint32_t wait = timers->ComputeWait(avInstalled);
  timers->CarryRegistration();
  return wait;
}

TEST(HeartbeatTimers, FirstPassIsDueAtOnceForHeartbeatAndRegistration) {
  HeartbeatTimers timers = MakeTimers(60);
  EXPECT_TRUE(timers.Reload());
  EXPECT_EQ(timers.ComputeWait(true), 0u);
  EXPECT_TRUE(timers.timeoutCSHeartbeat);
  EXPECT_TRUE(timers.timeoutCSRegistration);
  EXPECT_FALSE(timers.Reload());  // only once
}

TEST(HeartbeatTimers, RegistrationRemainderIsCarriedAcrossHeartbeats) {
  HeartbeatTimers timers = MakeTimers(2);
  timers.registrationInterval = 5;
  EXPECT_EQ(Iterate(&timers), 0u);
  // heartbeat 2, registration 5: the heartbeat ends the wait, 3 minutes of
  // registration are carried.
  EXPECT_EQ(Iterate(&timers), 2u);
  EXPECT_TRUE(timers.timeoutCSHeartbeat);
  EXPECT_FALSE(timers.timeoutCSRegistration);
  EXPECT_EQ(timers.waitCSRegistration, 3u);
  EXPECT_EQ(Iterate(&timers), 2u);
  EXPECT_EQ(timers.waitCSRegistration, 1u);
  EXPECT_EQ(Iterate(&timers), 1u);
  EXPECT_TRUE(timers.timeoutCSRegistration);
  EXPECT_FALSE(timers.timeoutCSHeartbeat);
  EXPECT_EQ(timers.waitCSHeartbeat, 1u);
  // Expired registration restarts from its full interval.
  EXPECT_EQ(Iterate(&timers), 1u);
  EXPECT_EQ(timers.waitCSRegistration, 4u);
}

TEST(HeartbeatTimers, ForceSyncRunsTheCycleNowAndTheNextHeartbeatOneFullIntervalLater) {
  HeartbeatTimers timers = MakeTimers(60);
  timers.registrationInterval = 360;
  Iterate(&timers);
  // Twenty of sixty minutes have passed when the force sync arrives.
  timers.Reload();
  EXPECT_EQ(timers.ComputeWait(true), 60u);
  timers.waitCSHeartbeat = 40;
  timers.ForceSync();
  EXPECT_TRUE(timers.timeoutRPHeartbeat) << "the cycle must send a heartbeat now";
  timers.CarryRegistration();
  EXPECT_EQ(Iterate(&timers), 60u);
  EXPECT_TRUE(timers.timeoutCSHeartbeat);
}

TEST(HeartbeatTimers, RelayMinimumReplacesServerMinimumWithTheOnPremisesFlag) {
  HeartbeatTimers timers = MakeTimers(60, true);
  timers.registrationInterval = 360;
  Iterate(&timers);
  EXPECT_EQ(Iterate(&timers), 7u);  // RpHb
  EXPECT_TRUE(timers.timeoutRPHeartbeat);
  EXPECT_FALSE(timers.timeoutCSHeartbeat);
  EXPECT_EQ(timers.waitCSHeartbeat, 53u);
  EXPECT_EQ(timers.waitRPRegistration, 4u);
  EXPECT_EQ(Iterate(&timers), 4u);  // RpReg remainder
  EXPECT_TRUE(timers.timeoutRPRegistration);
}

TEST(HeartbeatTimers, ZeroIntervalsNeverMakeABusyLoop) {
  HeartbeatTimers timers = MakeTimers(0, true);
  timers.relay = RelayIntervals{0, 0, 0};
  Iterate(&timers);
  EXPECT_GE(Iterate(&timers), 1u);
}

}  // namespace
