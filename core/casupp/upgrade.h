// Upgrade handling: the pending self-upgrade at start-up, the minor-upgrade
// value and the upgrade-command acknowledgements.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>

bool HandleUpgradationScenario();
void GetMinorUpgrade(uint32_t* value);
// taskType 116 (SP upgrade) or 120 (major/minor upgrade).
bool SendUpgradeCmdAck(uint32_t taskType, IRPClient* rpClient);
// True when the command record of that upgrade and its result are both there,
// so an acknowledgement is still to be sent.
bool IsUpgradeCmdAckOutstanding(uint32_t taskType);
