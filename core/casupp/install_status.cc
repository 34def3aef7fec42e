// Installation-status reporting. The status file "INSTSTS.JSON" is read and
// written here; the report built from it is not produced by this suite yet:
// sending reports failure (task 8 logs it and goes on). The pending-status
// check and the minor-reboot check decide when a report is due.
#include "core/casupp/install_status.h"

#include <fcntl.h>
#include <json/json.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "core/common/aglog.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/utf.h"

bool SendAVInstallationStatus(IRPClient* /*rpClient*/, uint32_t actionId) {
  AGLOG(AG_LOG_FAILURE, "Installation status reporting is not available (action %lu)",
        static_cast<unsigned long>(actionId));
  return false;
}

bool CheckAvInstStatusPending() {
  uint8_t pending = 0;
  if (!GetClientBlobData(DB_ID_CLIENT_PENDING_AV_INST_STATUS, sizeof(pending), &pending) || pending != 1) return true;
  AGLOG(AG_LOG_PROGRESS, "AV installation status sending is pending");
  uint32_t error = 0;
  auto event = platform::NamedEvent::OpenExisting("Global\\VXAV_Installation_Status", &error);
  if (!event) {
    AGLOG(AG_LOG_FAILURE, "OpenEvent failed Error (%lu): hEvtAvInstallStatus found null",
          static_cast<unsigned long>(error));
    return false;
  }
  event->Set();
  const uint8_t done = 0;
  if (!SetClientBlobData(DB_ID_CLIENT_PENDING_AV_INST_STATUS, sizeof(done), &done)) {
    AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed for DB_ID_CLIENT_PENDING_AV_INST_STATUS");
  }
  return true;
}

bool RecordMinorUpgradeInstallInfo(const std::u16string& statusFilePath) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  const std::optional<std::string> path = platform::Utf16ToUtf8(statusFilePath);
  if (statusFilePath.empty() || !path) {
    AGLOG(AG_LOG_FAILURE, "Invalid parameter");
    return false;
  }
  Json::Value info(Json::objectValue);
  info["dt"] = Json::Int64(platform::GetClock().NowSeconds() * 1000);
  info["ecd"] = 1;
  info["app"] = 1;
  const std::string text = Json::FastWriter().write(info);
  AGLOG(AG_LOG_PROGRESS, "Json data : %s", text.c_str());
  const int fd = open(path->c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
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

bool GetInstallationStatus(uint32_t /*actionId*/) {
  char16_t rootFolder[260] = {};
  if (!Siblings().support->GetClientAgentRootDir(rootFolder, 260)) {
    AGLOG(AG_LOG_FAILURE, "_wopen failed");
    return false;
  }
  const std::string path = platform::Utf16ToUtf8(rootFolder).value_or("") + kInstallStatusFileName;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    AGLOG(AG_LOG_PROGRESS, "End");
    return false;
  }
  char buffer[1024] = {};
  const ssize_t got = read(fd, buffer, sizeof(buffer) - 1);
  close(fd);
  if (got <= 0) {
    AGLOG(AG_LOG_FAILURE, "_read failed");
    return false;
  }
  if (buffer[0] == '\0') {
    AGLOG(AG_LOG_FAILURE, "File data is empty.");
    return false;
  }
  Json::Value data;
  Json::Reader().parse(buffer, data);
  AGLOG(AG_LOG_PROGRESS, "Installation Data from inststs.json: %s", buffer);
  const int app = data.isObject() && data["app"].isInt() ? data["app"].asInt() : 0;
  const int ecd = data.isObject() && data["ecd"].isInt() ? data["ecd"].asInt() : -1;
  if (app != 1 || ecd != 1) return false;
  AGLOG(AG_LOG_PROGRESS, "Key Values for ecd and app are: %d, %d", ecd, app);
  return true;
}

bool CheckAndSendAfterMinorRebootNotification(IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  uint32_t upgradeType = 0;
  if (!Siblings().support->GetClientUpgradeType(&upgradeType) || upgradeType != 1) {
    AGLOG(AG_LOG_PROGRESS, "Exit");
    return true;
  }
  char16_t productFolder[260] = {};
  if (!Siblings().preinst->AGPreInstGetAvInstallationPath(productFolder, 260)) {
    AGLOG(AG_LOG_FAILURE, "AGPreInstGetAvInstallationPath failed");
    return false;
  }
  const std::string rebootIni =
      platform::Utf16ToUtf8(productFolder).value_or("") + "reboot.ini";
  AGLOG(AG_LOG_PROGRESS, "RebootIni File Path(%s)", rebootIni.c_str());
  if (access(rebootIni.c_str(), F_OK) != 0) {
    AGLOG(AG_LOG_PROGRESS, "Exit");
    return true;
  }
  char16_t rootFolder[260] = {};
  if (!Siblings().support->GetClientAgentRootDir(rootFolder, 260)) {
    AGLOG(AG_LOG_FAILURE, "GetClientAgentRootDir failed");
    return false;
  }
  std::u16string statusFile(rootFolder, platform::U16Length(rootFolder, 260));
  statusFile += u"INSTSTS.JSON";
  if (!RecordMinorUpgradeInstallInfo(statusFile)) return false;
  AGLOG(AG_LOG_PROGRESS, "calling SendInstallationStatus");
  if (!SendAVInstallationStatus(rpClient, 114)) {
    AGLOG(AG_LOG_FAILURE, "SendInstallationStatus : CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS failed");
    return false;
  }
  return true;
}
