// Upgrade handling around the agent's own upgrade: the upgrade data left in
// the agent INI for the new agent, the acknowledgement of the upgrade command
// once the new agent runs, and the INI flags the duplicate-command check and
// the unified-agent upgrade step consult.
#include "core/casupp/upgrade.h"

#include <json/json.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/agadv_ini.h"
#include "core/common/aglog.h"
#include "core/common/xuacomm.h"
#include "core/config/paths.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/ini.h"
#include "platform/named_event.h"
#include "platform/utf.h"

namespace {

// Layout of the upgrade data record ("DATA_FOR_UPGRADE", 6356 bytes).
constexpr size_t kGuidOffset = 0;
constexpr size_t kUpgradeTypeOffset = 100;
constexpr size_t kConsentOffset = 104;
constexpr size_t kTargetVersionOffset = 376;
constexpr size_t kAvFromCdnOffset = 1156;
constexpr size_t kUaFromCdnOffset = 1676;
constexpr size_t kAvFromUaOffset = 2716;
constexpr size_t kUaFromUaOffset = 3236;
constexpr size_t kAvFromServerOffset = 4276;
constexpr size_t kUaFromServerOffset = 4796;
constexpr size_t kWideFieldUnits = 260;

// Download-location record: 8192 bytes of 1024-byte slots.
constexpr uint32_t kLocationRecordSize = 8192;
constexpr size_t kSlotBytes = 1024;
constexpr uint32_t DB_ID_AV_DOWNLOAD_URLS = 40;
constexpr uint32_t DB_ID_MINOR_UPGRADE_URLS = 46;
constexpr uint32_t DB_ID_UA_DOWNLOAD_URLS = 69;

constexpr const char16_t* kUpgradeDataSection = u"DATA_FOR_UPGRADE";
constexpr const char16_t* kResultSection = u"UPGRD_RESULT_INFO";
constexpr const char16_t* kResultKey = u"InstallResult";
constexpr const char* kUpUpgradeEventName = "Global\\VX_Up_Upgrd_Status";

uint32_t ReadU32(const uint8_t* record, size_t offset) {
  uint32_t value = 0;
  std::memcpy(&value, record + offset, sizeof(value));
  return value;
}

std::string NarrowField(const uint8_t* record, size_t offset, size_t maxBytes) {
  const char* text = reinterpret_cast<const char*>(record + offset);
  return std::string(text, strnlen(text, maxBytes));
}

// A wide field of the record converted to UTF-8 (empty when it does not convert).
std::string WideField(const uint8_t* record, size_t offset) {
  char16_t units[kWideFieldUnits] = {};
  std::memcpy(units, record + offset, sizeof(units));
  auto utf8 = platform::Utf16ToUtf8(std::u16string_view(units, platform::U16Length(units, kWideFieldUnits)));
  return utf8 ? *utf8 : std::string();
}

void PutSlot(uint8_t* locations, size_t slotOffset, const std::string& text) {
  std::memcpy(locations + slotOffset, text.data(), std::min(text.size(), kSlotBytes - 1));
}

// Module folder + result file name, with a separator between them.
bool ResultIniPath(const char16_t* fileName, std::u16string* path) {
  char16_t folder[260] = {};
  if (!Siblings().support->GetModulePathW(folder, 260)) return false;
  std::u16string result(folder, platform::U16Length(folder, 260));
  if (result.empty()) return false;
  if (result.back() != u'/' && result.back() != u'\\') result += u'/';
  result += fileName;
  *path = std::move(result);
  return true;
}

// The system error of a profile read that gave nothing: a missing file or key
// reads as "file not found", as on Windows.
uint32_t ProfileReadError() { return errno != 0 ? platform::ErrorFromErrno(errno) : platform::kErrorFileNotFound; }

// "InstallResult" of a result file, as the upgrade tool wrote it; false when
// the file or the key is missing or empty (`error` then holds the cause).
bool ReadInstallResult(const std::u16string& iniPath, std::string* value, uint32_t* error) {
  char16_t text[260] = {};
  errno = 0;
  if (platform::GetPrivateProfileStringW(kResultSection, kResultKey, u"", text, 260, iniPath.c_str()) == 0) {
    *error = ProfileReadError();
    return false;
  }
  *value = platform::Utf16ToUtf8(text).value_or("");
  return true;
}

// Which result file and command record belong to an acknowledgement task.
const char16_t* ResultFileOf(uint32_t taskType) { return taskType == 116 ? u"SPResult.ini" : u"UPResult.ini"; }
uint32_t CmdRecordIdOf(uint32_t taskType) {
  return taskType == 116 ? DB_ID_SP_UPDATE_STATUS_CMD_GUID : DB_ID_UP_UPDATE_STATUS_CMD_GUID;
}

// One acknowledgement at a time: the two task performers may both hold an
// acknowledgement task of the same upgrade, and the second must find the
// first one's outcome (record deleted, result consumed) before it reads.
std::mutex& UpgradeCmdAckLock() {
  static std::mutex lock;
  return lock;
}

// Once the acknowledgement reached the server or the pending list, its result
// is removed from the result file: no later event and no later start sends it
// again, and a result left over never answers the next upgrade command.
void ConsumeInstallResult(const std::u16string& iniPath) {
  if (!platform::WritePrivateProfileStringW(kResultSection, kResultKey, nullptr, iniPath.c_str())) {
    AGLOG_AS("SendUpgradeCmdAck", AG_LOG_FAILURE, "Removing InstallResult failed, Error:(%lu)",
             static_cast<unsigned long>(platform::ErrorFromErrno(errno)));
  }
}

// Step 8 and 9: the download locations carried by the upgrade data. Its lines
// are those of HandleUpgradationScenario.
constexpr const char* kScenarioRoutine = "HandleUpgradationScenario";
bool StoreUpgradeLocations(const uint8_t* record, uint32_t upgradeType) {
  std::vector<uint8_t> locations(kLocationRecordSize, 0);
  const std::string avFromUa = WideField(record, kAvFromUaOffset);
  const std::string avFromCdn = WideField(record, kAvFromCdnOffset);
  const std::string avFromServer = WideField(record, kAvFromServerOffset);
  PutSlot(locations.data(), 0, avFromUa);
  PutSlot(locations.data(), 0x400, avFromCdn);
  PutSlot(locations.data(), 0x800, avFromServer);
  AGLOG_AS(kScenarioRoutine, AG_LOG_PROGRESS, "AV build URLs. FromUA:(%s), FromServer:(%s), FromCDN:(%s)",
           avFromUa.c_str(), avFromServer.c_str(), avFromCdn.c_str());

  const std::string uaFromUa = WideField(record, kUaFromUaOffset);
  const std::string uaFromCdn = WideField(record, kUaFromCdnOffset);
  const std::string uaFromServer = WideField(record, kUaFromServerOffset);
  if (!uaFromUa.empty() || !uaFromCdn.empty() || !uaFromServer.empty()) {
    AGLOG_AS(kScenarioRoutine, AG_LOG_PROGRESS,
             "UA was present on this client so storing UA download URLs. FromUA:(%s), FromServer:(%s), FromCDN:(%s)",
             uaFromUa.c_str(), uaFromServer.c_str(), uaFromCdn.c_str());
    PutSlot(locations.data(), 0x1400, uaFromUa);
    PutSlot(locations.data(), 0x1800, uaFromCdn);
    PutSlot(locations.data(), 0x1C00, uaFromServer);
  } else {
    AGLOG_AS(kScenarioRoutine, AG_LOG_PROGRESS, "UA was not present on this client");
  }

  uint32_t lastId = 0;
  bool lastStored = false;
  if (upgradeType == 1) {
    std::vector<uint8_t> uaRecord(kLocationRecordSize, 0);
    if (!GetClientBlobData(DB_ID_UA_DOWNLOAD_URLS, kLocationRecordSize, uaRecord.data())) {
      AGLOG_AS(kScenarioRoutine, AG_LOG_FAILURE, "GetClientBlobData failed for updating UA URLs.");
      std::fill(uaRecord.begin(), uaRecord.end(), 0);
    }
    std::memcpy(uaRecord.data() + 0x1400, locations.data() + 0x1400, 3 * kSlotBytes);
    if (!SetClientBlobData(DB_ID_UA_DOWNLOAD_URLS, kLocationRecordSize, uaRecord.data())) {
      AGLOG_AS(kScenarioRoutine, AG_LOG_FAILURE, "SetClientBlobData failed for updating UA URLs.");
    }
    lastId = DB_ID_MINOR_UPGRADE_URLS;
    lastStored = SetClientBlobData(DB_ID_MINOR_UPGRADE_URLS, kLocationRecordSize, locations.data());
  } else {
    if (!SetClientBlobData(DB_ID_AV_DOWNLOAD_URLS, kLocationRecordSize, locations.data())) {
      AGLOG_AS(kScenarioRoutine, AG_LOG_FAILURE, "SetClientBlobData failed for AV Urls.");
    }
    bool oldUaPresent = false;
    if (IsOldUpdateManagerPresent(&oldUaPresent, nullptr, 0) && oldUaPresent) SetUAUpgradeStatus(true);
    lastId = DB_ID_UA_DOWNLOAD_URLS;
    lastStored = SetClientBlobData(DB_ID_UA_DOWNLOAD_URLS, kLocationRecordSize, locations.data());
  }
  if (!lastStored) {
    AGLOG_AS(kScenarioRoutine, AG_LOG_FAILURE, "SetClientBlobData failed for(%lu)",
             static_cast<unsigned long>(lastId));
    if (upgradeType == 1) {
      AGLOG_AS(kScenarioRoutine, AG_LOG_FAILURE, "Aborting minor upgrade as SetClientBlobData failed");
      return false;
    }
  }
  return true;
}

bool HandleUpgrdCmdAck() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  AgUpgradeCmdRecord record{};
  if (!Siblings().support->GetUpgrdCmdInfoFromINI(0, &record)) {
    AGLOG(AG_LOG_FAILURE, "SetUpgrdCmdInfoToINI failed.");
    return false;
  }
  if (!SetClientBlobData(DB_ID_UP_UPDATE_STATUS_CMD_GUID, sizeof(record), &record)) {
    AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed for setting up cmd guid.");
    return false;
  }
  std::u16string iniPath;
  if (!ResultIniPath(u"UPResult.ini", &iniPath)) {
    AGLOG(AG_LOG_FAILURE, "GetModulePath failed.");
    return false;
  }
  if (!platform::WritePrivateProfileStringW(kResultSection, kResultKey, u"0", iniPath.c_str())) {
    AGLOG(AG_LOG_FAILURE, "WritePrivateProfileStringW failed, Error:(%lu)",
          static_cast<unsigned long>(platform::ErrorFromErrno(errno)));
    return false;
  }
  uint32_t error = 0;
  if (auto event = platform::NamedEvent::OpenExisting(kUpUpgradeEventName, &error)) {
    event->Set();
  } else {
    AGLOG(AG_LOG_FAILURE, "Open Event failed ( %s ) error (%lu)", kUpUpgradeEventName,
          static_cast<unsigned long>(error));
  }
  AGLOG(AG_LOG_PROGRESS, "End.");
  return true;
}

}  // namespace

