// Process-wide time-outs of the transport, with the one extra export through
// which the service host and tests shorten them. RP clients take the values
// current when they are created. Any thread may read or set them.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>

namespace agtransport {

struct Timeouts {
  uint32_t connect_ms = 10'000;
  uint32_t total_ms = 30'000;
};

[[nodiscard]] Timeouts CurrentTimeouts();

}  // namespace agtransport

extern "C" {
// Sets the connect and total time-outs (milliseconds, each at least 1) of RP
// client objects created afterwards. Returns 1 when the values were taken.
AG_SUITE_EXPORT uint8_t AgTransportSetTimeouts(uint32_t connectMs, uint32_t totalMs);
}
