// Pushing notifications, command data and status items to the server. A push
// that cannot be made is kept: notifications as pending records (list 15),
// status items by resetting their digest so the next heartbeat sends them
// again. Every routine runs on the caller's thread with the caller's RP
// client object.
#include "core/casupp/server_notifications.h"

#include <atomic>
#include <cstring>

#include "core/agcore/core_state.h"
#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/common/aglog.h"
#include "core/common/xuacomm.h"
#include "core/genreq/response_json.h"
#include "core/rpclcore/core_notification.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"

namespace {

// Set when the library loads: the heartbeat's very first status item 9 is
// not pushed (the product has nothing settled to report yet).
std::atomic<bool> g_skipFirstStatus9{true};

constexpr uint32_t kP2PSubnetId = 60;
constexpr uint32_t kP2POsVersionId = 62;
constexpr uint32_t kP2PServerIpUrlId = 58;
constexpr uint32_t kP2PServerHostUrlId = 59;
constexpr uint32_t kP2PRestoredMarkId = 61;
constexpr size_t kP2PTextMax = 260;

// Gives the response back to the RP client object that made it.
void FreeResponse(IRPClient* rpClient, ServerResponse* response) {
  if (response != nullptr) rpClient->FreeServerResponse(response);
}

bool StoreP2PText(uint32_t id, const Json::Value& value) {
  if (!value.isString() || value.asString().empty()) return true;
  // Stored as text with its NUL, cut to the store's 260-byte limit.
  std::string text = value.asString().substr(0, kP2PTextMax - 1);
  return SetClientBlobData(id, static_cast<uint32_t>(text.size() + 1), text.c_str());
}

}  // namespace

void ResetFirstStatusSkipFlag() { g_skipFirstStatus9.store(true); }

bool HandleErrorCodes(const ServerResponse* response) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (response == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input parameters");
    return false;
  }
  bool result = false;
  for (uint32_t i = 0; response->pErrorCodes != nullptr && i < response->dwErrorCount; ++i) {
    const uint32_t code = response->pErrorCodes[i];
    if (code != kServerErrorClientUnknown && code != kServerErrorClientUnknown2) continue;
    AGLOG(AG_LOG_PROGRESS, "Server not available. Client is being Uninstalled.");
    result = Siblings().preinst->AGPreInstUninstall() != 0;
    if (!result) AGLOG(AG_LOG_FAILURE, "AGPreInstUninstall failed");
    NotifyToXUAForUninstallation(true);
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return result;
}

void CheckServerResponse(const ServerResponse* response) {
  if (response != nullptr && !response->bSuccess) HandleErrorCodes(response);
}

bool SendNotificationToServer(uint32_t dataId, uint32_t category, uint32_t action, uint32_t notificationKind,
                              IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  ServerResponse* response = nullptr;
  bool result = false;
  try {
    ICAResponseGen* respGen = nullptr;
    if (!Siblings().resp->CreateCAResponseGenObjNew(&respGen, NotifyClientCoreForRpTask) || respGen == nullptr) {
      AGLOG(AG_LOG_FAILURE, "CreateCAResponseGenObjNew failed");
      return false;
    }
    if (!respGen->Init()) {
      AGLOG(AG_LOG_FAILURE, "RespGen init failed");
      Siblings().resp->DeleteCAResponseGenObj(respGen);
      return false;
    }
    std::string json;
    uint32_t error = 0;
    const bool built = GenerateJsonForReq(dataId, category, action, respGen, &json, &error);
    respGen->Deinit();
    Siblings().resp->DeleteCAResponseGenObj(respGen);
    if (!built) {
      AGLOG(AG_LOG_FAILURE, "GenerateJsonForSetReq failed for :(%lu)", static_cast<unsigned long>(dataId));
      return false;
    }

    const Json::Value payload = GetResponsePayload(json);
    if (payload.empty() || !payload.isObject()) {
      AGLOG(AG_LOG_FAILURE, "Empty reponse found");
      return false;
    }
    const std::string text = Json::FastWriter().write(payload);

    if (rpClient != nullptr && rpClient->SendNotification(notificationKind, dataId, text.c_str(), &response)) {
      CheckServerResponse(response);
      CheckConnStateAndNotifyAV();
      result = true;
    } else {
      AGLOG(AG_LOG_FAILURE, "SendNotification failed for :(%lu)", static_cast<unsigned long>(dataId));
      result = StorePendingNotification(notificationKind, dataId, text);
      if (!result) {
        AGLOG(AG_LOG_FAILURE, "SetClientPendingCommands failed for CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION");
      }
    }
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Unhandle exception caught");
    result = false;
  }
  if (rpClient != nullptr) FreeResponse(rpClient, response);
  AGLOG(AG_LOG_PROGRESS, "End");
  return result;
}

