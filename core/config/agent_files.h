// The agent's INI flags and small local files shared with the protection
// product (advanced INI, OTP file) and the log-pulling connection data.
#pragma once

#include <cstdint>
#include <string>

bool GetOSQueryStatus(uint32_t* value);
std::string GetLastAppliedOTP();
bool GetLogPullingInfoFromDat(std::string* host, std::string* port, std::string* appName);
