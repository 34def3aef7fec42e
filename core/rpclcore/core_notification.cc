// NotifyClientCoreForRpTask: turns an event from the messaging libraries into
// a queued task, a wake-up of the heartbeat thread or passive-notification
// bits. It runs on whatever thread the libraries call it from and holds no
// lock of its own.
#include "core/rpclcore/core_notification.h"

#include <cerrno>
#include <exception>

#include <json/json.h>

#include "core/agcore/core_state.h"
#include "core/casupp/pending_records.h"
#include "core/common/aglog.h"
#include "core/common/secret_mask.h"
#include "core/config/agent_files.h"
#include "core/rpclcore/heartbeat_thread.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kOtpNotificationKind = 29;
constexpr uint32_t kOtpDataId = 144;

bool SignalServerForceSync() {
  if (SetServerForceSyncEvent()) return true;
  AGLOG_AS("NotifyClientCoreForRpTask", AG_LOG_FAILURE, "SetEvent failed. Error:%lu",
           static_cast<unsigned long>(errno));
  return false;
}

// Appends {taskId, 0}; false (with the append-failure line) when the pool is
// not running or the queue refuses.
bool QueueTask(uint8_t taskId) {
  CTaskQueue* queue = GetRpTaskQueue();
  if (queue == nullptr || !queue->append(TaskEntry{taskId, 0}, true)) {
    AGLOG_AS("NotifyClientCoreForRpTask", AG_LOG_FAILURE, "Failed to append task(%lu) to CS task queue",
             static_cast<unsigned long>(taskId));
    return false;
  }
  return true;
}

bool PostToAllThreads(uint32_t bit) { return RpUpdatePassiveNotificationForAllThreads(&bit, false); }

void SendOtpStatus(int64_t statusCode) {
  const std::string payload = GetOTPPayload(statusCode);
  if (payload.empty()) return;
  const bool sent = GetCoreState().rpClient.Use([&payload](IRPClient* rpClient) {
    ServerResponse* response = nullptr;
    if (rpClient == nullptr || !rpClient->SendNotification(kOtpNotificationKind, kOtpDataId, payload.c_str(), &response)) {
      return false;
    }
    if (response != nullptr) rpClient->FreeServerResponse(response);
    return true;
  });
  if (sent) return;
  AGLOG_AS("NotifyClientCoreForRpTask", AG_LOG_PROGRESS, "Sending OTP notification failed so addinng in pending queue.");
  if (!StorePendingNotification(kOtpNotificationKind, kOtpDataId, payload)) {
    AGLOG_AS("NotifyClientCoreForRpTask", AG_LOG_FAILURE,
             "SetClientPendingCommands failed for CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION (OTP)");
  }
}

}  // namespace