bool HandleUpgradationScenario() {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  char version[20] = {};
  if (!GetClientVersion(version, sizeof(version), false)) {
    AGLOG(AG_LOG_FAILURE, "GetClientVersion failed.Not going for upgrade");
    AGLOG(AG_LOG_PROGRESS, "Exit.");
    return true;
  }
  std::vector<uint8_t> record(AG_UPGRADE_DATA_SIZE, 0);
  if (Siblings().support->GetClientAgentGlobalInfoFromINI(0, kUpgradeDataSection, AG_UPGRADE_DATA_WHOLE,
                                                           record.data()) != 1) {
    AGLOG(AG_LOG_PROGRESS, "GetClientAgentGlobalInfoFromINI failed.");
    AGLOG(AG_LOG_PROGRESS, "So this is not upgradation case so returning.");
    return true;
  }
  AGLOG(AG_LOG_PROGRESS, "GetClientAgentGlobalInfoFromINI Success.");

  const std::string target = NarrowField(record.data(), kTargetVersionOffset, 260);
  if (target.rfind(version, 0) != 0) {
    AGLOG(AG_LOG_PROGRESS, "Upgrade cmd is not for this client version");
    AGLOG(AG_LOG_PROGRESS, "Exit.");
    return true;
  }
  if (!HandleUpgrdCmdAck()) AGLOG(AG_LOG_FAILURE, "HandleUpgrdCmdAck Failed.");

  const std::string guid = NarrowField(record.data(), kGuidOffset, 100);
  if (!guid.empty() && !Siblings().support->SetClientGUID(guid.c_str())) {
    AGLOG(AG_LOG_FAILURE, "SetClientGUID failed.");
    return false;
  }
  const uint32_t upgradeType = ReadU32(record.data(), kUpgradeTypeOffset);
  const uint32_t consent = ReadU32(record.data(), kConsentOffset);
  if (!WideField(record.data(), kAvFromCdnOffset).empty() && !StoreUpgradeLocations(record.data(), upgradeType)) {
    return false;
  }
  if (upgradeType == 1 || upgradeType == 2) {
    AGLOG(AG_LOG_PROGRESS, "This is minor(1)/major(2) upgrade:%d", static_cast<int>(upgradeType));
    if (!Siblings().support->SetClientUpgradeType(upgradeType)) {
      AGLOG(AG_LOG_FAILURE, "SetClientUpgradeType failed");
      return false;
    }
    if (upgradeType == 2 && (consent == 1 || consent == 2)) {
      AGLOG(AG_LOG_PROGRESS, "This is upgrade:%d and auto upgrade consent:%d", 2, static_cast<int>(consent));
      if (!Siblings().support->SetClientAutoUpgrade(consent)) {
        AGLOG(AG_LOG_FAILURE, "SetClientUpgradeType failed");
        return false;
      }
    }
  }
  std::fill(record.begin(), record.end(), 0);
  if (Siblings().support->SetClientAgentGlobalInfoToINI(0, kUpgradeDataSection, AG_UPGRADE_DATA_WHOLE,
                                                         record.data()) != 1) {
    AGLOG(AG_LOG_FAILURE, "SetClientAgentGlobalInfoToINI failed");
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

void GetMinorUpgrade(uint32_t* value) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (value == nullptr) {
    AGLOG(AG_LOG_FAILURE, "NULL parameter received");
    return;
  }
  *value = 0;
  std::u16string iniPath;
  if (!GetAgAdvIniPath(&iniPath)) return;
  char16_t text[260] = {};
  if (platform::GetPrivateProfileStringW(kAdvSection, u"minorupgrade", u"0", text, 260, iniPath.c_str()) == 0) {
    AGLOG(AG_LOG_FAILURE, "GetPrivateProfileStringW failed for AGMISC_CLIENT_AGENT_ADV_INI_UPGRADE_TYPE_W.");
    return;
  }
  auto utf8 = platform::Utf16ToUtf8(text);
  *value = utf8 ? static_cast<uint32_t>(std::strtoul(utf8->c_str(), nullptr, 10)) : 0;
  AGLOG(AG_LOG_PROGRESS, "Exit");
}

bool IsUpgradeCmdAckOutstanding(uint32_t taskType) {
  AgUpgradeCmdRecord record{};
  if (!GetClientBlobData(CmdRecordIdOf(taskType), sizeof(record), &record)) return false;
  std::u16string iniPath;
  std::string result;
  uint32_t error = 0;
  return ResultIniPath(ResultFileOf(taskType), &iniPath) && ReadInstallResult(iniPath, &result, &error);
}

bool SendUpgradeCmdAck(uint32_t taskType, IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  std::lock_guard<std::mutex> serialised(UpgradeCmdAckLock());
  CmdAck ack{};
  ack.dwStatus = kCmdAckFailed;
  const char16_t* resultFile = ResultFileOf(taskType);
  const uint32_t recordId = CmdRecordIdOf(taskType);
  ack.dwCmdId = 116;
  if (taskType != 116) {
    uint32_t upgradeType = 0;
    Siblings().support->GetClientUpgradeType(&upgradeType);
    ack.dwCmdId = upgradeType == 1 ? 120 : 117;
  }

  AgUpgradeCmdRecord record{};
  if (!GetClientBlobData(recordId, sizeof(record), &record)) {
    AGLOG(AG_LOG_FAILURE, "GetClientBlobData failed for reading id(%d).", static_cast<int>(recordId));
    platform::GetClock().SleepMs(1000);
    if (!GetClientBlobData(recordId, sizeof(record), &record)) {
      AGLOG(AG_LOG_FAILURE, "GetClientBlobData failed for reading id(%d).", static_cast<int>(recordId));
      return false;
    }
  }
  const size_t guidLength = strnlen(record.szCmdGuid, sizeof(ack.szCmdGuid) - 1);
  std::memcpy(ack.szCmdGuid, record.szCmdGuid, guidLength);

  std::u16string iniPath;
  if (!ResultIniPath(resultFile, &iniPath)) {
    AGLOG(AG_LOG_FAILURE, "GetModulePathW failed for getting ini path");
    return false;
  }
  std::string installResult;
  uint32_t readError = 0;
  if (!ReadInstallResult(iniPath, &installResult, &readError)) {
    AGLOG(AG_LOG_FAILURE, "GetPrivateProfileStringW failed errorcode(%d).", static_cast<int>(readError));
    return false;
  }
  ack.dwStatus = installResult == "0" ? kCmdAckDone : kCmdAckFailed;

  Json::Value payload(Json::objectValue);
  payload["app"] = 1;
  payload["dt"] = Json::Int64(platform::GetClock().NowSeconds());
  payload["dt1"] = "spisdt1";
  payload["ecd"] = installResult;
  payload["hr"] = "spishr1";
  const std::string text = Json::FastWriter().write(payload);
  ack.pszAckPayload = static_cast<char*>(std::calloc(text.size() + 1, 1));
  if (ack.pszAckPayload == nullptr) {
    AGLOG(AG_LOG_FAILURE, "pszAckPayload calloc failed");
    return false;
  }
  std::memcpy(ack.pszAckPayload, text.data(), text.size());

  // True once the server has the acknowledgement or the pending list carries it.
  bool handedOver = false;
  ServerResponse* response = nullptr;
  if (!rpClient->SendCommandAck(&ack, &response)) {
    AGLOG(AG_LOG_FAILURE, "SendCommandAck failed");
    handedOver = StorePendingCommandAck(ack);
    if (!handedOver) AGLOG(AG_LOG_FAILURE, "SetClientPendingCommands failed");
  } else {
    if (response == nullptr || response->bSuccess) {
      handedOver = true;
      if (!DeleteClientBlobData(recordId)) {
        AGLOG(AG_LOG_FAILURE, "DeleteClientBlobData failed for deleting id (%d) from db.", static_cast<int>(recordId));
      }
    } else {
      HandleErrorCodes(response);
      // A refusal (an unknown client, a server busy) is often gone once the
      // error handling has run, and a server that never hears of the upgrade
      // shows it stuck: the acknowledgement goes out once more from the
      // pending list, which drops it if the server refuses it again.
      AGLOG(AG_LOG_FAILURE, "Upgrade command acknowledgement refused by the server; stored to be sent once more");
      handedOver = StorePendingCommandAck(ack);
      if (!handedOver) AGLOG(AG_LOG_FAILURE, "SetClientPendingCommands failed");
    }
    CheckConnStateAndNotifyAV();
  }
  if (handedOver) ConsumeInstallResult(iniPath);
  std::free(ack.pszAckPayload);
  if (response != nullptr) rpClient->FreeServerResponse(response);
  return true;
}
