// Unified-agent integration. The unified agent is found through its App Paths
// entry; its integration library is not shipped with this suite yet, so every
// message that needs the library reports failure through the connection step
// and the callers go on as they do when the unified agent does not answer.
// The INI flags that make the heartbeat retry those messages are kept in
// "agadv.ini".
#include "core/common/xuacomm.h"

#include <string>

#include "core/common/agadv_ini.h"
#include "core/common/aglog.h"
#include "core/config/paths.h"
#include "platform/ini.h"

namespace {

constexpr const char16_t* kUnifiedAgentExe = u"UAAGENT.EXE";

// The connection step shared by the messages to the unified agent.
bool ConnectToXUA() {
  if (!SubscribeForXUACommn()) {
    AGLOG(AG_LOG_FAILURE, "SubscribeForXUACommn failed");
    return false;
  }
  return true;
}

bool ReadAdvFlag(const char16_t* key, const char* logFormat, uint32_t* value) {
  std::u16string path;
  if (!GetAgAdvIniPath(&path)) return false;
  *value = platform::GetPrivateProfileIntW(kAdvSection, key, 0, path.c_str());
  AGLOG(AG_LOG_PROGRESS, logFormat, static_cast<int>(*value));
  return true;
}

bool WriteAdvFlag(const char16_t* section, const char16_t* key, bool set) {
  std::u16string path;
  if (!GetAgAdvIniPath(&path)) return false;
  if (!platform::WritePrivateProfileStringW(section, key, set ? u"1" : u"0", path.c_str())) {
    AGLOG(AG_LOG_FAILURE, "WritePrivateProfileStringW failed");
    return false;
  }
  return true;
}

}  // namespace

bool IsXUAInstalled() {
  AGLOG(AG_LOG_PROGRESS, "Calling IsRegistryKeyValuePresent() for key path(%s)).",
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\UAAGENT.EXE");
  if (!AppPathExists(kUnifiedAgentExe)) {
    AGLOG(AG_LOG_FAILURE, "IsRegKeyValuePresent Failed");
    return false;
  }
  return true;
}

bool SubscribeForXUACommn() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  AGLOG(AG_LOG_FAILURE, "LoadDllFromQuoltAgentDir Failed");
  return false;
}

bool UnsubcribeCommnWithXUA() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  AGLOG(AG_LOG_PROGRESS, "Already QAC client un-subcribed with XUA");
  return true;
}

bool GetUDIFromXUA(char* buffer, uint32_t size) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  if (buffer == nullptr || size == 0) {
    AGLOG(AG_LOG_FAILURE, "NULL Parameter Received");
    return false;
  }
  return ConnectToXUA();
}

bool NotifyToXUAForUninstallation(bool /*uninstalled*/) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  return ConnectToXUA();
}

bool NotifyToXUAForUpgradation() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  return ConnectToXUA();
}

bool SendDataToXUA() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  return ConnectToXUA();
}

bool GetReEnrollStatusFromIni(uint32_t* value) {
  return ReadAdvFlag(u"ReEnroll", "dwReEnrollFlagStatus :- %d", value);
}

bool SetReEnrollStatusFromIni(uint32_t value) { return WriteAdvFlag(kAdvSection, u"ReEnroll", value == 1); }

bool GetUpgradeNotificationStatusForXUA(uint32_t* value) {
  return ReadAdvFlag(u"NotifyToXUAForUpgrade", "dwNotifyToXUAForUpgrade :- %d", value);
}

bool SetUpgradeNotificationForXUA(uint32_t value) {
  return WriteAdvFlag(kAdvSection, u"NotifyToXUAForUpgrade", value == 1);
}

void GetUAUpgradeStatus(uint8_t* status) {
  std::u16string path;
  if (!GetAgAdvIniPath(&path)) return;
  *status = static_cast<uint8_t>(platform::GetPrivateProfileIntW(kAvConfigFlagsSection, u"isuaroleassign", 0,
                                                                  path.c_str()));
}

void SetUAUpgradeStatus(bool status) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  WriteAdvFlag(kAvConfigFlagsSection, u"isuaroleassign", status);
  AGLOG(AG_LOG_PROGRESS, "End");
}
