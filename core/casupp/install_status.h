// Reporting the protection product's installation status ("INSTSTS.JSON").
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>

inline constexpr const char* kInstallStatusFileName = "INSTSTS.JSON";

bool SendAVInstallationStatus(IRPClient* rpClient, uint32_t actionId);
// Raises the installation-status event when a report is pending (store id 47).
bool CheckAvInstStatusPending();
// Writes {"app":1,"dt":<ms>,"ecd":1} to the status file (minor-upgrade installs).
bool RecordMinorUpgradeInstallInfo(const std::u16string& statusFilePath);
// True only when "INSTSTS.JSON" in the agent root says app = 1 and ecd = 1.
bool GetInstallationStatus(uint32_t actionId);
// After the reboot of a minor upgrade: reports the installation status once.
bool CheckAndSendAfterMinorRebootNotification(IRPClient* rpClient);
