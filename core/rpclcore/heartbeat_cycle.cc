#include "core/rpclcore/heartbeat_cycle.h"

#include <json/json.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/casupp/download_locations.h"
#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/common/xuacomm.h"
#include "core/config/agent_files.h"
#include "core/config/tenant_info.h"
#include "core/genreq/response_json.h"
#include "core/rpclcore/command_processing.h"
#include "core/rpclcore/command_skipping.h"
#include "core/rpclcore/heartbeat_thread.h"
#include "core/rpclcore/core_notification.h"
#include "core/rpclcore/heartbeat_followup.h"
#include "core/rpclcore/heartbeat_state.h"
#include "core/rpclcore/owed_command_ack.h"
#include "core/rpclcore/policy.h"
#include "core/rpclcore/reports.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kHeartbeatDataId = 118;
constexpr uint32_t kObsoleteClientNotificationKind = 24;
constexpr uint32_t kObsoleteClientNotificationId = 112;
constexpr uint32_t kAskForAvBuildAction = 134;
constexpr uint32_t kInstallationStatusOnBuildCommand = 119;
constexpr uint32_t kProductStatusDataId = 9;
constexpr uint32_t kCommandDataDigestId = 23;
constexpr uint32_t kReEnrollDataId = 28;
constexpr uint32_t kCommand12AckDataId = 13;
constexpr uint32_t kPathBytes = 260;

constexpr uint32_t kCmdSendProductStatus = 1;
constexpr uint32_t kCmdSetAvBuild = 20;
constexpr uint32_t kCmdRefreshRegStatus = 109;
constexpr uint32_t kCmdReEnroll = 111;
constexpr uint32_t kCmdWithAckPayload = 12;
constexpr uint32_t kCmdRemoteUninstall = 107;
constexpr uint32_t kCmdOsQuery = 49;
constexpr uint32_t kCmdPullLog = 141;

// Ten to fifteen minutes between two requests for the build's locations.
int32_t NextDownloadUrlWait() {
  thread_local std::minstd_rand random(static_cast<uint32_t>(platform::GetClock().NowMilliseconds()));
  return 10 + static_cast<int32_t>(random() % 6);
}

void FreeResponseOf(IRPClient* rpClient, ServerResponse* response) {
  if (response != nullptr) rpClient->FreeServerResponse(response);
}

// A client not seen by the server for fifteen days tells it so. Returns false
// when the notification could not be sent (the last-connected time then
// stays as it is).
bool SendObsoleteClientNotificationIfDue(IRPClient* rpClient, uint64_t now) {
  uint64_t lastConnected = 0;
  if (!GetClientBlobData(DB_ID_CLIENT_LAST_CONNECTED_TIME, sizeof(lastConnected), &lastConnected) ||
      lastConnected == 0 || now < lastConnected || now - lastConnected < static_cast<uint64_t>(kObsoleteClientSeconds)) {
    return true;
  }
  ServerResponse* response = nullptr;
  if (rpClient->SendNotification(kObsoleteClientNotificationKind, kObsoleteClientNotificationId, "", &response)) {
    CheckServerResponse(response);
    CheckConnStateAndNotifyAV();
    FreeResponseOf(rpClient, response);
    return true;
  }
  AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE, "SendNotification failed for OBSOLETE_CLIENT");
  if (!StorePendingNotification(kObsoleteClientNotificationKind, kObsoleteClientNotificationId, "")) {
    AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE,
             "SetClientPendingCommands failed for CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION");
  }
  return false;
}

void CheckPolicyOfInstalledProduct(ICAResponseGen* respGen) {
  bool modified = false;
  std::string policy;
  if (!CheckIfPolicyModifedAtClient(respGen, &modified, &policy)) {
    AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE,
             "Failed to get policy feature guids from AV. Calling server to get policy");
    if (!NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS, 0)) {
      AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE, "NotifyClientCoreForRpTask failed for %lu",
               static_cast<unsigned long>(CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS));
    }
  } else if (modified && !ResetPolicyLocally(respGen, policy)) {
    AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE, "ResetPolicyLocally failed");
  }
}