uint8_t NotifyClientCoreForRpTask(int32_t eventId, int64_t param) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (eventId < CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS || eventId > CA_NOTIFY_EVENT_ID_OTP_STATUS ||
      eventId == 25) {
    AGLOG(AG_LOG_FAILURE, "Not a valid Notify Event ID.");
    return 0;
  }
  switch (eventId) {
    case CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS:
      AGLOG(AG_LOG_PROGRESS, "**** CALLBACK FOR: CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS ****.");
      if (!QueueTask(CS_CLIENT_TASKQ_FETCH_AND_APPLY_POLICY)) return 0;
      break;
    case CA_NOTIFY_EVENT_ID_CLIENT_UNREGISTER:
      if (!PostToAllThreads(CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER)) {
        AGLOG(AG_LOG_FAILURE,
              "RpUpdatePassiveNotificationForAllThreads failed for CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER");
        return 0;
      }
      break;
    case CA_NOTIFY_EVENT_ID_HEARTBEAT_INTERVAL_CHANGED:
      if (!PostToAllThreads(CA_THREAD_PASSIVE_NOTIFICATION_HEARTBEAT_INTERVAL_CHANGED)) {
        AGLOG(AG_LOG_FAILURE, "RpUpdatePassiveNotificationForAllThreads failed for (%lu)",
              static_cast<unsigned long>(eventId));
        return 0;
      }
      break;
    case CA_NOTIFY_EVENT_ID_REACTIVATE_CLIENT:
      AGLOG(AG_LOG_PROGRESS, "CA_NOTIFY_EVENT_ID_REACTIVATE_CLIENT triggered");
      if (!PostToAllThreads(CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT)) {
        AGLOG(AG_LOG_FAILURE,
              "RpUpdatePassiveNotificationForAllThreads failed for CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT");
        return 0;
      }
      break;
    case CA_NOTIFY_EVENT_ID_SERVER_FORCE_SYNC:
      AGLOG(AG_LOG_PROGRESS, "case: CA_NOTIFY_EVENT_ID_SERVER_FORCE_SYNC");
      if (!SignalServerForceSync()) return 0;
      break;
    case CA_NOTIFY_EVENT_ID_SERVER_DISCONNECT_CLIENT:
      AGLOG(AG_LOG_PROGRESS, "case: CA_NOTIFY_EVENT_ID_SERVER_DISCONNECT_CLIENT");
      // The disconnect is also visible to the server on the next heartbeat,
      // so a task that cannot be queued is not an error of the callback.
      if (!AddTaskInQ(GetRpTaskQueue(), static_cast<uint32_t>(eventId), CS_CLIENT_TASKQ_DISCONNECT_CLIENT)) {
        AGLOG(AG_LOG_PROGRESS, "AddTaskInQ Failed : CA_NOTIFY_EVENT_ID_SERVER_DISCONNECT_CLIENT");
      }
      break;
    case CA_NOTIFY_EVENT_ID_UNAUTH_DEVICE_ACCESS:
      AGLOG(AG_LOG_PROGRESS, "case: CA_NOTIFY_EVENT_ID_UNAUTH_DEVICE_ACCESS");
      if (!SignalServerForceSync()) return 0;
      if (!QueueTask(CS_CLIENT_TASKQ_SEND_CLIENT_REPORTS)) return 0;
      break;
    case CA_NOTIFY_EVENT_ID_ENCRYPTION_RECOVERY:
      AGLOG(AG_LOG_PROGRESS, "case: CA_NOTIFY_EVENT_ID_ENCRYPTION_RECOVERY");
      if (!SignalServerForceSync()) return 0;
      if (!QueueTask(CS_CLIENT_TASKQ_SEND_ENCRYPTION_RECOVERY_REPORTS)) return 0;
      break;
    case CA_NOTIFY_EVENT_ID_OTP_STATUS:
      AGLOG(AG_LOG_PROGRESS, "CA_NOTIFY_EVENT_ID_OTP_STATUS OTP Status code %ld", static_cast<long>(param));
      SendOtpStatus(param);
      break;
    default:
      break;
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return 1;
}

std::string GetOTPPayload(int64_t statusCode) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  try {
    int mapped = -1;
    switch (statusCode) {
      case 13: mapped = 0; break;
      case 14: mapped = 1; break;
      case 15: mapped = 2; break;
      case 16: mapped = 3; break;
      default: break;
    }
    Json::Value payload(Json::objectValue);
    // Whole seconds only: the server compares dates, not instants.
    payload["cdt"] = static_cast<Json::Int64>(platform::GetClock().NowSeconds() * 1000);
    payload["scd"] = mapped;
    std::string otp;
    if (mapped != 0) {
      otp = GetLastAppliedOTP();
      if (otp.empty()) {
        AGLOG(AG_LOG_FAILURE, "OTP is empty");
        return std::string();
      }
    }
    payload["otp"] = otp;
    const std::string text = Json::FastWriter().write(payload);
    AGLOG(AG_LOG_PROGRESS, "OTP Payload data : %s", MaskJsonSecrets(text).c_str());
    return text;
  } catch (const std::exception&) {
    AGLOG(AG_LOG_FAILURE, "Std Exception occured in GetOTPPayload Function");
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Global Exception occured in GetOTPPayload Function");
  }
  return std::string();
}
