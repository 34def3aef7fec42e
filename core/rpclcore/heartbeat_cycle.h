// The heartbeat message, its interval and the relay configuration fetch.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>

struct RelayIntervals {
  uint32_t rpHb = 0;
  uint32_t rpFcfg = 0;
  uint32_t rpReg = 0;
};
static_assert(sizeof(RelayIntervals) == 12);

bool UpdateHeartbeatInterval(uint32_t* intervalMinutes);
bool FetchRPConfig(IRPClient* rpClient, ICAResponseGen* respGen, RelayIntervals* intervals);
bool SendClientHeartbeat(IRPClient* rpClient, ICAResponseGen* respGen, ServerResponse** response);
