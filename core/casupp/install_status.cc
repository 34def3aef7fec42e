#include "core/casupp/install_status.h"

#include <fcntl.h>
#include <json/json.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/casupp/download_locations.h"
#include "core/casupp/install_status_file.h"
#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/send_frequency.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/genreq/response_json.h"
#include "core/rpclcore/command_processing.h"
#include "core/rpclcore/core_notification.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/ini.h"
#include "platform/named_event.h"
#include "platform/utf.h"

namespace {

constexpr uint32_t kPathUnits = 260;
constexpr uint32_t kInstallStatusNotificationKind = 25;
// Carries the server's default download location into the command processor.
constexpr uint32_t kDefaultAvUrlCommandId = 39;
constexpr size_t kInstallStatusReadBytes = 1023;
constexpr const char* kInstallStatusEventName = "Global\\VXAV_Installation_Status";

// Agent root folder followed by `name`; nullopt when the folder is not
// available or the path would not fit in 260 units.
std::optional<std::u16string> RootFile(const char16_t* name) {
  char16_t root[kPathUnits] = {};
  if (!Siblings().support->GetClientAgentRootDir(root, kPathUnits)) return std::nullopt;
  std::u16string path(root, platform::U16Length(root, kPathUnits));
  path += name;
  if (path.size() >= kPathUnits) return std::nullopt;
  return path;
}

std::string Narrow(const std::u16string& path) { return platform::Utf16ToUtf8(path).value_or(""); }

// Builds the request JSON for `actionId` with a response generator of its own.
bool BuildInstallStatusJson(uint32_t actionId, std::string* json) {
  ICAResponseGen* respGen = nullptr;
  if (!Siblings().resp->CreateCAResponseGenObjNew(&respGen, NotifyClientCoreForRpTask) || respGen == nullptr) {
    AGLOG_AS("SendAVInstallationStatus", AG_LOG_FAILURE, "CreateCAResponseGenObjNew failed");
    return false;
  }
  if (!respGen->Init()) {
    AGLOG_AS("SendAVInstallationStatus", AG_LOG_FAILURE, "RespGen init failed");
    Siblings().resp->DeleteCAResponseGenObj(respGen);
    return false;
  }
  uint32_t error = 0;
  const bool built = GenerateJsonForReq(actionId, 1, 1, respGen, json, &error);
  respGen->Deinit();
  Siblings().resp->DeleteCAResponseGenObj(respGen);
  if (!built) {
    AGLOG_AS("SendAVInstallationStatus", AG_LOG_FAILURE, "GenerateJsonForSetReq failed for :(%lu)",
             static_cast<unsigned long>(actionId));
  }
  return built;
}

// Hands the server's default location ("https://address:port/s1/") to the
// command processor, so the store knows at least that location.
bool ProcessDefaultAvUrl(IRPClient* rpClient) {
  std::string address;
  std::string port;
  if (!GetServerUrlFromDat(&address, &port)) {
    AGLOG_AS("SendAVInstallationStatus", AG_LOG_FAILURE, "GetServerUrlFromDat failed.");
  }
  const std::string url = "https://" + address + ":" + port + "/s1/";
  std::string payload;
  if (!getDefaultUaUrlForAv(&payload, kDefaultAvUrlCommandId, url.c_str())) {
    AGLOG_AS("SendAVInstallationStatus", AG_LOG_FAILURE, "getDefaultUaUrlForAv failed for :(%lu)",
             static_cast<unsigned long>(kDefaultAvUrlCommandId));
  }
  uint32_t commandId = 0;
  uint32_t status = 0;
  if (!RpReceiveAndProcessCommand(payload.c_str(), rpClient, &commandId, &status, nullptr, "", nullptr)) {
    AGLOG_AS("SendAVInstallationStatus", AG_LOG_FAILURE, "RpReceiveAndProcessCommand() failed.");
    return false;
  }
  return true;
}

bool DeleteFileLogged(const std::string& path) {
  if (unlink(path.c_str()) == 0) return true;
  AGLOG_AS("CheckAndSendAfterMinorRebootNotification", AG_LOG_FAILURE, "DeleteFileW failed. Error:%lu",
           static_cast<unsigned long>(platform::ErrorFromErrno(errno)));
  return false;
}

}  // namespace

