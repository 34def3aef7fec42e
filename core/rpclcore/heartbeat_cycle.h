// The heartbeat step of a heartbeat cycle: the relay configuration fetch,
// the heartbeat message with the status pushes before it, and the commands
// the server returns with it (thinned out, processed, dispatched and
// acknowledged).
//
// Runs on the heartbeat thread with the thread's RP client object and the
// cycle's response generator. UpdateHeartbeatInterval may be called from any
// thread.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>

struct HeartbeatState;

struct RelayIntervals {
  uint32_t rpHb = 0;
  uint32_t rpFcfg = 0;
  uint32_t rpReg = 0;
};
static_assert(sizeof(RelayIntervals) == 12);

inline constexpr int64_t kObsoleteClientSeconds = 1296000;
inline constexpr uint32_t kHeartbeatPauseMs = 10000;

bool UpdateHeartbeatInterval(uint32_t* intervalMinutes);
bool FetchRPConfig(IRPClient* rpClient, ICAResponseGen* respGen, RelayIntervals* intervals);
bool SendClientHeartbeat(IRPClient* rpClient, ICAResponseGen* respGen, ServerResponse** response);
// The heartbeat step; the caller has run the registration step before it.
// False when no heartbeat was due, which ends the cycle.
bool RpHeartbeatStep(IRPClient* rpClient, ICAResponseGen* respGen, HeartbeatState* state);
// Processes one returned command and acknowledges it.
void RpProcessHeartbeatCommand(const ServerCommandEntry& entry, IRPClient* rpClient, ICAResponseGen* respGen,
                               HeartbeatState* state);
