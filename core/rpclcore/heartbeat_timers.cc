#include "core/rpclcore/heartbeat_timers.h"

#include <algorithm>

#include "core/common/aglog.h"

namespace {

constexpr uint32_t kMsPerMinute = 60000;
// These lines belong to the loop of the heartbeat thread.
constexpr const char* kThreadRoutine = "RpClientHeartbeatThread";

// Marks the timer expired when it is the one the wait ends, else counts it down.
bool Expire(uint32_t* count, uint32_t wait, const char* line) {
  if (*count == wait) {
    AGLOG_AS(kThreadRoutine, AG_LOG_PROGRESS, "%s", line);
    *count = 0;
    return true;
  }
  *count -= wait;
  return false;
}

// An interval of 0 from the store or the server would turn the loop into a
// busy one; such a timer reloads with one minute instead.
uint32_t AtLeastOneMinute(uint32_t minutes) { return minutes == 0 ? 1 : minutes; }

}  // namespace

bool HeartbeatTimers::Reload() {
  if (waitRPConfig == 0) waitRPConfig = AtLeastOneMinute(relay.rpFcfg);
  if (firstPass) {
    firstPass = false;
    waitCSHeartbeat = 0;
    waitCSRegistration = 0;
    getAvDwnldURLWait = 0;
    waitRPHeartbeat = AtLeastOneMinute(relay.rpHb);
    waitRPRegistration = AtLeastOneMinute(relay.rpReg);
    waitRPConfig = AtLeastOneMinute(relay.rpFcfg);
    return true;
  }
  if (waitCSHeartbeat == 0) waitCSHeartbeat = AtLeastOneMinute(heartbeatInterval);
  waitCSRegistration = carriedCSRegistration != 0 ? carriedCSRegistration : AtLeastOneMinute(registrationInterval);
  if (onPrem) {
    if (waitRPHeartbeat == 0) waitRPHeartbeat = AtLeastOneMinute(relay.rpHb);
    if (waitRPRegistration == 0) waitRPRegistration = AtLeastOneMinute(relay.rpReg);
  }
  return false;
}

uint32_t HeartbeatTimers::ComputeWait(bool avInstalled) {
  uint32_t wait = std::min(waitCSHeartbeat, waitCSRegistration);
  if (onPrem) {
    const uint32_t relayWait = std::min({waitRPHeartbeat, waitRPConfig, waitRPRegistration});
    if (relayWait <= wait) wait = relayWait;
  }

  timeoutCSHeartbeat = Expire(&waitCSHeartbeat, wait, "bTimeoutForCSHeartbeat : true");
  timeoutCSRegistration = Expire(&waitCSRegistration, wait, "bTimeoutForCSRegistration : true");
  timeoutRPHeartbeat = false;
  timeoutRPConfig = false;
  timeoutRPRegistration = false;
  if (onPrem) {
    timeoutRPHeartbeat = Expire(&waitRPHeartbeat, wait, "bTimeoutForRPHeartbeat : true");
    timeoutRPConfig = Expire(&waitRPConfig, wait, "bTimeoutForRPConfigInt : true");
    timeoutRPRegistration = Expire(&waitRPRegistration, wait, "bTimeoutForRPRegistration : true");
  }
  if (!avInstalled) {
    getAvDwnldURLWait -= static_cast<int32_t>(std::min<uint32_t>(wait, INT32_MAX));
    AGLOG_AS(kThreadRoutine, AG_LOG_PASSED_OVER, "dwWaitCSHeartbeat (%d)", static_cast<int>(waitCSHeartbeat));
    AGLOG_AS(kThreadRoutine, AG_LOG_PASSED_OVER, "iGetAvDwnldURLWait (%d)", static_cast<int>(getAvDwnldURLWait));
  }
  return wait;
}

void HeartbeatTimers::ForceSync() {
  waitCSHeartbeat = heartbeatInterval;
  waitCSRegistration = registrationInterval;
  waitRPHeartbeat = relay.rpHb;
  waitRPConfig = relay.rpFcfg;
  waitRPRegistration = relay.rpReg;
  AGLOG_AS(kThreadRoutine, AG_LOG_PROGRESS, "dwWaitCSHeartbeat (%d)", static_cast<int>(waitCSHeartbeat));
  AGLOG_AS(kThreadRoutine, AG_LOG_PROGRESS, "dwWaitCSRegistration (%d)", static_cast<int>(waitCSRegistration));
  timeoutRPHeartbeat = true;
}

void HeartbeatTimers::RestartRegistration() {
  registrationInterval = kInitialRegistrationIntervalMinutes;
  waitCSRegistration = registrationInterval;
  carriedCSRegistration = 0;
}

void HeartbeatTimers::Restore(const Snapshot& snapshot) {
  waitCSHeartbeat = snapshot.waitCSHeartbeat;
  waitCSRegistration = snapshot.waitCSRegistration;
  waitRPConfig = snapshot.waitRPConfig;
}

uint32_t WaitMinutesToMs(uint32_t minutes) {
  constexpr uint32_t kMaxMinutes = (0xFFFFFFFEu) / kMsPerMinute;
  return std::min(minutes, kMaxMinutes) * kMsPerMinute;
}
