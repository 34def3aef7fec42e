// The messages to the unified agent. Each one holds the library lock from
// its connection step to its last call into the library (xua_library.h). A
// failed message is logged and reported by false; the "agadv.ini" flags make
// the heartbeat's follow-up work try the registration and the upgrade notice
// again on later cycles.
#include "core/common/xuacomm.h"

#include <agsuite/uaint.h>
#include <json/json.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/common/agadv_ini.h"
#include "core/common/aglog.h"
#include "core/common/xua_guard.h"
#include "core/config/tenant_info.h"
#include "core/siblings/siblings.h"
#include "platform/ini.h"

namespace {

constexpr uint32_t kProductIdSize = 260;
constexpr uint32_t kUdiSize = 100;
constexpr uint32_t kRootDirUnits = 260;
constexpr uint32_t kVersionSize = 20;
// Longest texts taken over from the tenant file, without the NUL.
constexpr size_t kTenantIdChars = 39;
constexpr size_t kLocaleChars = 5;
constexpr size_t kServerUrlChars = 259;
constexpr const char* kUninstallCommandId = "uninstall-ms-cmd-001";
constexpr const char* kUpgradeCommandId = "upgrade-ms-cmd-001";
constexpr const char16_t* kReEnrollKey = u"ReEnroll";
constexpr const char16_t* kUpgradeNotifiedKey = u"NotifyXUAForUpgrade";

std::string CompactJson(const Json::Value& value) {
  Json::FastWriter writer;
  writer.omitEndingLineFeed();
  return writer.write(value);
}

bool GetProductId(char (&productId)[kProductIdSize], const char* routine) {
  if (!Siblings().support->GetProductIDForXUA(productId, kProductIdSize)) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "GetProductIDForXUA Failed");
    return false;
  }
  return true;
}

// A tenant value cut to `maxChars`; false when the key is missing.
bool ReadTenantText(CTenantInfo* tenant, const char* key, size_t maxChars, std::string* value) {
  char* text = nullptr;
  if (!tenant->GetTenantInfoOfGivenKey(key, &text) || text == nullptr) return false;
  *value = std::string(text, strnlen(text, maxChars));
  free(text);
  return true;
}

// The library's response, if any, goes back to the library.
void GiveBackResponse(char* response, PFN_UA_FREE_RESPONSE freeResponse, const char* routine, bool logIt) {
  if (response == nullptr) return;
  if (logIt) AGLOG_AS(routine, AG_LOG_VERBOSE, "strResponseJson : %s", response);
  freeResponse(response);
}

enum class CommandOutcome { kNotResolved, kAccepted, kRefused };

// Sends `json` with "ProcessCommand"; call with the library lock held and
// after the connection step.
CommandOutcome ProcessCommandWithXUA(uint32_t command, const std::string& json, const char* routine) {
  uint32_t error = 0;
  auto process = reinterpret_cast<PFN_UA_PROCESS_COMMAND>(ResolveUaintExport(kUaProcessCommandExport, &error));
  if (process == nullptr) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "GetProcAddress Failed for ProcessCommand Error code:(%ld)",
             static_cast<long>(error));
    return CommandOutcome::kNotResolved;
  }
  auto freeResponse = reinterpret_cast<PFN_UA_FREE_RESPONSE>(ResolveUaintExport(kUaFreeResponseExport, &error));
  if (freeResponse == nullptr) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "GetProcAddress Failed for FreeResponse Error code:(%ld)",
             static_cast<long>(error));
    return CommandOutcome::kNotResolved;
  }
  char* response = nullptr;
  const int32_t status = process(command, json.c_str(), &response);
  if (status != 0) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "pfnProcessCommand Failed. Return Code: %d", static_cast<int>(status));
    // A refusal may still come with a text; it is the library's to free.
    GiveBackResponse(response, freeResponse, routine, false);
    return CommandOutcome::kRefused;
  }
  GiveBackResponse(response, freeResponse, routine, false);
  return CommandOutcome::kAccepted;
}

bool ReadAdvFlag(const char16_t* key, const char* logFormat, const char* routine, uint32_t* value) {
  std::u16string path;
  if (value == nullptr || !GetAgAdvIniPath(&path)) return false;
  *value = platform::GetPrivateProfileIntW(kAvConfigFlagsSection, key, 0, path.c_str());
  AGLOG_AS(routine, AG_LOG_PROGRESS, logFormat, static_cast<int>(*value));
  return true;
}

