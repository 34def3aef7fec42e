// Facts told to the protection product. Each notification is one request
// built through a response generator of its own: building the request is
// what carries it to the product, so the produced JSON is not used further.
#include "core/casupp/product_notifications.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include <json/json.h>

#include "core/common/aglog.h"
#include "core/config/tenant_info.h"
#include "core/genreq/response_json.h"
#include "core/rpclcore/core_notification.h"
#include "core/siblings/siblings.h"

namespace {

// Connection state last reported to the product; several threads check it
// without a lock, so two threads seeing one change may both notify.
std::atomic<uint32_t> g_lastConnectionState{0};

constexpr uint32_t kProductCategory = 2;
constexpr uint32_t kSetAction = 2;
constexpr uint32_t kRegisterAction = 3;
constexpr uint32_t kEmergencyRegister = 135;
constexpr uint32_t kEmergencyUnregister = 136;

bool ReadClientGuidText(std::string* guid) {
  char buffer[260] = {};
  if (!Siblings().support->GetClientGUIDText(buffer, sizeof(buffer)) || buffer[0] == '\0') {
    AGLOG_AS("NotifyDataChangeToAV", AG_LOG_FAILURE, "GetClientGUID failed");
    return false;
  }
  buffer[sizeof(buffer) - 1] = '\0';
  guid->assign(buffer);
  return true;
}

// Reads the tenant's "onPrem" flag for `routine`; false when absent.
bool ReadOnPremFlag(const char* routine) {
  CTenantInfo* info = CTenantInfo::getInstance(true);
  if (info == nullptr) return false;
  bool result = false;
  bool* value = nullptr;
  if (info->GetTenantInfoOfGivenKey("onPrem", &value) && value != nullptr) {
    result = *reinterpret_cast<const uint8_t*>(value) == 1;
  } else {
    AGLOG_AS(routine, AG_LOG_FAILURE, "GetTenantInfoOfGivenKey failed for %s", "onPrem");
  }
  std::free(value);
  CTenantInfo::release(info);
  return result;
}

}  // namespace

uint32_t GetLastConnectionState() { return g_lastConnectionState.load(); }

void ResetLastConnectionState() { g_lastConnectionState.store(0); }

bool NotifyDataChangeToAV(uint32_t actionId, const void* data, const char* secondData) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  ICAResponseGen* respGen = nullptr;
  try {
    Json::Value payload(Json::objectValue);
    switch (actionId) {
      case AIAV_ACTION_SET_CLIENT_GUID: {
        std::string guid;
        if (data == nullptr) {
          AGLOG(AG_LOG_PROGRESS, "Reading client GUID from agconf");
          if (!ReadClientGuidText(&guid)) return false;
        } else {
          guid = static_cast<const char*>(data);
        }
        payload["guid"] = guid;
        break;
      }
      case AIAV_ACTION_SET_EDR_TENANT_ID: {
        std::string tid;
        std::string guid;
        if (data == nullptr) {
          char tenantId[260] = {};
          if (!GetValueFromTenantInfo(TENANT_INFO_TENANT_ID, tenantId, sizeof(tenantId))) {
            AGLOG(AG_LOG_PROGRESS, "GetValueFromTenantInfo failed for TENANT_INFO_TENANT_ID");
            return false;
          }
          char encrypted[260] = {};
          if (!Siblings().support->EncryptTenantId(tenantId, encrypted, sizeof(encrypted))) {
            AGLOG(AG_LOG_PROGRESS, "EncryptTenantId failed ");
            return false;
          }
          encrypted[sizeof(encrypted) - 1] = '\0';
          tid = encrypted;
          AGLOG(AG_LOG_PROGRESS, "Reading client GUID from agconf");
          if (!ReadClientGuidText(&guid)) return false;
        } else {
          tid = static_cast<const char*>(data);
          guid = secondData != nullptr ? secondData : "";
        }
        payload["tid"] = tid;
        payload["guid"] = guid;
        break;
      }
      case AIAV_ACTION_SET_ROAMING_STATUS:
        if (data == nullptr) {
          AGLOG(AG_LOG_FAILURE, "Invalid parameter");
          return false;
        }
        payload["rsts"] = static_cast<Json::Int>(*static_cast<const uint32_t*>(data));
        break;
      default:
        break;
    }

    if (!Siblings().resp->CreateCAResponseGenObjNew(&respGen, NotifyClientCoreForRpTask) || respGen == nullptr) {
      AGLOG(AG_LOG_PROGRESS, "CreateCAResponseGenObjNew failed");
      return false;
    }
    if (!respGen->Init()) {
      Siblings().resp->DeleteCAResponseGenObj(respGen);
      return false;
    }
    std::string json;
    uint32_t error = 0;
    const bool sent = GenerateJsonForSetReq(actionId, kProductCategory, kSetAction, respGen,
                                            Json::FastWriter().write(payload), &json, &error);
    Siblings().resp->DeleteCAResponseGenObj(respGen);
    if (!sent) return false;
    AGLOG(AG_LOG_PROGRESS, "End");
    return true;
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Unknown exception occured");
    if (respGen != nullptr) Siblings().resp->DeleteCAResponseGenObj(respGen);
    return false;
  }
}