uint32_t ReadAgbldnInstallResult() {
  const std::optional<std::u16string> path = RootFile(u"agbldn.ini");
  if (!path) return 0;
  char16_t text[kPathUnits] = {};
  platform::GetPrivateProfileStringW(u"INSTALL", u"RESULT", u"0", text, kPathUnits, path->c_str());
  const std::string utf8 = platform::Utf16ToUtf8(text).value_or("0");
  return static_cast<uint32_t>(std::strtoul(utf8.c_str(), nullptr, 10));
}

bool SendAVInstallationStatus(IRPClient* rpClient, uint32_t actionId) {
  std::string json;
  if (!BuildInstallStatusJson(actionId, &json)) return false;
  bool result = ProcessDefaultAvUrl(rpClient);

  const Json::Value payload = GetResponsePayload(json);
  if (!payload.isObject() || payload.empty()) {
    AGLOG(AG_LOG_FAILURE, "Empty reponse found");
    return false;
  }
  const std::string text = Json::FastWriter().write(payload);

  const uint32_t installResult = ReadAgbldnInstallResult();
  AGLOG(AG_LOG_PROGRESS, "AV Installation Status:- %d", static_cast<int>(installResult));
  int32_t firstTime = 0;
  const bool elapsed = EventTimeElapsed(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, &firstTime);
  ServerResponse* response = nullptr;
  if (firstTime == 1 || installResult == kInstallResultForceReport || elapsed) {
    AGLOG(AG_LOG_PROGRESS, "Time elapsed for AV installation or very first time call So Sending 114 Notification.");
    if (rpClient != nullptr && rpClient->SendNotification(kInstallStatusNotificationKind,
                                                          CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, text.c_str(),
                                                          &response)) {
      AGLOG(AG_LOG_PROGRESS, "114 sent to server so updating the last sent time in DB");
      AddLastSyncTimeInDB(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS);
      CheckServerResponse(response);
      CheckConnStateAndNotifyAV();
      result = true;
    } else {
      AGLOG(AG_LOG_FAILURE, "SendNotification failed for :(%lu)",
            static_cast<unsigned long>(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS));
      result = StorePendingNotification(kInstallStatusNotificationKind, CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS,
                                        text);
      if (!result) {
        AGLOG(AG_LOG_FAILURE, "SetClientPendingCommands failed for CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION");
      }
    }
  }
  if (response != nullptr && rpClient != nullptr) rpClient->FreeServerResponse(response);
  AGLOG(AG_LOG_PROGRESS, "End");
  return result;
}

void CheckAvInstStatusPending() {
  uint8_t pending = 0;
  if (!GetClientBlobData(DB_ID_CLIENT_PENDING_AV_INST_STATUS, sizeof(pending), &pending) || pending != 1) return;
  AGLOG(AG_LOG_PROGRESS, "AV installation status sending is pending");
  uint32_t error = 0;
  auto event = platform::NamedEvent::OpenExisting(kInstallStatusEventName, &error);
  if (!event) {
    AGLOG(AG_LOG_FAILURE, "OpenEvent failed Error (%lu): hEvtAvInstallStatus found null",
          static_cast<unsigned long>(error));
    return;
  }
  event->Set();
  event.reset();
  const uint8_t done = 0;
  if (!SetClientBlobData(DB_ID_CLIENT_PENDING_AV_INST_STATUS, sizeof(done), &done)) {
    AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed for DB_ID_CLIENT_PENDING_AV_INST_STATUS");
  }
}