bool WriteAdvFlag(const char16_t* key, bool set, const char* routine) {
  std::u16string path;
  if (!GetAgAdvIniPath(&path)) return false;
  if (!platform::WritePrivateProfileStringW(kAvConfigFlagsSection, key, set ? u"1" : u"0", path.c_str())) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "WritePrivateProfileStringW failed");
    return false;
  }
  return true;
}

}  // namespace

bool SendDataToXUA() try {
  AGLOG(AG_LOG_PROGRESS, "Start");
  char productId[kProductIdSize] = {};
  if (!GetProductId(productId, __func__)) return false;
  char udi[kUdiSize] = {};
  if (!GetUDIFromXUA(udi, kUdiSize)) {
    AGLOG(AG_LOG_FAILURE, "GetUDIFromXUA Failed");
    return false;
  }
  ScopedTenantInfo tenant(false);
  if (!tenant) {
    AGLOG(AG_LOG_FAILURE, "getInstance() failed.");
    return false;
  }
  std::string tenantId;
  std::string locale;
  std::string serverUrl;
  if (!ReadTenantText(tenant.get(), TENANT_INFO_TENANT_ID, kTenantIdChars, &tenantId)) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for TENANT_INFO_TENANT_ID.");
    return false;
  }
  if (!ReadTenantText(tenant.get(), TENANT_INFO_CLIENT_LOCALE, kLocaleChars, &locale)) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for TENANT_INFO_CLIENT_LOCALE.");
    return false;
  }
  if (!ReadTenantText(tenant.get(), TENANT_INFO_TENANT_CSURL, kServerUrlChars, &serverUrl)) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for TENANT_INFO_TENANT_CSURL.");
    return false;
  }

  Json::Value registration(Json::objectValue);
  registration["dvid"] = udi;
  registration["tid"] = tenantId;
  registration["mid"] = "MSG-003";
  registration["dtyp"] = 15;
  registration["pid"] = productId;
  registration["v"] = "1.0";
  registration["loc"] = locale;
  Json::Value item(Json::objectValue);
  item["id"] = 1001;
  item["stscd"] = 1;
  item["stsmsg"] = "register";
  item["prdid"] = productId;
  item["command"] = "register";
  item["payload"] = "";
  registration["dpld"].append(item);
  const std::string json = CompactJson(registration);
  AGLOG(AG_LOG_FAILURE, "QAC Json:%s", json.c_str());

  const auto lock = LockUaintLibrary();
  if (!ConnectToXUA(__func__)) return false;
  uint32_t error = 0;
  auto sendData = reinterpret_cast<PFN_UA_SEND_DATA>(ResolveUaintExport(kUaSendDataExport, &error));
  if (sendData == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetProcAddress Failed for SendData Error code:(%ld)", static_cast<long>(error));
    return false;
  }
  auto freeResponse = reinterpret_cast<PFN_UA_FREE_RESPONSE>(ResolveUaintExport(kUaFreeResponseExport, &error));
  if (freeResponse == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetProcAddress Failed for FreeResponse Error code:(%ld)", static_cast<long>(error));
    return false;
  }
  char* response = nullptr;
  const int32_t status = sendData(serverUrl.c_str(), json.c_str(), &response);
  if (status != 0) {
    AGLOG(AG_LOG_FAILURE, "pfnSendData Failed. Return Code: %d", static_cast<int>(status));
    GiveBackResponse(response, freeResponse, __func__, false);
    return false;
  }
  GiveBackResponse(response, freeResponse, __func__, true);
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}
XUA_CATCH_AND_LOG(false)

bool NotifyToXUAForUninstallation(bool succeeded) try {
  AGLOG(AG_LOG_PROGRESS, "Start");
  char productId[kProductIdSize] = {};
  if (!GetProductId(productId, __func__)) return false;
  Json::Value notice(Json::objectValue);
  notice["prdid"] = productId;
  notice["marksuccess"] = succeeded;
  notice["cmdid"] = kUninstallCommandId;
  const std::string json = CompactJson(notice);
  AGLOG(AG_LOG_FAILURE, "Client Uninstall Response Json:%s", json.c_str());

  const auto lock = LockUaintLibrary();
  if (!ConnectToXUA(__func__)) return false;
  const CommandOutcome outcome = ProcessCommandWithXUA(kUaCommandUninstalled, json, __func__);
  // The agent is going away: whatever the answer, the subscription ends here.
  UnsubcribeCommnWithXUA();
  AGLOG(AG_LOG_PROGRESS, "End");
  return outcome == CommandOutcome::kAccepted;
}
XUA_CATCH_AND_LOG(false)

