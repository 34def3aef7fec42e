// The heartbeat thread: start, stop, and the events other threads set.
#pragma once

#include <agsuite/agmsg.h>

bool StartClientHeartBeatThread(IRPClient* rpClient);
bool StopClientHeartBeatThread(IRPClient* rpClient);
bool StopClientHeartBeatThreadFromWithinTheThread();
uint32_t RpClientHeartbeatThread(IRPClient* rpClient);
// Signals the server-force-sync event; false when the thread has no event
// (it is not running) or the signal fails.
bool SetServerForceSyncEvent();
