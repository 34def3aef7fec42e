#include "core/rpclcore/heartbeat_followup.h"

#include <json/json.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/agcore/consent_thread.h"
#include "core/casupp/download_locations.h"
#include "core/casupp/install_status.h"
#include "core/casupp/pending_leases.h"
#include "core/casupp/pending_record_copy.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/common/xuacomm.h"
#include "core/config/paths.h"
#include "core/genreq/response_json.h"
#include "core/rpclcore/command_processing.h"
#include "core/rpclcore/heartbeat_state.h"
#include "core/rpclcore/pending_send_backoff.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"

namespace {

constexpr uint32_t kMiscInfoDataId = 126;
constexpr uint32_t kUAStatusDataId = 19;
constexpr uint32_t kUAStatusRecordKind = 23;
constexpr uint32_t kUAStatusDigestSlot = 23;
constexpr uint32_t kAssetTagResetMode = 2;
constexpr uint32_t kUABuildLocations = 2;
constexpr uint32_t kUABuildCommandId = 20;
constexpr const char* kRoutine = "RpHeartbeatFollowUp";

bool IsMinorUpgradeType(uint32_t type) { return type == 1 || type == 2; }

void StoreInterval(uint32_t id, uint32_t value, const char* failureFormat) {
  if (!SetClientBlobData(id, sizeof(value), &value)) AGLOG_AS(kRoutine, AG_LOG_FAILURE, failureFormat, static_cast<int>(id));
}

uint32_t ReadCounter() {
  uint32_t counter = 0;
  if (!GetClientBlobData(DB_ID_REDUCED_HB_COUNTER, sizeof(counter), &counter)) {
    AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "GetClientBlobData failed for %d", static_cast<int>(DB_ID_REDUCED_HB_COUNTER));
  }
  return counter;
}

// Puts the normal heartbeat interval, saved while a reduced one was in force,
// back into force.
void RestoreSavedInterval(HeartbeatState* state) {
  uint32_t saved = state->timers.heartbeatInterval;
  if (!GetClientBlobData(DB_ID_SAVED_HEARTBEAT_INTERVAL, sizeof(saved), &saved)) {
    AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "GetClientBlobData failed for %d", static_cast<int>(DB_ID_SAVED_HEARTBEAT_INTERVAL));
    saved = state->timers.heartbeatInterval;
  }
  state->timers.heartbeatInterval = saved;
  StoreInterval(DB_ID_CLIENT_HEARTBEAT_INTERVAL, saved, "SetClientBlobData() failedfor %d");
}

void StoreThrottlingFlag(bool on) {
  const uint8_t flag = on ? 1 : 0;
  if (!SetClientBlobData(DB_ID_THROTTLING, sizeof(flag), &flag)) {
    AGLOG_AS(kRoutine, AG_LOG_FAILURE, "SetClientBlobData() failed for id : %d.", static_cast<int>(DB_ID_THROTTLING));
  }
}

// The download locations are known: the heartbeat is shortened for one round
// of requests (counter 1) and restored when the counter reaches its maximum.
void Throttle(HeartbeatState* state) {
  ISupportLibrary* support = Siblings().support;
  const uint32_t maxCount = ReducedHeartbeatMaxCount(state);
  const uint32_t counter = ReadCounter();
  if (counter == 1) {
    uint32_t reduced = state->timers.heartbeatInterval;
    if (!support->GetgetURLReducedClientHBValue(&reduced)) {
      AGLOG_AS(kRoutine, AG_LOG_FAILURE, "GetgetURLReducedClientHBValue() failed.");
      reduced = state->timers.heartbeatInterval;
    }
    StoreInterval(DB_ID_SAVED_HEARTBEAT_INTERVAL, state->timers.heartbeatInterval, "SetClientBlobData() failed for %d");
    state->timers.heartbeatInterval = reduced;
    StoreInterval(DB_ID_CLIENT_HEARTBEAT_INTERVAL, reduced, "SetClientBlobData() failedfor %d");
    state->timers.waitCSHeartbeat = 0;
  }
  AGLOG_AS(kRoutine, AG_LOG_VERBOSE, "iGetURLReducedClientHBCounter: (%d) iGetURLReducedClientHBMaxCount: (%d)",
           static_cast<int>(counter), static_cast<int>(maxCount));
  StoreInterval(DB_ID_REDUCED_HB_COUNTER_AT_MAX, counter >= maxCount ? 1 : 0, "SetClientBlobData() failed for id : %d.");
  state->reducedHeartbeat = true;
  state->throttling = true;
  StoreThrottlingFlag(true);
  if (counter >= maxCount) {
    RestoreSavedInterval(state);
    state->reducedHeartbeat = false;
  }
}

