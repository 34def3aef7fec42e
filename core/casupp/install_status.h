// Reporting whether the protection product got installed: the 114
// notification (throttled through the send-frequency table), the small local
// files that carry the installation result ("agbldn.ini" RESULT,
// "INSTSTS.JSON", the product's "reboot.ini") and the pending-report flag.
//
// No lock of its own: the task performers and the heartbeat thread may call
// at once, and share only the client data store and the files, as the
// installer does.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>

inline constexpr const char* kInstallStatusFileName = "INSTSTS.JSON";
// Action of a report queued after a failed server command 20; sent as 114.
inline constexpr uint32_t kInstallStatusAfterUaBuildAction = 119;
// "INSTALL"/"RESULT" of "agbldn.ini" that forces the 114 notification.
inline constexpr uint32_t kInstallResultForceReport = 1;

// `actionId` 114, or 119 (built for 119, sent and throttled as 114).
bool SendAVInstallationStatus(IRPClient* rpClient, uint32_t actionId);
// Raises the installation-status event when a report is pending (store id 47).
void CheckAvInstStatusPending();
// Writes {"app":1,"dt":<ms>,"ecd":1} to the status file (minor-upgrade installs).
bool WriteInstallationInfoForMinorInInststs(const std::u16string& statusFilePath);
// True only when "INSTSTS.JSON" in the agent root says app = 1 and ecd = 1
// (only its first 1,023 bytes are read).
bool GetInstallationStatus(uint32_t actionId);
// After the reboot of a minor upgrade: reports the installation status once
// and then deletes "reboot.ini" and "INSTSTS.JSON"; after a failed report
// both stay for the next start.
bool CheckAndSendAfterMinorRebootNotification(IRPClient* rpClient);
// "INSTALL"/"RESULT" of "agbldn.ini" in the agent root; 0 when the folder,
// file or key is missing or the value is not a number.
uint32_t ReadAgbldnInstallResult();
