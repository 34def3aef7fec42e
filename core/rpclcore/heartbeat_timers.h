// The countdown timers of the heartbeat thread and the arithmetic that picks
// the next wait.
//
// Every count is in minutes. Each loop iteration reloads the expired timers
// (Reload), takes the smallest due count as the wait, marks the timers that
// reach zero with it as expired and subtracts the wait from the others
// (ComputeWait). A force sync restarts every timer from its full interval
// (ForceSync). The relay timers only take part when the tenant is on-premises.
//
// Pure data: no logging of its own beyond the expiry lines, no clock, no
// store. Owned and used by the heartbeat thread alone.
#pragma once

#include <cstdint>

#include "core/rpclcore/heartbeat_cycle.h"

inline constexpr uint32_t kInitialRegistrationIntervalMinutes = 3;
inline constexpr uint32_t kBackOffRegistrationIntervalMinutes = 360;
inline constexpr RelayIntervals kDefaultRelayIntervals{15, 1440, 15};

struct HeartbeatTimers {
  // Reload values.
  uint32_t heartbeatInterval = 0;
  uint32_t registrationInterval = kInitialRegistrationIntervalMinutes;
  RelayIntervals relay = kDefaultRelayIntervals;
  bool onPrem = false;

  // Counts of the current iteration.
  uint32_t waitCSHeartbeat = 0;
  uint32_t waitCSRegistration = 0;
  uint32_t waitRPHeartbeat = 0;
  uint32_t waitRPConfig = 0;
  uint32_t waitRPRegistration = 0;
  int32_t getAvDwnldURLWait = 0;
  // Server-registration count carried from the previous iteration; 0 makes
  // the next iteration start a full registration interval.
  uint32_t carriedCSRegistration = 0;
  bool firstPass = true;

  // Expiry marks of the current wake-up.
  bool timeoutCSHeartbeat = false;
  bool timeoutCSRegistration = false;
  bool timeoutRPHeartbeat = false;
  bool timeoutRPConfig = false;
  bool timeoutRPRegistration = false;

  // Reloads expired timers. Returns true on the first pass (the caller then
  // reads the throttling flag).
  bool Reload();
  // Picks the wait in minutes, marks the timers that expire with it and
  // counts the others down. The download-URL wait only counts down while
  // the protection product is missing.
  uint32_t ComputeWait(bool avInstalled);
  // A forced server sync: the cycle runs now and every timer starts over.
  void ForceSync();
  // Keeps the registration count for the next iteration.
  void CarryRegistration() { carriedCSRegistration = waitCSRegistration; }
  // A client-unregister notification opens a new registration window now.
  void RestartRegistration();

  // The counts set for the current wait, restored when a cycle is abandoned
  // part-way through.
  struct Snapshot {
    uint32_t waitCSHeartbeat;
    uint32_t waitCSRegistration;
    uint32_t waitRPConfig;
  };
  Snapshot TakeSnapshot() const { return {waitCSHeartbeat, waitCSRegistration, waitRPConfig}; }
  void Restore(const Snapshot& snapshot);
};

// Minutes to the wait length of the platform clock, kept below an infinite wait.
uint32_t WaitMinutesToMs(uint32_t minutes);
