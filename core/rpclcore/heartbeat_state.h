// What the heartbeat thread carries from one cycle to the next: its timers,
// the registration-attempt count, the throttling of download-location
// requests, and the flags one step of a cycle leaves for a later step.
//
// One instance lives on the heartbeat thread's stack; the registration step,
// the heartbeat step and the follow-up work receive it by pointer. No other
// thread touches it, so it has no lock.
#pragma once

#include <cstdint>
#include <string>

#include "core/rpclcore/heartbeat_timers.h"

inline constexpr uint32_t kRegisteredStatus = 3;
// Store ids of the throttling of the download-location requests.
inline constexpr uint32_t DB_ID_REDUCED_HB_COUNTER_AT_MAX = 65;
inline constexpr uint32_t DB_ID_REDUCED_HB_COUNTER = 66;
inline constexpr uint32_t DB_ID_SAVED_HEARTBEAT_INTERVAL = 67;
inline constexpr uint32_t DB_ID_THROTTLING = 68;

struct HeartbeatState {
  HeartbeatTimers timers;
  // Counts set for the current wait (see HeartbeatTimers::Restore).
  HeartbeatTimers::Snapshot waitSnapshot{};
  // The interval UpdateHeartbeatInterval gave last; saved as the normal
  // interval when a change arrives while a reduced one is in force.
  uint32_t lastReadInterval = 0;
  uint32_t regAttempts = 0;
  // Server registration status as the cycle last read or set it.
  uint32_t regStatus = 0;

  bool reducedHeartbeat = false;  // a reduced interval is in force
  bool throttling = false;        // bIsThrottling
  uint32_t reducedHBMaxCount = 0; // iGetURLReducedClientHBMaxCount
  bool consentToggle = false;

  // Set by the heartbeat step, read by the follow-up work of the same cycle.
  bool remoteUninstallReceived = false;  // bIsRemoteUninstallReceived
  bool command1Received = false;
  // Acknowledgement JSON of the command being processed (command 12 fills it).
  std::string ackJson;
};
