// Integration with the unified agent of the same maker, when one is
// installed beside this agent.
#pragma once

#include <cstdint>

bool IsXUAInstalled();
bool SubscribeForXUACommn();
bool UnsubcribeCommnWithXUA();
bool GetUDIFromXUA(char* buffer, uint32_t size);
bool NotifyToXUAForUninstallation(bool uninstalled);
bool NotifyToXUAForUpgradation();
bool SendDataToXUA();
bool GetReEnrollStatusFromIni(uint32_t* value);
bool SetReEnrollStatusFromIni(uint32_t value);
bool GetUpgradeNotificationStatusForXUA(uint32_t* value);
bool SetUpgradeNotificationForXUA(uint32_t value);
void GetUAUpgradeStatus(uint8_t* status);
void SetUAUpgradeStatus(bool status);