// While throttling and the product is missing, ask the server for the
// build's download locations until they are known.
void RequestDownloadLocationsIfDue(HeartbeatState* state, bool avInstalled) {
  HeartbeatTimers& timers = state->timers;
  AGLOG_AS("RpHeartbeatStep", AG_LOG_VERBOSE, "bIsThrottling(%d) bIsAvInstalled(%d) iGetAvDwnldURLWait(%d)",
           state->throttling ? 1 : 0, avInstalled ? 1 : 0, static_cast<int>(timers.getAvDwnldURLWait));
  if (!state->throttling || avInstalled || timers.getAvDwnldURLWait > 0) return;
  char url1[kDownloadUrlBufferSize] = {};
  char url2[kDownloadUrlBufferSize] = {};
  if (GetUrlsforAVDownload(url1, sizeof(url1), url2, sizeof(url2), nullptr) && url1[0] != '\0' && url2[0] != '\0') {
    AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE, "AV Url's are (%s) (%s)", url1, url2);
    return;
  }
  AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE, "Asking for AV build");
  if (!AddTaskInQ(GetRpTaskQueue(), kAskForAvBuildAction, CS_CLIENT_TASKQ_GET_URLS_FOR_AV_DOWNLOAD)) {
    AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE, "Failed to append task(%lu) to CS task queue",
             static_cast<unsigned long>(kAskForAvBuildAction));
  }
  timers.getAvDwnldURLWait = NextDownloadUrlWait();
  AGLOG_AS("RpHeartbeatStep", AG_LOG_PROGRESS, "iGetAvDwnldURLWait set to %d", static_cast<int>(timers.getAvDwnldURLWait));
  uint32_t counter = 0;
  if (!GetClientBlobData(DB_ID_REDUCED_HB_COUNTER, sizeof(counter), &counter)) {
    AGLOG_AS("RpHeartbeatStep", AG_LOG_PROGRESS, "GetClientBlobData failed for %d", static_cast<int>(DB_ID_REDUCED_HB_COUNTER));
  }
  // The maximum is read here too, not only by the follow-up: after a restart
  // this step runs first. A counter left above the maximum (a lower maximum,
  // a store written by an older run) starts over instead of running away.
  counter = counter >= ReducedHeartbeatMaxCount(state) ? 1 : counter + 1;
  AGLOG_AS("RpHeartbeatStep", AG_LOG_VERBOSE, "Setting counteriGetURLReducedClientHBCounter: (%d)", static_cast<int>(counter));
  if (!SetClientBlobData(DB_ID_REDUCED_HB_COUNTER, sizeof(counter), &counter)) {
    AGLOG_AS("RpHeartbeatStep", AG_LOG_FAILURE, "SetClientBlobData() failed for id : %d.",
             static_cast<int>(DB_ID_REDUCED_HB_COUNTER));
  }
}

// Command 12 is acknowledged with the data of request 13, reduced to its
// payload when the generated JSON carries one.
void BuildCommand12Ack(ICAResponseGen* respGen, HeartbeatState* state) {
  try {
    uint32_t error = 0;
    if (GenerateJsonForReq(kCommand12AckDataId, 2, 1, respGen, &state->ackJson, &error)) {
      const Json::Value payload = GetResponsePayload(state->ackJson);
      if (payload.isObject() && !payload.empty()) state->ackJson = Json::FastWriter().write(payload);
    }
  } catch (...) {
    AGLOG_AS("RpClientHeartbeatThread", AG_LOG_FAILURE, "unhandled exception");
    state->timers.Restore(state->waitSnapshot);
  }
}

