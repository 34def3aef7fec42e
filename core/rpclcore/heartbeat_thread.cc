#include "core/rpclcore/heartbeat_thread.h"

#include <atomic>
#include <mutex>
#include <new>

#include "core/agcore/core_state.h"
#include "core/casupp/install_status.h"
#include "core/casupp/product_notifications.h"
#include "core/common/aglog.h"
#include "core/rpclcore/connection.h"
#include "core/rpclcore/core_notification.h"
#include "core/rpclcore/heartbeat_cycle.h"
#include "core/rpclcore/heartbeat_followup.h"
#include "core/rpclcore/heartbeat_state.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/registration.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {

// Windows' WAIT_TIMEOUT, the value the time-out line has always shown.
constexpr unsigned long kWaitTimeoutCode = 258;

struct HeartbeatControl {
  // The heartbeat lock: serialises start and stop, held across the join.
  std::mutex heartbeatLock;
  // Guards the members below for short reads and writes only, so that the
  // thread's own clean-up and SetServerForceSyncEvent never wait for a join.
  std::mutex handlesLock;
  std::unique_ptr<platform::Thread> thread;
  std::shared_ptr<std::atomic<bool>> threadEnded;
  std::shared_ptr<platform::Event> stopEvent;
  std::shared_ptr<platform::Event> settingsChangeEvent;
  std::shared_ptr<platform::Event> forceSyncEvent;
  bool running = false;
};

HeartbeatControl& Control() {
  static HeartbeatControl control;
  return control;
}

void SetRunning(bool running) {
  std::lock_guard<std::mutex> lock(Control().handlesLock);
  Control().running = running;
}

void ResetEventsLocked(HeartbeatControl& control) {
  control.stopEvent.reset();
  control.settingsChangeEvent.reset();
  control.forceSyncEvent.reset();
}

// True when the stop event fired within `ms`.
bool WaitForStop(platform::Event* stopEvent, uint32_t ms) {
  platform::Waitable* handles[] = {stopEvent};
  return platform::GetClock().WaitAny(handles, ms) == 0;
}

// A re-initialisation replaces the RP client object. The old one leaves the
// shared slot before it is destroyed (waiting for any other thread still
// using it), and the new one takes its place, so that clean-up releases the
// current object and no other thread ever reaches a freed one.
bool ReInitialiseSharedRpClient(IRPClient** rpClient) {
  RpClientSlot& slot = GetCoreState().rpClient;
  const bool shared = slot.Withdraw(*rpClient);
  const bool reinitialised = ReInitialiseCommunicationObjects(rpClient);
  if (shared) slot.Exchange(*rpClient);
  return reinitialised;
}

// Posts bits this thread took but did not act on back to itself.
void KeepPassiveBits(uint32_t bits) {
  if (bits != 0) RpUpdateThreadPassiveNotification(&bits, false);
}

// Releases the cycle's response generator on every path that ends a cycle.
class CycleResponseGen {
 public:
  CycleResponseGen() = default;
  ~CycleResponseGen() {
    if (respGen_ == nullptr) return;
    if (initialised_) respGen_->Deinit();
    Siblings().resp->DeleteCAResponseGenObj(respGen_);
  }
  CycleResponseGen(const CycleResponseGen&) = delete;
  CycleResponseGen& operator=(const CycleResponseGen&) = delete;

  bool Create(const char* routine) {
    if (!Siblings().resp->CreateCAResponseGenObjNew(&respGen_, NotifyClientCoreForRpTask) || respGen_ == nullptr) {
      respGen_ = nullptr;
      AGLOG_AS(routine, AG_LOG_FAILURE, "CreateCAResponseGenObjNew failed");
      return false;
    }
    if (!respGen_->Init()) {
      AGLOG_AS(routine, AG_LOG_FAILURE, "RespGen init failed");
      return false;
    }
    initialised_ = true;
    return true;
  }
  ICAResponseGen* get() const { return respGen_; }

 private:
  ICAResponseGen* respGen_ = nullptr;
  bool initialised_ = false;
};

enum class CycleEnd { kContinue, kAbandon, kUninstalled };

