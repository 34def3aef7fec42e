// The agent's INI flags and small local files shared with the protection
// product (advanced INI, OTP file) and the log-pulling connection data.
// Stateless: any thread may call any routine; each reads the files anew.
#pragma once

#include <cstdint>
#include <string>

// "iosquerysts" of "AV_CONFIG_FLAGS" in "agadv.ini" (0 when missing).
bool GetOSQueryStatus(uint32_t* value);
// The OTP last applied by the product; empty when unavailable.
std::string GetLastAppliedOTP();
// Host, port text and application name for log pulling: the relay's when
// the endpoint is roaming, the server's otherwise.
bool GetLogPullingInfoFromDat(std::string* host, std::string* port, std::string* appName);