void EndThrottling(HeartbeatState* state) {
  if (ReadCounter() > 1) RestoreSavedInterval(state);
  StoreInterval(DB_ID_REDUCED_HB_COUNTER_AT_MAX, 0, "SetClientBlobData() failed for id : %d.");
  state->reducedHeartbeat = false;
  state->throttling = false;
  StoreThrottlingFlag(false);
}

void StartAvInstallation(HeartbeatState* state) {
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "AV is not installed");
  uint32_t upgradeType = 0;
  char url1[kDownloadUrlBufferSize] = {};
  char url2[kDownloadUrlBufferSize] = {};
  Siblings().support->GetClientUpgradeType(&upgradeType);
  uint32_t buildKind = 0;
  if (upgradeType == 1) {
    AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Minor upgrade is pending");
    GetAVBuildUrls(kMinorUpgradeBuildKind, url1, sizeof(url1), url2, sizeof(url2));
    if (url1[0] == '\0') std::memcpy(url1, url2, sizeof(url1));
  } else {
    AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Going for full AV installation");
    buildKind = IsBuildAvailable();
    if (buildKind == 0) {
      if (GetUrlsforAVDownload(url1, sizeof(url1), url2, sizeof(url2), nullptr) && url1[0] != '\0' && url2[0] != '\0') {
        Throttle(state);
      } else {
        EndThrottling(state);
      }
    }
  }
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "AV Download Urls: %s, %s", url1, url2);
  // A build kind of 1 installs from the build already on the machine.
  if (url1[0] == '\0' && url2[0] == '\0' && buildKind != 1) return;
  if (!Siblings().preinst->AGPreInstInstall(url1, url2, buildKind)) {
    AGLOG_AS(kRoutine, AG_LOG_FAILURE, "AGPreInstInstall() failed");
  }
}

// An older unified agent (or a pending unified-agent upgrade) is replaced by
// running its build command as if the server had sent it.
void CheckUAUpgrade(IRPClient* rpClient, ICAResponseGen* respGen, const HeartbeatState& state) {
  CheckAvInstStatusPending();
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Checking for UA upgradation.");
  uint8_t uaUpgradeStatus = 0;
  GetUAUpgradeStatus(&uaUpgradeStatus);
  bool oldManager = false;
  IsOldUpdateManagerPresent(&oldManager, nullptr, 0);
  if (uaUpgradeStatus == 0 && !oldManager) {
    AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Old UA is not present.");
    return;
  }
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Old UA is present.");
  char url1[kDownloadUrlBufferSize] = {};
  char url2[kDownloadUrlBufferSize] = {};
  GetUABuildUrls(kUABuildLocations, url1, sizeof(url1), url2, sizeof(url2));
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "szAvBuildUrl1 : (%s).", url1);
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "szAvBuildUrl2 : (%s).", url2);
  std::string payload;
  try {
    GetUABuildCommandPayload(&payload, kUABuildCommandId, state.timers.onPrem ? url1 : url2);
  } catch (const std::exception&) {
    AGLOG_AS(kRoutine, AG_LOG_FAILURE, "STD::exception found in CheckUAUpgrade.");
    return;
  }
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "strCmdPayload : (%s).", payload.c_str());
  uint32_t id = 0;
  uint32_t status = 0;
  if (!RpReceiveAndProcessCommand(payload.c_str(), rpClient, &id, &status, nullptr, "", nullptr)) {
    AGLOG_AS(kRoutine, AG_LOG_FAILURE, "RpReceiveAndProcessCommand() failed.");
    return;
  }
  if (status != kCmdUnprocessed) {
    SetUAUpgradeStatus(false);
    GenerateUAStatusAndSendToCS(respGen, rpClient);
  }
}

