// How long RP client transfers may still run, for the whole process.
//
// Normally there is no limit beyond each request's own time-outs. The agent's
// clean-up sets one so that its threads never wait for a slow or silent
// server: a limit of 0 ends every transfer in flight at once and fails every
// later one before it connects; a limit of N ms lets them run N ms more.
// Each HttpSession registers its libcurl multi handle here so that a new
// limit wakes its wait at once. Any thread may set or read the limit.
#pragma once

#include <agsuite/agtransfer.h>

#include <chrono>
#include <cstdint>
#include <optional>

using CURLM = void;

namespace agtransport {

using TransferClock = std::chrono::steady_clock;

// The point after which no transfer may run; none while there is no limit.
[[nodiscard]] std::optional<TransferClock::time_point> TransferDeadline();
void SetTransferLimit(std::optional<std::chrono::milliseconds> limit);

// A multi handle woken whenever the limit changes, registered for its life.
void RegisterTransferWaiter(CURLM* multi);
void UnregisterTransferWaiter(CURLM* multi);

}  // namespace agtransport
