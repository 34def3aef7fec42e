// Facts the agent tells the protection product (through the response
// generator), and the tenant's on-premises flag.
#pragma once

#include <cstdint>

inline constexpr uint32_t AIAV_ACTION_SET_CLIENT_GUID = 18;
inline constexpr uint32_t AIAV_ACTION_SET_EDR_TENANT_ID = 36;
inline constexpr uint32_t AIAV_ACTION_SET_ROAMING_STATUS = 37;
inline constexpr uint32_t CSP_CMD_ID_SET_CLIENT_START_WEB_SERVER = 127;

bool NotifyDataChangeToAV(uint32_t actionId, const void* data, const char* secondData);
bool RegisterUnregisterCACallBackForAVEmergency(bool registerCallback);
bool StartPTPWebServer();
bool NotifyStartWebServerToClient();
bool IsOnPrem(bool* onPrem);
bool CheckIfRoamingIsSupported(bool* supported);
void CheckConnStateAndNotifyAV();
// Process-wide last connection state (0 at load).
uint32_t GetLastConnectionState();
void ResetLastConnectionState();