bool StoreUpgradeCmdRecord(uint32_t storeId, const ServerCommandEntry& entry, const std::string& guid) {
  AgUpgradeCmdRecord record{};
  record.dwLeading = entry.dwLeading;
  std::strncpy(record.szCmdGuid, guid.c_str(), sizeof(record.szCmdGuid) - 1);
  if (!SetClientBlobData(storeId, sizeof(record), &record)) return false;
  if (storeId == DB_ID_UP_UPDATE_STATUS_CMD_GUID && !Siblings().support->SetUpgrdCmdInfoToINI(0, &record)) {
    AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "SetUpgrdCmdInfoToINI failed.");
  }
  return true;
}

void QueueRemoteUninstall(const std::string& guid, HeartbeatState* state) {
  state->remoteUninstallReceived = true;
  char* block = static_cast<char*>(std::malloc(guid.size() + 1));
  if (block == nullptr) {
    AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "Failed to allocate memory CS_CLIENT_TASKQ_UNINSTALL_CLIENT");
    return;
  }
  std::memcpy(block, guid.c_str(), guid.size() + 1);
  if (!AddTaskWithBlockInQ(GetRpTaskQueue(), CS_CLIENT_TASKQ_UNINSTALL_CLIENT, block)) std::free(block);
}

void DispatchProcessedCommand(uint32_t id, const ServerCommandEntry& entry, const std::string& guid,
                              ICAResponseGen* respGen, HeartbeatState* state) {
  switch (id) {
    case kCmdSendProductStatus:
      state->command1Received = true;
      break;
    case kCmdRefreshRegStatus:
      if (!Siblings().support->GetClientRegStatus(&state->regStatus, 0)) {
        AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "GetClientRegStatus failed");
        state->regStatus = 0;
      }
      break;
    case kCmdSetAvBuild: {
      const uint8_t zeros[16] = {};
      if (!SetClientBlobData(kCommandDataDigestId, sizeof(zeros), zeros)) {
        AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "SetClientBlobData failed");
      }
      break;
    }
    case kCmdReEnroll: {
      std::string json;
      uint32_t error = 0;
      if (!GenerateJsonForReq(kReEnrollDataId, 2, 2, respGen, &json, &error)) {
        AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "GenerateJsonForSetReq() failed for : %d",
                 static_cast<int>(kReEnrollDataId));
      }
      SetReEnrollStatusFromIni(1);
      break;
    }
    case kCmdWithAckPayload:
      BuildCommand12Ack(respGen, state);
      break;
    case kCmdRemoteUninstall:
      QueueRemoteUninstall(guid, state);
      break;
    case CSP_CMD_ID_SP_UPGRADE_CMD:
      if (!StoreUpgradeCmdRecord(DB_ID_SP_UPDATE_STATUS_CMD_GUID, entry, guid)) {
        AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "SetClientBlobData failed for setting sp cmd guid.");
      }
      break;
    case CSP_CMD_ID_MIGRATION_CMD:
    case CSP_CMD_ID_UP_UPDATE_CMD:
    case CSP_CMD_ID_UPGRADE_CMD:
      if (id == CSP_CMD_ID_MIGRATION_CMD) {
        AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_PROGRESS,
                 " CSP_CMD_ID_MIGRATION_CMD cmd guid received in hear beat thread.");
      }
      AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_PROGRESS, "setting DB_ID_UP_UPDATE_STATUS_CMD_GUID cmd guid.");
      if (!StoreUpgradeCmdRecord(DB_ID_UP_UPDATE_STATUS_CMD_GUID, entry, guid)) {
        AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "SetClientBlobData failed for setting up cmd guid.");
      }
      break;
    default:
      break;
  }
}

