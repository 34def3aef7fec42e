#include "suite/agtransport/transport_settings.h"

#include <atomic>

#include "suite/agtransport/transport_log.h"

namespace agtransport {
namespace {

std::atomic<uint32_t> g_connect_ms{Timeouts{}.connect_ms};
std::atomic<uint32_t> g_total_ms{Timeouts{}.total_ms};

}  // namespace

Timeouts CurrentTimeouts() { return Timeouts{g_connect_ms.load(), g_total_ms.load()}; }

}  // namespace agtransport

extern "C" AG_SUITE_EXPORT uint8_t AgTransportSetTimeouts(uint32_t connectMs, uint32_t totalMs) {
  if (connectMs == 0 || totalMs == 0) {
    TLOG(AG_LOG_FAILURE, "time-outs must be at least 1 ms (connect %u, total %u)", connectMs, totalMs);
    return 0;
  }
  agtransport::g_connect_ms.store(connectMs);
  agtransport::g_total_ms.store(totalMs);
  TLOG(AG_LOG_PROGRESS, "time-outs set: connect %u ms, total %u ms", connectMs, totalMs);
  return 1;
}
