#include "core/casupp/send_frequency.h"

#include <exception>

#include "core/common/aglog.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"

namespace {

// Event 114 goes out at most once a day, with a minute of slack for the
// heartbeat that happens to fall on the boundary.
constexpr int32_t kInstallationStatusFrequencyMinutes = 1439;

// Seconds since 1970; 0 when the clock reports failure.
int64_t CurrentEpochSeconds() {
  const int64_t now = platform::GetClock().NowSeconds();
  return now == -1 ? 0 : now;
}

}  // namespace

bool EventTimeElapsed(uint32_t eventId, int32_t* firstTime) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  try {
    CLDBHANDLE db = nullptr;
    if (!Siblings().support->CLOpenDatabase(&db)) {
      AGLOG(AG_LOG_FAILURE, "CLOpenDatabase failed but we are sending the event here.");
      return true;
    }
    int32_t frequency = 0;
    int64_t lastSync = 0;
    const bool read = Siblings().support->CLGetDataByEvtID(db, eventId, &frequency, &lastSync) != 0;
    if (frequency == 0 || lastSync == 0) {
      AGLOG(AG_LOG_PROGRESS, "Frequency or Last Sent time is 0.");
      if (firstTime != nullptr) *firstTime = 1;
    }
    if (!read || frequency == 0 || lastSync == 0) {
      AGLOG(AG_LOG_FAILURE, "CLGetDataByEvtID failed for event (%u).", eventId);
      Siblings().support->CLCloseDatabase(db);
      return false;
    }
    if (!Siblings().support->CLCloseDatabase(db)) {
      AGLOG(AG_LOG_FAILURE, "CLCloseDatabase failed.");
    }

    const int64_t now = CurrentEpochSeconds();
    const int64_t elapsed = now - lastSync;
    AGLOG(AG_LOG_PROGRESS, "Freq : (%d)\n {tmElapsedTime(%d) = tmCurrentTmInEpoc(%d) - iLastSync(%d)}", frequency,
          static_cast<int>(elapsed), static_cast<int>(now), static_cast<int>(lastSync));
    // The interval in seconds is a 32-bit product, as the table has always
    // been compared; a frequency beyond 24 days wraps.
    const auto intervalSeconds = static_cast<int32_t>(static_cast<uint32_t>(frequency) * 60u);
    bool elapsedEnough = false;
    if (elapsed < intervalSeconds) {
      AGLOG(AG_LOG_PROGRESS, "Last Sent Time Not Elapsed");
    } else {
      AGLOG(AG_LOG_PROGRESS, "Last Sent Time Elapsed");
      elapsedEnough = true;
    }
    AGLOG(AG_LOG_PROGRESS, "Exit");
    return elapsedEnough;
  } catch (const std::exception&) {
    AGLOG(AG_LOG_FAILURE, "STD::exception found in EventTimeElapsed.");
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Global::exception found in EventTimeElapsed.");
  }
  AGLOG(AG_LOG_PROGRESS, "Exit");
  // A check that could not finish must not hold the notification back.
  return true;
}

bool AddLastSyncTimeInDB(uint32_t eventId) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (eventId != CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS) {
    AGLOG(AG_LOG_FAILURE, "Event ID not supported so returning false");
    return false;
  }
  CLDBHANDLE db = nullptr;
  if (!Siblings().support->CLOpenDatabase(&db)) {
    AGLOG(AG_LOG_FAILURE, "CLOpenDatabase failed");
    return false;
  }
  const int64_t now = CurrentEpochSeconds();
  if (!Siblings().support->CLAddEventLastSync(db, eventId, kInstallationStatusFrequencyMinutes, now) || now == 0) {
    AGLOG(AG_LOG_FAILURE, "CLAddEventLastSync failed for CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS");
  }
  const bool closed = Siblings().support->CLCloseDatabase(db) != 0;
  if (!closed) {
    AGLOG(AG_LOG_FAILURE, "CLCloseDatabase failed");
  }
  AGLOG(AG_LOG_PROGRESS, "Exit");
  return closed;
}
