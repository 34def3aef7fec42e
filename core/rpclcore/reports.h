// Report uploads, the recovery report and the machine-information collector.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>

bool SendClientReports(IRPClient* rpClient);
bool SendClientRecoveryReport(IRPClient* rpClient, bool* sent);
bool SetSendingRecoveryReportStatus(uint32_t status);
bool ExecuteMachineInfo(const std::string& serverUrl, const std::string& subUrl, const std::string& port);
