// The clean-up sequence of the agent core, after the argument check of the
// export: stop what start-up started, in a fixed order, sending a pending
// uninstall notification while the RP client object and the heartbeat thread
// still exist. No step stops clean-up; waits have no time-out.
#include <agsuite/agtransfer.h>

#include <cstdlib>

#include "core/agcore/core_state.h"
#include "core/agcore/lifecycle.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/common/xuacomm.h"
#include "core/rpclcore/heartbeat_thread.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/siblings.h"
#include "platform/session_events.h"

#define CLEANUP_LOG(level, ...) AGLOG_AS(kCleanUpRoutine, level, __VA_ARGS__)

namespace {

// What clean-up's own sends (the uninstall notification) and the threads'
// transfers in flight may still take once clean-up has begun.
constexpr uint32_t kCleanUpSendLimitMs = 5000;

}  // namespace

void RunClientAgentCoreCleanUp(uint8_t bNotifyOffline) {
  CoreState& state = GetCoreState();

  // The consent thread's session wait returns empty and the thread ends by
  // itself; it is joined further down.
  platform::FlushSessionEventWaits();

  if (state.cleanupEvent) {
    CLEANUP_LOG(AG_LOG_PROGRESS, "Before setting cleanup event.");
    state.cleanupEvent->Set();
    CLEANUP_LOG(AG_LOG_PROGRESS, "After setting cleanup event.");
  }

  // From here on nothing the agent sends may hold clean-up for long: the
  // uninstall notification, and whatever the threads have in flight, get a
  // bounded time; the threads' transfers end at once before their joins.
  AgTransportLimitTransfers(kCleanUpSendLimitMs);
  if (!CheckAndSendUninstallNotification()) CLEANUP_LOG(AG_LOG_FAILURE, "CheckAndSendUninstallNotification: %d", 0);

  if (IsXUAInstalled() && !UnsubcribeCommnWithXUA()) CLEANUP_LOG(AG_LOG_FAILURE, "UnsubcribeCommnWithXUA: %d", 0);

  if (bNotifyOffline == 1) {
    CLEANUP_LOG(AG_LOG_PROGRESS, "bNotifyOffline is TRUE hence sending offline notification to server");
  } else {
    CLEANUP_LOG(AG_LOG_PROGRESS, "bNotifyOffline is FALSE hence no need to send offline notification to server");
  }

  if (state.installStatusThread) {
    CLEANUP_LOG(AG_LOG_PROGRESS, "Waiting for AV install status thread to return...");
    state.installStatusThread->Join();
    state.installStatusThread.reset();
    // The thread was the record's only reader and has copied it long ago.
    std::free(state.coreParam);
    state.coreParam = nullptr;
  }

  // The thread logs and reads the agent INI on its way out: it must not
  // outlive clean-up, nor meet the process's exit-time destructors.
  if (state.consentThread) {
    state.consentThread->Join();
    state.consentThread.reset();
  }

  uint32_t status = 0;
  Siblings().system->SystemCleanUpCall(&status);

  if (!RegisterUnregisterCACallBackForAVEmergency(false)) {
    CLEANUP_LOG(AG_LOG_FAILURE, "RegisterUnregisterCACallBackForAVEmergency failed.");
  }

  if (Siblings().resp->StopAvMessageHandlerThread()) {
    CLEANUP_LOG(AG_LOG_PROGRESS, "StopAvMessageHandlerThread() executed successfuly.");
  } else {
    CLEANUP_LOG(AG_LOG_FAILURE, "StopAvMessageHandlerThread() Failed.");
  }

  // An installer replacing the agent in place keeps the server connection up
  // until it is done, so the pre-install library may ask to leave it running.
  // The threads are stopped whatever the slot holds: a failed
  // re-initialisation leaves it empty while both threads still run.
  if (!Siblings().preinst->PreInstallCleanUpCheck()) {
    AgTransportLimitTransfers(0);
    StopRpTaskPerformerThreadPool(PoolStop::kClose);
    StopClientHeartBeatThread(state.rpClient.Peek());
    // Emptied so that a late callback finds no object rather than a freed one,
    // and a later start-up in this process starts from an empty slot.
    if (IRPClient* rpClient = state.rpClient.Exchange(nullptr)) {
      Siblings().transport->FreeRPClientObject(rpClient, &status);
    }
  }

  if (state.cleanupEvent) {
    CLEANUP_LOG(AG_LOG_PROGRESS, "Before closing cleanup event.");
    state.cleanupEvent.reset();
    CLEANUP_LOG(AG_LOG_PROGRESS, "After closing cleanup event.");
  }

  // The client-store counter lock lives as long as the process (core_state.cc).
  // No thread of this run sends any more (or, kept running for an in-place
  // installer, it sends as before); a later start-up starts without a limit.
  AgTransportLimitTransfers(kAgTransferNoLimit);
  CLEANUP_LOG(AG_LOG_PROGRESS, "Before calling SocketDeinitSocketProvider");
  CLEANUP_LOG(AG_LOG_PROGRESS, "Exit");
}