bool PushDataToCS(IRPClient* rpClient, const ResponseDetails* responseDetailsList) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  if (responseDetailsList == nullptr) {
    AGLOG(AG_LOG_PASSED_OVER, "pResponseDetailsList NULL");
    return true;
  }
  ICSPMsgGen* msgGen = nullptr;
  if (!Siblings().msggen->CreateICSPMsgGenObj(&msgGen) || msgGen == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CreateICSPMsgGenObj() failed");
    return false;
  }
  CAResponse response{kCAResponseKindList, const_cast<ResponseDetails*>(responseDetailsList)};
  char* text = nullptr;
  if (!msgGen->CreateResponseMsg(&response, &text)) {
    AGLOG(AG_LOG_FAILURE, "CreateResponseMsg failed");
    Siblings().msggen->DeleteICSPMsgGenObj(msgGen);
    return false;
  }

  bool result = true;
  for (const ResponseDetails* entry = responseDetailsList; entry != nullptr; entry = entry->next) {
    if (entry->id != 104) continue;
    const ClientDataRecord record{4, 1, text};
    ServerResponse* serverResponse = nullptr;
    AGLOG(AG_LOG_VERBOSE, "Before SetClientData");
    if (rpClient != nullptr && rpClient->SetClientData(&record, 104, &serverResponse, 1)) {
      CheckServerResponse(serverResponse);
      CheckConnStateAndNotifyAV();
    } else {
      AGLOG(AG_LOG_FAILURE, "SetClientData failed continue...");
      result = false;
    }
    if (rpClient != nullptr) FreeResponse(rpClient, serverResponse);
    break;
  }

  if (text != nullptr) msgGen->FreeResponseMsg(text);
  Siblings().msggen->DeleteICSPMsgGenObj(msgGen);
  AGLOG(AG_LOG_PROGRESS, "Exit");
  return result;
}