bool NotifyToXUAForUpgradation() try {
  AGLOG(AG_LOG_PROGRESS, "Start");
  char16_t rootDir[kRootDirUnits] = {};
  if (!Siblings().support->GetClientAgentRootDir(rootDir, kRootDirUnits)) {
    AGLOG(AG_LOG_FAILURE, "GetClientAgentRootDir failed");
    return false;
  }
  uint8_t parts[4] = {};
  if (!Siblings().version->GetProductVersion(rootDir, parts)) {
    // The version library reports failure without a system code.
    AGLOG(AG_LOG_FAILURE, "GetProductVersion failed(%lu)", 0UL);
    return false;
  }
  char version[kVersionSize] = {};
  const int written = std::snprintf(version, sizeof version, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  if (written < 0 || written >= static_cast<int>(sizeof version)) {
    AGLOG(AG_LOG_FAILURE, "StringCchPrintfA failed for Client Version \tError code:(%X)", 0x8007007AU);
    return false;
  }
  char productId[kProductIdSize] = {};
  if (!GetProductId(productId, __func__)) return false;
  Json::Value notice(Json::objectValue);
  notice["prdver"] = version;
  notice["prdid"] = productId;
  notice["marksuccess"] = true;
  notice["cmdid"] = kUpgradeCommandId;
  const std::string json = CompactJson(notice);
  AGLOG(AG_LOG_FAILURE, "Client Upgrade QAC Json:%s", json.c_str());

  const auto lock = LockUaintLibrary();
  if (!ConnectToXUA(__func__)) return false;
  const bool accepted = ProcessCommandWithXUA(kUaCommandUpgraded, json, __func__) == CommandOutcome::kAccepted;
  AGLOG(AG_LOG_PROGRESS, "End");
  return accepted;
}
XUA_CATCH_AND_LOG(false)

bool GetUDIFromXUA(char* buffer, uint32_t size) try {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  if (buffer == nullptr || size == 0) {
    AGLOG(AG_LOG_FAILURE, "NULL Parameter Received");
    return false;
  }
  const auto lock = LockUaintLibrary();
  if (!ConnectToXUA(__func__)) return false;
  uint32_t error = 0;
  auto getUdi = reinterpret_cast<PFN_UA_GET_UDI>(ResolveUaintExport(kUaGetUdiExport, &error));
  if (getUdi == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetProcAddress Failed for pfnGetUdiFrmQA Error code:(%d).", static_cast<int>(error));
    return false;
  }
  char udi[kUaUdiBufferSize] = {};
  if (getUdi(udi) != 0) {
    AGLOG(AG_LOG_FAILURE, "pfnGetUdiFrmQA Failed");
    return false;
  }
  udi[kUaUdiBufferSize - 1] = '\0';
  // Copied as far as it fits; an identifier that does not fit whole fails.
  const size_t length = strnlen(udi, kUaUdiBufferSize);
  const size_t copied = length < size ? length : size - 1;
  std::memcpy(buffer, udi, copied);
  buffer[copied] = '\0';
  if (copied < length) {
    AGLOG(AG_LOG_FAILURE, "StringCchCopyA Failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "exit");
  return true;
}
XUA_CATCH_AND_LOG(false)

bool GetReEnrollStatusFromIni(uint32_t* value) try {
  return ReadAdvFlag(kReEnrollKey, "dwReEnrollFlagStatus :- %d", __func__, value);
}
XUA_CATCH_AND_LOG(false)

bool SetReEnrollStatusFromIni(uint32_t value) try { return WriteAdvFlag(kReEnrollKey, value == 1, __func__); }
XUA_CATCH_AND_LOG(false)

bool GetUpgradeNotificationStatusForXUA(uint32_t* value) try {
  return ReadAdvFlag(kUpgradeNotifiedKey, "dwNotifyToXUAForUpgrade :- %d", __func__, value);
}
XUA_CATCH_AND_LOG(false)

bool SetUpgradeNotificationForXUA(uint32_t value) try {
  return WriteAdvFlag(kUpgradeNotifiedKey, value == 1, __func__);
}
XUA_CATCH_AND_LOG(false)

void GetUAUpgradeStatus(uint8_t* status) {
  std::u16string path;
  if (!GetAgAdvIniPath(&path)) return;
  *status = static_cast<uint8_t>(platform::GetPrivateProfileIntW(kAvConfigFlagsSection, u"isuaroleassign", 0,
                                                                  path.c_str()));
}

void SetUAUpgradeStatus(bool status) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  WriteAdvFlag(u"isuaroleassign", status, __func__);
  AGLOG(AG_LOG_PROGRESS, "End");
}