bool WriteInstallationInfoForMinorInInststs(const std::u16string& statusFilePath) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  const std::optional<std::string> path = platform::Utf16ToUtf8(statusFilePath);
  if (statusFilePath.empty() || !path) {
    AGLOG(AG_LOG_FAILURE, "Invalid parameter");
    return false;
  }
  Json::Value info(Json::objectValue);
  const int64_t now = platform::GetClock().NowSeconds();
  if (now >= 0) info["dt"] = Json::Int64(now * 1000);
  info["ecd"] = 1;
  info["app"] = 1;
  const std::string text = Json::FastWriter().write(info);
  AGLOG(AG_LOG_PROGRESS, "Json data : %s", text.c_str());
  const int fd = open(path->c_str(), O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    AGLOG(AG_LOG_FAILURE, "_topen failed");
    return false;
  }
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  if (!written) {
    AGLOG(AG_LOG_FAILURE, "_write failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "Exit");
  return true;
}

bool GetInstallationStatus(uint32_t /*actionId: every action reads the same file*/) {
  const std::optional<std::u16string> path = RootFile(u"INSTSTS.JSON");
  if (!path) {
    AGLOG(AG_LOG_FAILURE, "_wopen failed");
    return false;
  }
  const int fd = open(Narrow(*path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    AGLOG(AG_LOG_PROGRESS, "End");
    return false;
  }
  char buffer[kInstallStatusReadBytes + 1] = {};
  const ssize_t got = read(fd, buffer, kInstallStatusReadBytes);
  close(fd);
  if (got <= 0) {
    AGLOG(AG_LOG_FAILURE, "_read failed");
    return false;
  }
  if (buffer[0] == '\0') {
    AGLOG(AG_LOG_FAILURE, "File data is empty.");
    return false;
  }
  const InstallStatusKeys keys = ReadInstallStatusKeys(buffer);  // the text up to its first NUL
  AGLOG(AG_LOG_PROGRESS, "Installation Data from inststs.json: %s", buffer);
  if (keys.app != 1 || keys.ecd != 1) return false;
  AGLOG(AG_LOG_PROGRESS, "Key Values for ecd and app are: %d, %d", keys.ecd, keys.app);
  return true;
}

bool CheckAndSendAfterMinorRebootNotification(IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  uint32_t upgradeType = 0;
  if (!Siblings().support->GetClientUpgradeType(&upgradeType) || upgradeType != 1) {
    AGLOG(AG_LOG_PROGRESS, "Exit");
    return true;
  }
  char16_t productFolder[kPathUnits] = {};
  if (!Siblings().preinst->AGPreInstGetAvInstallationPath(productFolder, kPathUnits)) {
    AGLOG(AG_LOG_FAILURE, "AGPreInstGetAvInstallationPath failed");
    return false;
  }
  std::u16string rebootIni(productFolder, platform::U16Length(productFolder, kPathUnits));
  rebootIni += u"reboot.ini";
  if (rebootIni.size() >= kPathUnits) {
    AGLOG(AG_LOG_FAILURE, "StringCchCatW failed");
    return false;
  }
  AGLOGW(AG_LOG_PROGRESS, u"RebootIni File Path(%S)", rebootIni.c_str());
  if (access(Narrow(rebootIni).c_str(), F_OK) != 0) {
    AGLOG(AG_LOG_PROGRESS, "Exit");
    return true;
  }
  char16_t root[kPathUnits] = {};
  if (!Siblings().support->GetClientAgentRootDir(root, kPathUnits)) {
    AGLOG(AG_LOG_FAILURE, "GetClientAgentRootDir failed");
    return false;
  }
  const std::optional<std::u16string> statusFile = RootFile(u"INSTSTS.JSON");
  if (!statusFile) {
    AGLOG(AG_LOG_FAILURE, "StringCchCat failed");
    return false;
  }
  AGLOGW(AG_LOG_PROGRESS, u"INSTSTS File Path(%S)", statusFile->c_str());
  if (!WriteInstallationInfoForMinorInInststs(*statusFile)) {
    AGLOG(AG_LOG_FAILURE, "WriteInstallationInfoForMinorInInststs failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "calling SendInstallationStatus");
  if (!SendAVInstallationStatus(rpClient, CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS)) {
    AGLOG(AG_LOG_FAILURE, "SendInstallationStatus : CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "Deleting reboot ini file");
  DeleteFileLogged(Narrow(rebootIni));
  AGLOG(AG_LOG_PROGRESS, "Deleting INSTSTS.JSON file");
  DeleteFileLogged(Narrow(*statusFile));
  AGLOG(AG_LOG_PROGRESS, "Exit");
  return true;
}