// The agent uploads its logs itself when the server asks for them.
void RunPullLog() {
  AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_PROGRESS, "Pull Log CMD recevied.");
  char stored[kPathBytes + 1] = {};
  std::string subUrl;
  if (GetClientBlobData(DB_ID_PULL_LOG_SUB_URL, kPathBytes, stored)) {
    AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_PROGRESS, "Sucessfully Fetched the Sub URL %s", stored);
    subUrl = stored;
    AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_PROGRESS, "Sub URL %s", subUrl.c_str());
  }
  std::string serverUrl;
  std::string port;
  if (!GetServerUrlFromDat(&serverUrl, &port)) {
    AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "GetServerUrlFromDat failed...");
    return;
  }
  subUrl = "/" + subUrl;
  AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_PROGRESS, "Server info received from dat file Url:%s, SubUrl:%s, Port:%s",
           serverUrl.c_str(), subUrl.c_str(), port.c_str());
  if (ExecuteMachineInfo(serverUrl, subUrl, port)) {
    AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_PROGRESS, "Execute Installation Succeded...");
  } else {
    AGLOG_AS("RpProcessHeartbeatCommand", AG_LOG_FAILURE, "Execute Installation Failed...");
  }
}

}  // namespace

bool UpdateHeartbeatInterval(uint32_t* intervalMinutes) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  CTenantInfo* tenant = CTenantInfo::getInstance(false);
  if (tenant == nullptr) {
    AGLOG(AG_LOG_FAILURE, "getInstance() failed for TenantInfo, Exit.");
    return false;
  }
  uint32_t interval = 0;
  if (!GetClientBlobData(DB_ID_CLIENT_HEARTBEAT_INTERVAL, sizeof(interval), &interval)) {
    uint32_t* value = nullptr;
    if (!tenant->GetTenantInfoOfGivenKey("clientDefaultHeartBeatInterval", &value) || value == nullptr) {
      AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey failed for HeartBeat Interval.");
      std::free(value);
      CTenantInfo::release(tenant);
      return false;
    }
    interval = *value;
    std::free(value);
    if (!SetClientBlobData(DB_ID_CLIENT_HEARTBEAT_INTERVAL, sizeof(interval), &interval)) {
      AGLOG(AG_LOG_FAILURE, "SetClientBlobData() failed.");
    }
  }
  CTenantInfo::release(tenant);
  if (intervalMinutes != nullptr) *intervalMinutes = interval;
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool FetchRPConfig(IRPClient* rpClient, ICAResponseGen* respGen, RelayIntervals* intervals) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (respGen == nullptr || rpClient == nullptr || intervals == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input parameters.");
    return false;
  }
  ServerResponse* response = nullptr;
  if (rpClient->GetRPConfig(&response) == 0) {
    AGLOG(AG_LOG_FAILURE, "GetRPConfig failed");
    return false;
  }
  if (response != nullptr) {
    if (response->pCommands != nullptr) {
      for (uint32_t i = 0; i < response->dwCommandCount; ++i) {
        uint32_t id = 0;
        uint32_t status = 0;
        if (!RpReceiveAndProcessCommand(response->pCommands[i].pszCommandJson, rpClient, &id, &status, respGen, "",
                                        nullptr)) {
          AGLOG(AG_LOG_FAILURE, "RpReceiveAndProcessCommand() failed.");
        }
      }
    } else {
      CheckServerResponse(response);
    }
    rpClient->FreeServerResponse(response);
  }
  RelayIntervals stored;
  if (!GetClientBlobData(DB_ID_CA_RP_CONFIG_DATA, sizeof(stored), &stored)) {
    AGLOG(AG_LOG_FAILURE, "GetClientBlobData failed for DB_ID_CA_RP_CONFIG_DATA");
    AGLOG(AG_LOG_PROGRESS, "end");
    return false;
  }
  *intervals = stored;
  AGLOG(AG_LOG_PROGRESS, "rpHb: %d, rpfcfg: %d, rpreg: %d", static_cast<int>(stored.rpHb),
        static_cast<int>(stored.rpFcfg), static_cast<int>(stored.rpReg));
  AGLOG(AG_LOG_PROGRESS, "end");
  return true;
}

