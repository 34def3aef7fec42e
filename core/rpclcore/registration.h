// Enrolment with the management server: the registration request, the
// fifteen-day registration window, the registration step of a heartbeat
// cycle, and the installation check at heartbeat-thread start.
//
// Everything here runs on the heartbeat thread; the step works on the
// thread's HeartbeatState.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>

struct HeartbeatState;

inline constexpr int64_t kRegistrationWindowSeconds = 1296000;
inline constexpr uint32_t kRegAttemptsBeforeBackOff = 5;

bool SendRegistrationRequest(IRPClient* rpClient, ICAResponseGen* respGen, ServerResponse** response);
bool CheckClientRegistrationValidity(bool* valid);
bool UninstallClient();

enum class RegistrationOutcome {
  kHeartbeat,  // go on with the heartbeat step
  kEndCycle,   // nothing more this cycle
  kEndThread,  // the client uninstalls itself: the heartbeat thread ends
};
RegistrationOutcome RpRegistrationStep(IRPClient* rpClient, ICAResponseGen* respGen, HeartbeatState* state);
void CheckImmediateAvInstallation();