bool GenerateAndSendStatusForReq(uint32_t dataId, uint32_t category, int32_t action, IRPClient* rpClient,
                                 ICAResponseGen* respGen, bool* updatedUrlSent) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (dataId == 9 && g_skipFirstStatus9.exchange(false)) {
    AGLOG(AG_LOG_VERBOSE, "Skipped first data id 9.");
    return true;
  }
  AGLOG(AG_LOG_VERBOSE, "id:(%lu), context:(%lu), type:(%lu)", static_cast<unsigned long>(dataId),
        static_cast<unsigned long>(category), static_cast<unsigned long>(action));
  if (updatedUrlSent != nullptr) *updatedUrlSent = false;

  uint32_t digestSlot = 0;
  switch (dataId) {
    case 9: digestSlot = 21; break;
    case 101: digestSlot = 17; break;
    case 102: digestSlot = 19; break;
    case 131: {
      uint8_t installed = 0;
      if (!Siblings().support->GetIsWebServerInstalled(&installed) || installed != 1) {
        AGLOG(AG_LOG_PROGRESS, "Currently Web Server is disable So no need to send p2p update info");
        return false;
      }
      break;
    }
    default:
      return false;
  }

  std::string json;
  uint32_t error = 0;
  if (!GenerateJsonForReq(dataId, category, static_cast<uint32_t>(action), respGen, &json, &error)) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForReq failed for(%lu).Error(%lu)", static_cast<unsigned long>(dataId),
          static_cast<unsigned long>(error));
    AGLOG(AG_LOG_PROGRESS, "End");
    return true;
  }

  const ClientDataRecord record{2, 1, json.c_str()};
  ServerResponse* response = nullptr;
  if (rpClient != nullptr && rpClient->SetClientData(&record, dataId, &response, 1)) {
    if (response == nullptr || !response->bSuccess) {
      HandleErrorCodes(response);
      AGLOG(AG_LOG_FAILURE, "Failed status received from CS");
      if (dataId != 131 && !ResetNewOldMd5ById(digestSlot)) {
        AGLOG(AG_LOG_PASSED_OVER, "ResetNewOldMd5ById failed. Continuing...");
      }
    }
    CheckConnStateAndNotifyAV();
  } else {
    AGLOG(AG_LOG_FAILURE, "SetClientData failed. Continuing...");
    if (dataId == 131) {
      if (!RevertP2PDataAfterSendingFailed(GetResponsePayload(json))) {
        AGLOG(AG_LOG_PASSED_OVER, "RevertP2PDataAfterSendingFailed failed. Continuing...");
      }
    } else if (!ResetNewOldMd5ById(digestSlot)) {
      AGLOG(AG_LOG_PASSED_OVER, "ResetNewOldMd5ById failed. Continuing...");
    }
  }
  if (rpClient != nullptr) FreeResponse(rpClient, response);

  if (dataId == 101 && !json.empty()) {
    AGLOG(AG_LOG_PROGRESS, "Send the updated AV download url to server");
    if (updatedUrlSent != nullptr) *updatedUrlSent = true;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool ResetNewOldMd5ById(uint32_t slot) {
  if (slot != 17 && slot != 19 && slot != 21 && slot != 23 && slot != 49) return false;
  uint8_t digest[16] = {};
  if (!GetClientBlobData(slot + 1, sizeof(digest), digest)) std::memset(digest, 0, sizeof(digest));
  return SetClientBlobData(slot, sizeof(digest), digest);
}

bool RevertP2PDataAfterSendingFailed(const Json::Value& payload) {
  if (!payload.isObject()) return false;
  bool done = StoreP2PText(kP2PSubnetId, payload.get("sbnet", Json::Value()));
  done = StoreP2PText(kP2POsVersionId, payload.get("osv", Json::Value())) && done;
  const Json::Value urls = payload.get("srvurls", Json::Value());
  if (urls.isObject()) {
    done = StoreP2PText(kP2PServerIpUrlId, urls.get("srvipurl", Json::Value())) && done;
    done = StoreP2PText(kP2PServerHostUrlId, urls.get("srvhosturl", Json::Value())) && done;
  }
  // Marks the P2P values as restored-but-unsent, so the next cycle offers
  // them again.
  const uint16_t restored = 1;
  return SetClientBlobData(kP2PRestoredMarkId, sizeof(restored), &restored) && done;
}

bool CheckAndSendUninstallNotification() {
  AGLOG(AG_LOG_FAILURE, "Entry");
  uint32_t flag = 0;
  if (!GetClientBlobData(DB_ID_CLIENT_UNINSTALL_NOTIFICATION, sizeof(flag), &flag)) {
    AGLOG(AG_LOG_FAILURE, "GetClientBlobData failed for DB_ID_CLIENT_UNINSTALL_NOTIFICATION");
    return false;
  }
  if (flag == 1) {
    NotifyToXUAForUninstallation(true);
    const bool sent = GetCoreState().rpClient.Use(
        [](IRPClient* rpClient) { return SendNotificationToServer(138, 1, 1, 28, rpClient); });
    if (!sent) {
      AGLOG(AG_LOG_FAILURE, "SendNotificationToServer : CSP_CMD_ID_UNINSTALL_NOTIFICATION failed");
    }
    if (!DeleteClientBlobData(DB_ID_CLIENT_UNINSTALL_NOTIFICATION)) {
      AGLOG(AG_LOG_FAILURE, "DeleteClientBlobData failed for DB_ID_CLIENT_UNINSTALL_NOTIFICATION");
    }
  }
  AGLOG(AG_LOG_FAILURE, "Exit");
  return true;
}

Json::Value GetResponsePayload(const std::string& text) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  try {
    if (text.empty()) return Json::Value();
    AGLOG(AG_LOG_VERBOSE, " strResponse: %s", text.c_str());
    Json::Value root;
    Json::Reader reader(Json::Features::all());
    if (!reader.parse(text, root)) {
      AGLOG(AG_LOG_FAILURE, "parse failed");
      return Json::Value();
    }
    if (!root.empty() && root.isArray() && root.size() > 0) {
      const Json::Value first = root.get(Json::ArrayIndex{0}, Json::Value(Json::objectValue));
      if (!first.empty() && first.isObject()) {
        if (first.isMember("payload")) {
          AGLOG(AG_LOG_PROGRESS, "end");
          return first["payload"];
        }
        AGLOG(AG_LOG_FAILURE, "jvPayload empty");
        return Json::Value();
      }
    }
    AGLOG(AG_LOG_FAILURE, "Invalid json object");
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Unknown exception occured");
  }
  return Json::Value();
}

bool ParseSingleRespNode(const std::string& text, Json::Value* node) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (node == nullptr) return false;
  try {
    Json::Value root;
    Json::Reader reader(Json::Features::all());
    if (!reader.parse(text, root)) {
      AGLOG(AG_LOG_FAILURE, "Failed to parse json");
      return false;
    }
    if (!root.isArray() || root.size() != 1) {
      AGLOG(AG_LOG_FAILURE, "Response is not array with single node");
      return false;
    }
    *node = root[0];
    if (!node->isObject() || !node->isMember("dataId") || !node->isMember("payload")) {
      AGLOG(AG_LOG_PROGRESS, "Response node not found");
      return false;
    }
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Unknown exception occured");
    *node = Json::Value();
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}
