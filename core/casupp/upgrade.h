// Upgrade handling: the pending self-upgrade at start-up, the minor-upgrade
// value and the upgrade-command acknowledgements.
#pragma once

#include <cstdint>

bool HandleUpgradationScenario();
void GetMinorUpgrade(uint32_t* value);
bool SendUpgradeCmdAck(uint32_t commandId);
