#include "suite/agtransport/transfer_limit.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "suite/agtransport/transport_log.h"

namespace agtransport {
namespace {

struct TransferLimit {
  std::mutex mutex;
  std::optional<TransferClock::time_point> deadline;  // guarded by mutex
  std::vector<CURLM*> waiters;                        // guarded by mutex
};

TransferLimit& Limit() {
  // Never destroyed: sessions of detached threads may unregister during exit.
  static TransferLimit* limit = new TransferLimit();
  return *limit;
}

}  // namespace

std::optional<TransferClock::time_point> TransferDeadline() {
  std::lock_guard<std::mutex> lock(Limit().mutex);
  return Limit().deadline;
}

void SetTransferLimit(std::optional<std::chrono::milliseconds> limit) {
  TransferLimit& state = Limit();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.deadline.reset();
  if (limit) state.deadline = TransferClock::now() + *limit;
  // Under the lock, so no handle is cleaned up while it is woken.
  for (CURLM* multi : state.waiters) curl_multi_wakeup(multi);
}

void RegisterTransferWaiter(CURLM* multi) {
  std::lock_guard<std::mutex> lock(Limit().mutex);
  Limit().waiters.push_back(multi);
}

void UnregisterTransferWaiter(CURLM* multi) {
  TransferLimit& state = Limit();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.waiters.erase(std::remove(state.waiters.begin(), state.waiters.end(), multi), state.waiters.end());
}

}  // namespace agtransport

extern "C" AG_SUITE_EXPORT uint8_t AgTransportLimitTransfers(uint32_t limitMs) {
  if (limitMs == kAgTransferNoLimit) {
    agtransport::SetTransferLimit(std::nullopt);
    TLOG(AG_LOG_PROGRESS, "transfers run to their own time-outs again");
  } else {
    agtransport::SetTransferLimit(std::chrono::milliseconds(limitMs));
    TLOG(AG_LOG_PROGRESS, "transfers end within %u ms", limitMs);
  }
  return 1;
}
