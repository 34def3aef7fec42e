// The core's notification callback as registered at core start-up
// (HandleClientAgentCoreStartup) and forgotten at clean-up. Process-wide;
// any thread may read or set it.
#pragma once

#include <agsuite/agmsg.h>

namespace agresp {

void SetCoreCallback(PFN_NOTIFY_CLIENT_CORE callback);
[[nodiscard]] PFN_NOTIFY_CLIENT_CORE CoreCallback();

}  // namespace agresp