void NotifyUnifiedAgent() {
  bool onPrem = false;
  if (!IsOnPrem(&onPrem)) AGLOG_AS(kRoutine, AG_LOG_FAILURE, "IsOnPrem failed.");
  const bool installed = IsXUAInstalled();
  if (installed) AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "XUA is Installed.");
  if (!installed || onPrem) return;

  uint32_t reEnroll = 0;
  if (GetReEnrollStatusFromIni(&reEnroll) && reEnroll != 0) {
    if (SendDataToXUA()) {
      AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "SendDataToXUA Sucess");
      SetReEnrollStatusFromIni(0);
    } else {
      AGLOG_AS(kRoutine, AG_LOG_FAILURE, "SendDataToXUA failed");
    }
  }
  uint32_t upgradeType = 0;
  Siblings().support->GetClientUpgradeType(&upgradeType);
  uint32_t notified = 0;
  GetUpgradeNotificationStatusForXUA(&notified);
  if (IsMinorUpgradeType(upgradeType) && notified == 0) {
    if (NotifyToXUAForUpgradation()) {
      AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "NotifyToXUAForUpgradation Sucess");
      SetUpgradeNotificationForXUA(1);
    } else {
      AGLOG_AS(kRoutine, AG_LOG_FAILURE, "NotifyToXUAForUpgradation failed");
    }
  }
}

}  // namespace

uint32_t ReducedHeartbeatMaxCount(HeartbeatState* state) {
  uint32_t maxCount = state->reducedHBMaxCount;
  if (!Siblings().support->GetgetURLReducedClientHBMaxCount(&maxCount)) {
    AGLOG_AS(kRoutine, AG_LOG_FAILURE, "GetgetURLReducedClientHBMaxCount() failed.");
    maxCount = state->reducedHBMaxCount;
  }
  state->reducedHBMaxCount = maxCount;
  return maxCount;
}

