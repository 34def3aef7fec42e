// Installation-status reporting. The status file "INSTSTS.JSON" and its
// report are not produced by this suite yet: sending reports failure (task 8
// logs it and goes on). The pending-status check and the minor-reboot check
// are complete: they only decide when a report is due.
#include "core/casupp/install_status.h"

#include <unistd.h>

#include <string>

#include "core/common/aglog.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
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

bool RecordMinorUpgradeInstallInfo(const std::u16string& /*statusFilePath*/) {
  AGLOG(AG_LOG_FAILURE, "WriteInstallationInfoForMinorInInststs failed");
  return false;
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
