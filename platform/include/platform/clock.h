// The one clock of the agent: "now", sleeps and timed waits.
//
// SystemClock reads the real time; its time scale lets the service host
// compress waits (scale 1/300 turns a one-minute wait into 200 ms) without
// touching the wall-clock "now". ManualClock is for tests: its now only moves
// when the test advances it, and a wait that would time out returns at once
// after advancing now by the wait's length, so 15-day windows and five-minute
// retries take microseconds.
//
// The core never creates a clock; it calls platform::GetClock(). The service
// host and tests install one with SetClock / ScopedClock.
#pragma once

#include <cstdint>
#include <span>

#include "platform/event.h"
#include "platform/export.h"

namespace platform {

class AG_PLATFORM_EXPORT Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 UTC.
  virtual int64_t NowSeconds() = 0;
  // Milliseconds since 1970-01-01 UTC.
  virtual int64_t NowMilliseconds() = 0;
  // Waits for any handle, or `timeout_ms` clock milliseconds (kInfinite: none).
  // Same results as WaitAnyRealTime.
  virtual int WaitAny(std::span<Waitable* const> handles, uint32_t timeout_ms) = 0;
  // Sleeps `ms` clock milliseconds.
  virtual void SleepMs(uint32_t ms) = 0;
};

class AG_PLATFORM_EXPORT SystemClock final : public Clock {
 public:
  // `scale` multiplies every wait and sleep (1.0 = real time).
  explicit SystemClock(double scale = 1.0);
  int64_t NowSeconds() override;
  int64_t NowMilliseconds() override;
  int WaitAny(std::span<Waitable* const> handles, uint32_t timeout_ms) override;
  void SleepMs(uint32_t ms) override;

 private:
  double scale_;
};

class AG_PLATFORM_EXPORT ManualClock final : public Clock {
 public:
  explicit ManualClock(int64_t start_seconds = 1'700'000'000);
  int64_t NowSeconds() override;
  int64_t NowMilliseconds() override;
  // A signalled handle is returned at once. Otherwise a finite wait advances
  // now by timeout_ms and returns kWaitTimeout; an infinite wait blocks for
  // real until a handle is signalled.
  int WaitAny(std::span<Waitable* const> handles, uint32_t timeout_ms) override;
  void SleepMs(uint32_t ms) override;
  void AdvanceMs(int64_t ms);
  void SetNowSeconds(int64_t seconds);

 private:
  struct State;
  State* state_;  // atomic milliseconds; owned
 public:
  ~ManualClock() override;
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;
};

// The process-wide clock (a SystemClock with scale 1 until one is set).
AG_PLATFORM_EXPORT Clock& GetClock();
AG_PLATFORM_EXPORT void SetClock(Clock* clock);  // null restores the default

class AG_PLATFORM_EXPORT ScopedClock {
 public:
  explicit ScopedClock(Clock* clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace platform
