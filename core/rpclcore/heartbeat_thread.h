// The heartbeat thread: the agent's contact with the management server.
//
// Start-up starts it with the RP client object it created; clean-up stops it
// and then releases that object. Start and stop are serialised by the
// heartbeat lock and may be called from any thread; a second start while the
// thread lives is a successful no-op. SetServerForceSyncEvent may be called
// from any thread (the core notification callback).
//
// The thread owns its parameter block and, through it, shares the three
// events with the starter: the events live as long as either holds them, so
// a signal from another thread never touches a closed event.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <memory>

#include "platform/event.h"

struct HeartbeatThreadParam {
  std::shared_ptr<platform::Event> stopEvent;            // manual reset
  std::shared_ptr<platform::Event> settingsChangeEvent;  // manual reset
  std::shared_ptr<platform::Event> forceSyncEvent;       // auto reset
  IRPClient* rpClient = nullptr;
};

inline constexpr uint32_t kRpInitRetryMs = 300000;

bool StartClientHeartBeatThread(IRPClient* rpClient);
bool StopClientHeartBeatThread(IRPClient* rpClient);
bool StopClientHeartBeatThreadFromWithinTheThread();
uint32_t RpClientHeartbeatThread(std::unique_ptr<HeartbeatThreadParam> param);
// Signals the server-force-sync event; false when the thread has no event
// (it is not running) or the signal fails.
bool SetServerForceSyncEvent();
// Pauses the heartbeat for `ms` clock milliseconds; false when the stop event
// fired meanwhile (the caller then gives up the exchange, so that clean-up
// never waits out a pause).
bool HeartbeatPause(uint32_t ms);
// True when the running heartbeat thread has been asked to stop; long steps
// of a cycle check it between commands.
bool HeartbeatStopRequested();
// True from a successful start until the thread or a stop clears it.
bool IsHeartbeatThreadRunning();