CycleEnd RunHeartbeatCycle(IRPClient* rpClient, HeartbeatState* state) {
  CycleResponseGen respGen;
  if (!respGen.Create("RpClientHeartbeatThread")) return CycleEnd::kAbandon;
  try {
    const RegistrationOutcome outcome = RpRegistrationStep(rpClient, respGen.get(), state);
    if (outcome == RegistrationOutcome::kEndThread) return CycleEnd::kUninstalled;
    // Once a stop is asked for, no further exchange starts: the follow-up
    // work alone may take several transport time-outs.
    if (outcome == RegistrationOutcome::kHeartbeat && !HeartbeatStopRequested() &&
        RpHeartbeatStep(rpClient, respGen.get(), state) && state->regStatus == kRegisteredStatus &&
        !HeartbeatStopRequested()) {
      RpHeartbeatFollowUp(rpClient, respGen.get(), state);
    }
  } catch (...) {
    AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "unhandled exception");
    state->timers.Restore(state->waitSnapshot);
  }
  return CycleEnd::kContinue;
}

enum class PassiveResult { kGoOn, kRestartIteration, kStop, kEndThread };

// Acts on the notification bits other threads left for this thread.
PassiveResult HandlePassiveNotifications(IRPClient** rpClient, platform::Event* stopEvent, HeartbeatState* state) {
  constexpr uint32_t kHandled = CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER |
                                CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT |
                                CA_THREAD_PASSIVE_NOTIFICATION_HEARTBEAT_INTERVAL_CHANGED;
  uint32_t bits = 0;
  if (!RpTakeThreadPassiveNotification(kHandled, &bits)) {
    AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "RpGetThreadPassiveNotification failed");
    return PassiveResult::kGoOn;
  }
  if (bits & CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER) {
    AGLOG_AS("RpClientHeartbeatThread", AG_LOG_PROGRESS, "Passive notification: client unregister");
    state->regAttempts = 0;
    if (!SetClientBlobData(DB_ID_CLIENT_REG_ATTEMPT, sizeof(state->regAttempts), &state->regAttempts)) {
      AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "SetClientBlobData failed for DB_ID_CLIENT_REG_ATTEMPT");
    }
    const uint64_t noStartDate = 0;
    if (!SetClientBlobData(DB_ID_CLIENT_REG_START_DATE, sizeof(noStartDate), &noStartDate)) {
      AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "SetClientBlobData failed for DB_ID_CLIENT_REG_START_DATE");
    }
    state->timers.RestartRegistration();
  }
  if (bits & CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT) {
    AGLOG_AS("RpClientHeartbeatThread", AG_LOG_PROGRESS, "Passive notification: client reactivate");
    // The interval change, if any, is acted on in the next pass.
    const uint32_t later = bits & CA_THREAD_PASSIVE_NOTIFICATION_HEARTBEAT_INTERVAL_CHANGED;
    if (ReInitialiseSharedRpClient(rpClient)) {
      KeepPassiveBits(later);
      return PassiveResult::kRestartIteration;
    }
    AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "ReInitialiseCommunicationObjects() failed.");
    // Without a usable RP client object no cycle runs; the bit stays set and
    // the next attempt comes after the same pause as the initial retries.
    KeepPassiveBits(later | CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT);
    if (WaitForStop(stopEvent, kRpInitRetryMs)) {
      AGLOG_AS("RpClientHeartbeatThread", AG_LOG_PROGRESS, "Stop event fired! Breaking off from the loop...");
      return PassiveResult::kStop;
    }
    return PassiveResult::kRestartIteration;
  }
  if (bits & CA_THREAD_PASSIVE_NOTIFICATION_HEARTBEAT_INTERVAL_CHANGED) {
    AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "Client heart beat interval changed...");
    if (state->reducedHeartbeat) {
      // The new interval becomes the normal one once the reduced heartbeat ends.
      if (!SetClientBlobData(DB_ID_SAVED_HEARTBEAT_INTERVAL, sizeof(state->lastReadInterval), &state->lastReadInterval)) {
        AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "SetClientBlobData() failed for %d",
                 static_cast<int>(DB_ID_SAVED_HEARTBEAT_INTERVAL));
      }
    } else {
      if (!UpdateHeartbeatInterval(&state->lastReadInterval)) {
        AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "UpdateHeartbeatInterval failed.");
        return PassiveResult::kEndThread;
      }
      state->timers.heartbeatInterval = state->lastReadInterval;
    }
  }
  return PassiveResult::kGoOn;
}

