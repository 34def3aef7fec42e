// The transfer limit of the transport library (libagtransport): how long the
// transfers of every RP client object may still run. The agent's clean-up
// sets it so that no server, however slow, holds the stop.
#pragma once

#include <cstdint>

#define AG_SUITE_EXPORT __attribute__((visibility("default")))

// Lifts the limit: transfers run to their own time-outs again.
inline constexpr uint32_t kAgTransferNoLimit = 0xFFFFFFFFu;

extern "C" {
// Every transfer, in flight or started later, ends within `limitMs`
// milliseconds (0: at once, failing its call without connecting).
AG_SUITE_EXPORT uint8_t AgTransportLimitTransfers(uint32_t limitMs);
}