bool RegisterUnregisterCACallBackForAVEmergency(bool registerCallback) {
  AGLOG(AG_LOG_PROGRESS, "Start");
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
  const uint32_t requestId = registerCallback ? kEmergencyRegister : kEmergencyUnregister;
  std::string json;
  uint32_t error = 0;
  const bool done = GenerateJsonForReq(requestId, kProductCategory, kRegisterAction, respGen, &json, &error);
  respGen->Deinit();
  Siblings().resp->DeleteCAResponseGenObj(respGen);
  if (!done) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForSetReq() failed for : %lu. Error:%lu", static_cast<unsigned long>(requestId),
          static_cast<unsigned long>(error));
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool StartPTPWebServer() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  uint8_t ptpStatus = 0;
  if (!Siblings().support->GetPTPStatus(&ptpStatus)) {
    AGLOG(AG_LOG_PROGRESS, "PTP feature is disable");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "PTPStatus:(%d).", ptpStatus);
  if (ptpStatus == 1) {
    uint8_t webServerEnabled = 0;
    if (!Siblings().support->GetIsWebServerInstalled(&webServerEnabled)) {
      AGLOG(AG_LOG_PROGRESS, "Currently Web Server is disable");
      return false;
    }
    AGLOG(AG_LOG_PROGRESS, "bWebServerEnabled:(%d).", webServerEnabled);
    if (webServerEnabled == 1 && !NotifyStartWebServerToClient()) {
      AGLOG(AG_LOG_FAILURE, "NotifyStartWebServerToClient failed");
      return false;
    }
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool NotifyStartWebServerToClient() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  ICAResponseGen* respGen = nullptr;
  try {
    if (!Siblings().resp->CreateCAResponseGenObjNew(&respGen, NotifyClientCoreForRpTask) || respGen == nullptr) {
      AGLOG(AG_LOG_PROGRESS, "CreateCAResponseGenObjNew failed");
      return false;
    }
    if (!respGen->Init()) {
      AGLOG(AG_LOG_FAILURE, "ResponseGen init failed");
      Siblings().resp->DeleteCAResponseGenObj(respGen);
      return false;
    }
    Json::Value payload(Json::objectValue);
    payload["fromClient"] = 1;
    std::string json;
    uint32_t error = 0;
    if (!GenerateJsonForSetReq(CSP_CMD_ID_SET_CLIENT_START_WEB_SERVER, 1, kSetAction, respGen,
                               Json::FastWriter().write(payload), &json, &error)) {
      AGLOG(AG_LOG_FAILURE, "GenerateJsonForSetReq failed for CSP_CMD_ID_SET_CLIENT_START_WEB_SERVER:Error(%lu)",
            static_cast<unsigned long>(error));
      Siblings().resp->DeleteCAResponseGenObj(respGen);
      return false;
    }
    if (!respGen->Deinit()) AGLOG(AG_LOG_FAILURE, "ResponseGen Deinit failed");
    Siblings().resp->DeleteCAResponseGenObj(respGen);
    AGLOG(AG_LOG_PROGRESS, "End");
    return true;
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Unknown exception occured");
    if (respGen != nullptr) Siblings().resp->DeleteCAResponseGenObj(respGen);
    return false;
  }
}

bool IsOnPrem(bool* onPrem) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  if (onPrem != nullptr) *onPrem = ReadOnPremFlag(__func__);
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool CheckIfRoamingIsSupported(bool* supported) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (supported != nullptr) *supported = ReadOnPremFlag(__func__);
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

void CheckConnStateAndNotifyAV() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  uint32_t state = 0;
  if (!Siblings().support->GetClientConnectionStatus(&state)) {
    AGLOG(AG_LOG_PROGRESS, "GetClientConnectionStatus failed");
    state = 0;
  }
  if (state == g_lastConnectionState.load()) {
    AGLOG(AG_LOG_PROGRESS, "End");
    return;
  }
  g_lastConnectionState.store(state);
  // Anything but "through the relay" counts as not roaming.
  const uint32_t roaming = state == 2 ? 1 : 0;
  AGLOG(AG_LOG_PROGRESS, "Change in connection status: %d", static_cast<int>(roaming));
  if (!NotifyDataChangeToAV(AIAV_ACTION_SET_ROAMING_STATUS, &roaming, nullptr)) {
    AGLOG(AG_LOG_FAILURE, "NotifyDataChangeToAV failed for AIAV_ACTION_SET_ROAMING_STATUS: %d",
          static_cast<int>(roaming));
  }
  AGLOG(AG_LOG_PROGRESS, "End");
}
