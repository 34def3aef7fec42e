// Reporting the protection product's installation status ("INSTSTS.JSON").
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>

inline constexpr const char* kInstallStatusFileName = "INSTSTS.JSON";

bool SendAVInstallationStatus(IRPClient* rpClient, uint32_t actionId);
bool CheckAvInstStatusPending();
bool RecordMinorUpgradeInstallInfo(const std::u16string& statusFilePath);
