// Enrolment with the management server.
#pragma once

#include <agsuite/agmsg.h>

inline constexpr int64_t kRegistrationWindowSeconds = 1296000;

bool SendRegistrationRequest(IRPClient* rpClient, ICAResponseGen* respGen, ServerResponse** response);
bool CheckClientRegistrationValidity(bool* valid);
bool UninstallClient();
