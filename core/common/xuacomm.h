// Messages from the agent to the unified agent of the same maker, when one is
// installed beside this agent, and the "agadv.ini" flags that make the
// heartbeat's follow-up work send them again. The library and subscription
// they go through are in xua_library.h.
#pragma once

#include <cstdint>

#include "core/common/xua_library.h"

// The registration of the agent ("MSG-003"), sent when re-enrolment is pending.
bool SendDataToXUA();
// The notice that the agent is being uninstalled; ends the subscription.
bool NotifyToXUAForUninstallation(bool uninstalled);
// The notice that the agent has been upgraded, with its product version.
bool NotifyToXUAForUpgradation();
// The device identifier the unified agent keeps for this machine.
bool GetUDIFromXUA(char* buffer, uint32_t size);

bool GetReEnrollStatusFromIni(uint32_t* value);
bool SetReEnrollStatusFromIni(uint32_t value);
bool GetUpgradeNotificationStatusForXUA(uint32_t* value);
bool SetUpgradeNotificationForXUA(uint32_t value);
void GetUAUpgradeStatus(uint8_t* status);
void SetUAUpgradeStatus(bool status);