// Sets the timers for the first pass.
void InitialiseTimers(uint32_t interval, bool onPrem, HeartbeatState* state) {
  HeartbeatTimers& timers = state->timers;
  timers.waitCSHeartbeat = 0;
  timers.heartbeatInterval = interval;
  timers.registrationInterval = kInitialRegistrationIntervalMinutes;
  timers.waitRPConfig = 0;
  timers.waitRPHeartbeat = 0;
  timers.firstPass = true;
  timers.onPrem = onPrem;
  if (onPrem) {
    RelayIntervals relay;
    if (!GetClientBlobData(DB_ID_CA_RP_CONFIG_DATA, sizeof(relay), &relay)) {
      AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "GetClientBlobData failed for DB_ID_CA_RP_CONFIG_DATA");
      relay = kDefaultRelayIntervals;
    }
    timers.relay = relay;
    AGLOG_AS("RpClientHeartbeatThread", AG_LOG_PROGRESS, "RpHb: %d, RpFcfg: %d, RpReg: %d", static_cast<int>(relay.rpHb),
             static_cast<int>(relay.rpFcfg), static_cast<int>(relay.rpReg));
  }
}

}  // namespace

uint32_t RpClientHeartbeatThread(std::unique_ptr<HeartbeatThreadParam> param) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (param == nullptr || param->stopEvent == nullptr || param->rpClient == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    param.reset();
    StopClientHeartBeatThreadFromWithinTheThread();
    return 1;
  }
  HeartbeatState state;
  uint32_t interval = 0;
  if (!UpdateHeartbeatInterval(&interval)) {
    AGLOG(AG_LOG_FAILURE, "UpdateHeartbeatInterval failed.");
    return 1;
  }
  state.lastReadInterval = interval;
  const std::shared_ptr<platform::Event> stopEvent = param->stopEvent;
  const std::shared_ptr<platform::Event> settingsChangeEvent = param->settingsChangeEvent;
  const std::shared_ptr<platform::Event> forceSyncEvent = param->forceSyncEvent;
  IRPClient* rpClient = param->rpClient;
  param.reset();
  bool onPrem = false;
  IsOnPrem(&onPrem);

  AGLOG(AG_LOG_PROGRESS, "Entering the initialization loop...");
  if (!GetClientBlobData(DB_ID_CLIENT_REG_ATTEMPT, sizeof(state.regAttempts), &state.regAttempts)) {
    AGLOG(AG_LOG_FAILURE, "GetClientBlobData failed for DB_ID_CLIENT_REG_ATTEMPT");
    state.regAttempts = 0;
  }
  while (!CreateAndInitializeRpObject(&rpClient, true)) {
    AGLOG(AG_LOG_FAILURE, "CreateAndInitializeRpObject() failed");
    if (WaitForStop(stopEvent.get(), kRpInitRetryMs)) {
      AGLOG(AG_LOG_PROGRESS, "Stop event fired. Breaking off from the loop...");
      SetRunning(false);
      return 0;
    }
  }
  AGLOG(AG_LOG_PROGRESS, "Rp initialization done.");
  AGLOG(AG_LOG_FAILURE, "Calling CheckAndSendAfterMinorRebootNotification");
  if (!CheckAndSendAfterMinorRebootNotification(rpClient)) {
    AGLOG(AG_LOG_FAILURE, "CheckAndSendAfterMinorRebootNotification failed");
  }
  // Clean-up may have closed the pool while this thread was setting up; a
  // closed pool stays stopped.
  if (!StartRpTaskPerformerThreadPool(PoolStart::kUnlessClosed)) {
    AGLOG(AG_LOG_FAILURE, "StartRpTaskPerformerThreadPool() failed.");
  }

  InitialiseTimers(interval, onPrem, &state);
  CheckImmediateAvInstallation();

  platform::Waitable* handles[] = {stopEvent.get(), settingsChangeEvent.get(), forceSyncEvent.get()};
  bool registeredForNotifications = false;
  for (;;) {
    if (!registeredForNotifications) {
      registeredForNotifications = RpRegisterThreadForPassiveNotification(rpClient);
      if (!registeredForNotifications) {
        AGLOG(AG_LOG_FAILURE, "RpRegisterThreadForPassiveNotification() failed.");
      }
    }
    if (registeredForNotifications) {
      const PassiveResult passive = HandlePassiveNotifications(&rpClient, stopEvent.get(), &state);
      if (passive == PassiveResult::kRestartIteration) continue;
      if (passive == PassiveResult::kStop) break;
      if (passive == PassiveResult::kEndThread) return 1;
    }

    if (state.timers.Reload()) {
      uint8_t throttling = 0;
      if (!GetClientBlobData(DB_ID_THROTTLING, sizeof(throttling), &throttling)) {
        AGLOG(AG_LOG_PROGRESS, "GetClientBlobData failed for %d", static_cast<int>(DB_ID_THROTTLING));
      }
      state.throttling = throttling != 0;
    }
    const uint32_t waitMinutes = state.timers.ComputeWait(Siblings().preinst->AGPreInstIsAvInstalled() != 0);
    state.waitSnapshot = state.timers.TakeSnapshot();
    const uint32_t waitMs = WaitMinutesToMs(waitMinutes);
    AGLOG(AG_LOG_VERBOSE, "Entering wait:(%ld ms)", static_cast<long>(waitMs));
    const int woken = platform::GetClock().WaitAny(handles, waitMs);
    if (woken == 0) {
      AGLOG(AG_LOG_PROGRESS, "Stop event fired! Breaking off from the loop...");
      break;
    }
    if (woken == 1) {
      AGLOG(AG_LOG_PROGRESS, "Settings change event fired!");
      // Manual reset: left set it would wake every later wait at once.
      settingsChangeEvent->ResetEvent();
      continue;
    }
    if (woken != platform::kWaitTimeout && woken != 2) {
      AGLOG(AG_LOG_FAILURE, "Invalid wait retval (%lu)! Breaking off from the loop...", static_cast<unsigned long>(woken));
      break;
    }
    AGLOG(AG_LOG_PROGRESS, "Timeout. Performing heartbeat operations. dwRet=%lu",
          woken == platform::kWaitTimeout ? kWaitTimeoutCode : static_cast<unsigned long>(woken));
    if (woken == 2) {
      AGLOG(AG_LOG_PROGRESS, "Force server sync occured");
      state.timers.ForceSync();
    }

    const CycleEnd end = RunHeartbeatCycle(rpClient, &state);
    if (end == CycleEnd::kAbandon) return 1;
    if (end == CycleEnd::kUninstalled) break;
    state.timers.CarryRegistration();
  }

  SetRunning(false);
  if (rpClient != nullptr) rpClient->DeInitializeRPClient();
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return 0;
}