bool SendClientHeartbeat(IRPClient* rpClient, ICAResponseGen* respGen, ServerResponse** response) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (response == nullptr || rpClient == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CS response parser object not specified");
    return false;
  }
  uint32_t regStatus = 0;
  if (!Siblings().support->GetClientRegStatus(&regStatus, 0)) {
    AGLOG(AG_LOG_FAILURE, "GetClientRegStatus failed for CS");
    regStatus = 0;
  }
  const bool registered = regStatus == kRegisteredStatus;
  if (registered) {
    struct StatusItem {
      uint32_t id;
      uint32_t category;
    };
    static constexpr StatusItem kStatusBeforeHeartbeat[] = {{101, 1}, {102, 1}, {9, 2}, {131, 1}};
    for (const StatusItem& item : kStatusBeforeHeartbeat) {
      if (!GenerateAndSendStatusForReq(item.id, item.category, 1, rpClient, respGen, nullptr)) {
        AGLOG(AG_LOG_FAILURE, "GenerateAndSendStatusForReq failed(%lu). continuing", static_cast<unsigned long>(item.id));
      }
    }
  } else {
    AGLOG(AG_LOG_PROGRESS, "Not registered with CS");
  }

  // The server takes the status items in before it answers the heartbeat.
  if (!HeartbeatPause(kHeartbeatPauseMs)) {
    AGLOG(AG_LOG_PROGRESS, "Stop event fired during the heartbeat pause");
    return false;
  }

  std::string json;
  uint32_t error = 0;
  if (!GenerateJsonForReq(kHeartbeatDataId, 1, 1, respGen, &json, &error)) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForReq failed(%lu). continuing", static_cast<unsigned long>(kHeartbeatDataId));
    json.clear();
  }
  const ClientDataRecord record{2, 0, json.c_str()};
  if (!rpClient->SetClientData(&record, kHeartbeatDataId, response, registered ? 1 : 0)) {
    AGLOG(AG_LOG_FAILURE, "SetClientData failed");
    return false;
  }
  CheckServerResponse(*response);
  CheckConnStateAndNotifyAV();
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

void RpProcessHeartbeatCommand(const ServerCommandEntry& entry, IRPClient* rpClient, ICAResponseGen* respGen,
                               HeartbeatState* state) {
  CmdAck ack{};
  state->ackJson.clear();
  AGLOG(AG_LOG_FAILURE, "dwRetCmdID :- %d.", 0);
  const std::string guid = entry.pszCmdGuid != nullptr ? entry.pszCmdGuid : "";
  OwedCommandAck owed(static_cast<uint8_t>(entry.dwLeading & 0xFF));
  uint32_t id = 0;
  uint32_t status = 0;
  uint32_t ackStatus = kCmdAckDone;
  if (!RpReceiveAndProcessCommand(entry.pszCommandJson, rpClient, &id, &status, respGen, guid, &ack.pszAckPayload)) {
    AGLOG(AG_LOG_FAILURE, "RpReceiveAndProcessCommand() failed.");
    AGLOG(AG_LOG_FAILURE, "dwRetCmdID :- %d.", static_cast<int>(id));
    if (id == kCmdOsQuery) AGLOG(AG_LOG_FAILURE, "Received Commnad OS_QUERY.");
    ackStatus = kCmdAckFailed;
    if (id == kCmdPullLog) {
      RunPullLog();
      ackStatus = kCmdAckDone;
    }
    if (id == kCmdSetAvBuild) {
      AddTaskInQ(GetRpTaskQueue(), kInstallationStatusOnBuildCommand, CS_CLIENT_TASKQ_SEND_INSTALLATION_STATUS);
    }
  } else if (status == kCmdUnprocessed) {
    std::free(ack.pszAckPayload);
    return;
  } else {
    DispatchProcessedCommand(id, entry, guid, respGen, state);
  }

  if (id == kCmdRemoteUninstall || id == CSP_CMD_ID_SP_UPGRADE_CMD || guid.empty()) {
    std::free(ack.pszAckPayload);
    return;
  }
  uint8_t retryByte = 0;
  if (!HandleRetry(id, ackStatus, &retryByte)) AGLOG(AG_LOG_FAILURE, "HandleRetry failed");
  if (id == kCmdOsQuery && ackStatus > kCmdAckDone) {
    uint32_t osQueryStatus = ackStatus;
    if (GetOSQueryStatus(&osQueryStatus)) ackStatus = osQueryStatus;
  }
  ack.dwCmdId = id;
  CopyCmdGuid(&ack, guid.c_str());
  ack.dwStatus = ackStatus;
  ack.byRetry = retryByte;
  ack.byLeading = static_cast<uint8_t>(entry.dwLeading & 0xFF);
  if (!state->ackJson.empty()) {
    char* copy = static_cast<char*>(std::malloc(state->ackJson.size() + 1));
    std::free(ack.pszAckPayload);
    ack.pszAckPayload = copy;
    if (copy == nullptr) {
      AGLOG(AG_LOG_FAILURE, "malloc failed for CmdAck.pszAckPayload");
      return;
    }
    std::memcpy(copy, state->ackJson.c_str(), state->ackJson.size() + 1);
  }
  owed.SendOrStore(ack, rpClient, __func__);
  std::free(ack.pszAckPayload);
}

