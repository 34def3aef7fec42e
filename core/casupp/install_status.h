// Reporting the protection product's installation status ("INSTSTS.JSON").
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>

inline constexpr const char* kInstallStatusFileName = "INSTSTS.JSON";

bool SendAVInstallationStatus(IRPClient* rpClient, uint32_t actionId);
// Raises the installation-status event when a report is pending (store id 47).
bool CheckAvInstStatusPending();
bool RecordMinorUpgradeInstallInfo(const std::u16string& statusFilePath);
// After the reboot of a minor upgrade: reports the installation status once.
bool CheckAndSendAfterMinorRebootNotification(IRPClient* rpClient);