bool SendCAMiscInfo(IRPClient* rpClient, ICAResponseGen* respGen, ServerResponse** response) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (response == nullptr || rpClient == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid Parameter.");
    return false;
  }
  std::string json;
  uint32_t error = 0;
  if (!GenerateJsonForReq(kMiscInfoDataId, 1, 1, respGen, &json, &error)) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForReq failed for(%lu).Error(%lu)", static_cast<unsigned long>(kMiscInfoDataId),
          static_cast<unsigned long>(error));
    AGLOG(AG_LOG_PROGRESS, "End");
    return true;
  }
  const ClientDataRecord record{2, 1, json.c_str()};
  if (!rpClient->SetClientData(&record, kMiscInfoDataId, response, 1)) {
    AGLOG(AG_LOG_FAILURE, "SetClientData failed. Continuing...");
  } else {
    char assetTag[260] = {};
    uint8_t changed = 0;
    if (!Siblings().support->GetOrSetAssetTagName(assetTag, sizeof(assetTag), &changed, kAssetTagResetMode)) {
      AGLOG(AG_LOG_FAILURE, "Failed to reset Asset tag flag");
    }
    if (*response == nullptr || !(*response)->bSuccess) {
      HandleErrorCodes(*response);
      AGLOG(AG_LOG_FAILURE, "Failed status received from CS");
    }
    CheckConnStateAndNotifyAV();
  }
  if (*response != nullptr) {
    rpClient->FreeServerResponse(*response);
    *response = nullptr;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool GenerateUAStatusAndSendToCS(ICAResponseGen* respGen, IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  std::string json;
  if (!GenerateUAStatus(respGen, &json)) {
    AGLOG(AG_LOG_FAILURE, "GenerateUAStatus() failed. Continuing...");
    return false;
  }
  if (!json.empty()) {
    const ClientDataRecord record{kUAStatusRecordKind, 1, json.c_str()};
    ServerResponse* response = nullptr;
    if (rpClient != nullptr && rpClient->SetClientData(&record, kUAStatusDataId, &response, 1)) {
      CheckServerResponse(response);
      if (response != nullptr) rpClient->FreeServerResponse(response);
      CheckConnStateAndNotifyAV();
    } else {
      AGLOG(AG_LOG_FAILURE, "SetClientData() failed. Continuing...");
      ResetNewOldMd5ById(kUAStatusDigestSlot);
    }
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

void RequeuePendingTasks() { RequeuePendingTasksInto(GetRpTaskQueue()); }

void RequeuePendingTasksInto(CTaskQueue* queue) {
  // Only as many records are leased as the queue can take now: the rest stay
  // in the store untouched instead of being leased and handed back one by
  // one, and the next heartbeat queues them.
  const uint32_t room = queue != nullptr ? queue->room() : 0;
  CLPendingTaskList* list = nullptr;
  if (!GetClientPendingTasks(&list, room) || list == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetClientPendingTasks Failed");
    return;
  }
  AGLOG(AG_LOG_FAILURE, "pliCAPendingTasks size = %d", static_cast<int>(list->dwCount));
  if (list->dwCount == room) {
    AGLOG(AG_LOG_FAILURE, "CS task queue has room for %u tasks: further pending tasks wait for the next heartbeat",
          static_cast<unsigned>(room));
  }
  StartPendingSendBatch();
  for (uint32_t i = 0; list->pTasks != nullptr && i < list->dwCount; ++i) {
    const CLPendingTask& task = list->pTasks[i];
    const uint32_t taskType = task.dwList;
    // The copy keeps the stored size: the performer checks the record's own
    // length fields against it.
    void* block = CopyPendingRecord(task.pData, task.dwSize);
    if (block == nullptr) {
      AGLOG(AG_LOG_FAILURE, "Failed to append task(%u) to CS task queue", static_cast<unsigned>(taskType));
      ReturnClientPendingTask(task.qwRecordId);
      continue;
    }
    RememberPendingLease(block, task.qwRecordId);
    if (AddTaskWithBlockInQ(queue, static_cast<uint8_t>(taskType), block)) {
      AGLOG(AG_LOG_FAILURE, "appended task %u", static_cast<unsigned>(taskType));
    } else {
      ReturnPendingLease(block);
      std::free(block);
    }
  }
  FreeClientPendingTasks(list);
}

void RpHeartbeatFollowUp(IRPClient* rpClient, ICAResponseGen* respGen, HeartbeatState* state) {
  ServerResponse* miscResponse = nullptr;
  if (!SendCAMiscInfo(rpClient, respGen, &miscResponse)) AGLOG(AG_LOG_FAILURE, "Failed to send CA Misc Info ");

  IPreInstallLibrary* preinst = Siblings().preinst;
  if (preinst->AGPreInstIsAvInstalled()) {
    GenerateUAStatusAndSendToCS(respGen, rpClient);
    AddTaskInQ(GetRpTaskQueue(), 0, CS_CLIENT_TASKQ_SEND_CLIENT_REPORTS);
  }

  AGLOG(AG_LOG_PROGRESS, "bIsRemoteUninstallReceived:%d", state->remoteUninstallReceived ? 1 : 0);
  uint32_t upgradeStatus = 0;
  Siblings().support->GetAVUpgradeStatus(&upgradeStatus);
  AGLOG(AG_LOG_PROGRESS, "iUpgradeStatus:%d", static_cast<int>(upgradeStatus));
  const bool installed = preinst->AGPreInstIsAvInstalled() != 0;
  AGLOG(AG_LOG_PROGRESS, "AGPreInstIsAvInstalled:%d", installed ? 1 : 0);

  // The consent prompt is checked every second registered cycle.
  if (state->consentToggle) {
    state->consentToggle = false;
    CheckAndLaunchConsentPromt();
  } else {
    state->consentToggle = true;
  }

  if ((installed && upgradeStatus == 0) || state->remoteUninstallReceived) {
    CheckUAUpgrade(rpClient, respGen, *state);
  } else if (!installed) {
    StartAvInstallation(state);
  }
  NotifyUnifiedAgent();
  RequeuePendingTasks();
}