bool RpHeartbeatStep(IRPClient* rpClient, ICAResponseGen* respGen, HeartbeatState* state) {
  HeartbeatTimers& timers = state->timers;
  if (timers.onPrem) {
    if (timers.timeoutRPConfig) {
      rpClient->SetRPMode(1);
      if (!FetchRPConfig(rpClient, respGen, &timers.relay)) AGLOG(AG_LOG_FAILURE, "FetchRPConfig failed");
    } else {
      rpClient->SetRPMode(0);
    }
  }
  if (!timers.timeoutCSHeartbeat && !timers.timeoutRPHeartbeat) return false;

  AGLOG(AG_LOG_PROGRESS, "Sending heartbeat...");
  if (timers.onPrem) rpClient->SetRPMode(timers.timeoutRPHeartbeat ? 1 : 0);

  bool lastConnected = false;
  uint64_t now = 0;
  if (state->regStatus == kRegisteredStatus) {
    now = static_cast<uint64_t>(platform::GetClock().NowSeconds());
    lastConnected = SendObsoleteClientNotificationIfDue(rpClient, now);
    const bool avInstalled = Siblings().preinst->AGPreInstIsAvInstalled() != 0;
    if (avInstalled) CheckPolicyOfInstalledProduct(respGen);
    state->command1Received = false;
    state->remoteUninstallReceived = false;
    if (!StartPTPWebServer()) AGLOG(AG_LOG_FAILURE, "StartPTPWebServer failed");
    RequestDownloadLocationsIfDue(state, avInstalled);
  }

  ServerResponse* response = nullptr;
  if (!SendClientHeartbeat(rpClient, respGen, &response)) {
    AGLOG(AG_LOG_FAILURE, "SendClientHeartbeat failed. Continuing...");
    return true;
  }
  if (response == nullptr) return true;

  if (lastConnected) {
    if (!SetClientBlobData(DB_ID_CLIENT_LAST_CONNECTED_TIME, sizeof(now), &now)) {
      AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed");
    }
    if (!Siblings().support->SetLastConnectedTime(now)) AGLOG(AG_LOG_FAILURE, "SetLastConnectedTime failed");
  }
  if (response->pCommands != nullptr && response->dwCommandCount > 0) {
    std::vector<bool> skip;
    RPMarkCommandsToSkip(response->pCommands, response->dwCommandCount, rpClient, &skip);
    for (uint32_t i = 0; i < response->dwCommandCount && !HeartbeatStopRequested(); ++i) {
      if (!skip[i]) RpProcessHeartbeatCommand(response->pCommands[i], rpClient, respGen, state);
    }
  }
  if (state->command1Received &&
      !GenerateAndSendStatusForReq(kProductStatusDataId, 2, 1, rpClient, respGen, nullptr)) {
    AGLOG(AG_LOG_FAILURE, "Failed to send AV status ");
  }
  rpClient->FreeServerResponse(response);
  return true;
}