bool StartClientHeartBeatThread(IRPClient* rpClient) {
  HeartbeatControl& control = Control();
  std::lock_guard<std::mutex> heartbeatLock(control.heartbeatLock);
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  {
    // The response library must be able to make generators before the
    // thread depends on one per cycle.
    CycleResponseGen probe;
    if (!probe.Create(__func__)) return false;
  }
  {
    std::lock_guard<std::mutex> lock(control.handlesLock);
    if (control.thread != nullptr) {
      if (control.running) {
        AGLOG(AG_LOG_PROGRESS, "Thread already running. Returning TRUE...");
        return true;
      }
      if (!control.threadEnded->load()) {
        AGLOG(AG_LOG_PROGRESS, "Thread is REALLY running. Returning TRUE...");
        return true;
      }
      control.thread->Join();
      control.thread.reset();
    }
    control.running = false;
  }

  std::shared_ptr<platform::Event> stopEvent = platform::Event::Create(platform::Event::Reset::kManual, false);
  if (stopEvent == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CreateEvent(heartbeat) Failed");
    return false;
  }
  std::shared_ptr<platform::Event> settingsChangeEvent = platform::Event::Create(platform::Event::Reset::kManual, false);
  if (settingsChangeEvent == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CreateEvent(heartbeat config change) Failed");
    return false;
  }
  std::shared_ptr<platform::Event> forceSyncEvent = platform::Event::Create(platform::Event::Reset::kAuto, false);
  if (forceSyncEvent == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CreateEvent(server force sync) Failed");
    return false;
  }
  auto* param = new (std::nothrow) HeartbeatThreadParam{stopEvent, settingsChangeEvent, forceSyncEvent, rpClient};
  if (param == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Thread param memory allocation failed.");
    return false;
  }

  {
    // Held while the thread starts, so that the thread's own clean-up finds
    // its handle in place.
    std::lock_guard<std::mutex> lock(control.handlesLock);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    control.thread = platform::Thread::Start([param, ended]() {
      const uint32_t result = RpClientHeartbeatThread(std::unique_ptr<HeartbeatThreadParam>(param));
      ended->store(true);
      return result;
    }, "ag-heartbeat");
    if (control.thread == nullptr) {
      AGLOG(AG_LOG_FAILURE, "_beginthreadex(heartbeat) Failed");
      delete param;
      return false;
    }
    control.threadEnded = std::move(ended);
    control.stopEvent = std::move(stopEvent);
    control.settingsChangeEvent = std::move(settingsChangeEvent);
    control.forceSyncEvent = std::move(forceSyncEvent);
    control.running = true;
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool StopClientHeartBeatThread(IRPClient* /*rpClient*/) {
  HeartbeatControl& control = Control();
  std::lock_guard<std::mutex> heartbeatLock(control.heartbeatLock);
  std::unique_ptr<platform::Thread> thread;
  std::shared_ptr<platform::Event> stopEvent;
  bool running = false;
  {
    std::lock_guard<std::mutex> lock(control.handlesLock);
    thread = std::move(control.thread);
    stopEvent = control.stopEvent;
    running = control.running;
  }
  if (thread != nullptr && stopEvent != nullptr) {
    stopEvent->Set();
    AGLOG(AG_LOG_PROGRESS, "Waiting for heartbeat thread to stop...");
    thread->Join();
    thread.reset();
    {
      std::lock_guard<std::mutex> lock(control.handlesLock);
      ResetEventsLocked(control);
      control.threadEnded.reset();
    }
    AGLOG(AG_LOG_PROGRESS, "Heartbeat thread stopped!!");
  } else if (thread == nullptr && !running) {
    AGLOG(AG_LOG_PROGRESS, "Thread already stopped. Returning TRUE...");
    return true;
  }
  SetRunning(false);
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool StopClientHeartBeatThreadFromWithinTheThread() {
  HeartbeatControl& control = Control();
  std::lock_guard<std::mutex> lock(control.handlesLock);
  if (control.thread != nullptr && control.stopEvent != nullptr) {
    AGLOG(AG_LOG_PROGRESS, "Cleaning up Heartbeat thread...");
    control.stopEvent->Set();
    control.thread->Detach();
    control.thread.reset();
    control.threadEnded.reset();
    ResetEventsLocked(control);
    AGLOG(AG_LOG_PROGRESS, "Heartbeat thread cleaned up!!");
  } else if (control.thread == nullptr && !control.running) {
    AGLOG(AG_LOG_PROGRESS, "Thread already stopped. Returning TRUE...");
  }
  control.running = false;
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool SetServerForceSyncEvent() {
  std::lock_guard<std::mutex> lock(Control().handlesLock);
  return Control().forceSyncEvent != nullptr && Control().forceSyncEvent->Set();
}

bool HeartbeatPause(uint32_t ms) {
  std::shared_ptr<platform::Event> stopEvent;
  {
    std::lock_guard<std::mutex> lock(Control().handlesLock);
    stopEvent = Control().stopEvent;
  }
  if (stopEvent == nullptr) {
    platform::GetClock().SleepMs(ms);
    return true;
  }
  return !WaitForStop(stopEvent.get(), ms);
}

bool HeartbeatStopRequested() {
  std::lock_guard<std::mutex> lock(Control().handlesLock);
  return Control().stopEvent != nullptr && Control().stopEvent->IsSet();
}

bool IsHeartbeatThreadRunning() {
  std::lock_guard<std::mutex> lock(Control().handlesLock);
  return Control().running;
}
