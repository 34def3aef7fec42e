#include "core/rpclcore/pending_send_backoff.h"

#include <mutex>

#include "core/common/aglog.h"

namespace {

struct BackOff {
  std::mutex mutex;
  uint32_t failuresInARow = 0;  // guarded by mutex
  uint32_t inFlight = 0;        // guarded by mutex
  uint32_t skipped = 0;         // records of this batch not tried; guarded by mutex
};

BackOff& TheBackOff() {
  static BackOff* backOff = new BackOff();  // used by performers until the process ends
  return *backOff;
}

}  // namespace

void StartPendingSendBatch() {
  BackOff& backOff = TheBackOff();
  std::lock_guard<std::mutex> lock(backOff.mutex);
  if (backOff.skipped != 0) {
    AGLOG(AG_LOG_FAILURE, "%u pending tasks were left for a later heartbeat after failed sends in a row",
          static_cast<unsigned>(backOff.skipped));
  }
  backOff.failuresInARow = 0;
  backOff.skipped = 0;
}

bool BeginPendingSend() {
  BackOff& backOff = TheBackOff();
  std::lock_guard<std::mutex> lock(backOff.mutex);
  if (backOff.failuresInARow + backOff.inFlight >= kPendingSendFailureLimit) {
    ++backOff.skipped;
    return false;
  }
  ++backOff.inFlight;
  return true;
}

void EndPendingSend(bool sent) {
  BackOff& backOff = TheBackOff();
  std::lock_guard<std::mutex> lock(backOff.mutex);
  --backOff.inFlight;
  backOff.failuresInARow = sent ? 0 : backOff.failuresInARow + 1;
}
