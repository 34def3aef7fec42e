// Upgrade handling: the pending self-upgrade at start-up, the minor-upgrade
// value and the upgrade-command acknowledgements.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>

bool HandleUpgradationScenario();
void GetMinorUpgrade(uint32_t* value);
// taskType 116 (SP upgrade) or 120 (major/minor upgrade).
bool SendUpgradeCmdAck(uint32_t taskType, IRPClient* rpClient);
