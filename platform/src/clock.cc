#include "platform/clock.h"

#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>

namespace platform {
namespace {

uint32_t Scale(uint32_t ms, double scale) {
  if (ms == kInfinite) {
    return kInfinite;
  }
  const double scaled = std::llround(static_cast<double>(ms) * scale);
  return scaled >= static_cast<double>(kInfinite) ? kInfinite - 1 : static_cast<uint32_t>(scaled);
}

Clock& DefaultClock() {
  static SystemClock clock;  // never destroyed before the last thread is gone
  return clock;
}

std::atomic<Clock*>& CurrentClock() {
  static std::atomic<Clock*> current{&DefaultClock()};
  return current;
}

}  // namespace

SystemClock::SystemClock(double scale) : scale_(scale > 0 ? scale : 1.0) {}

int64_t SystemClock::NowSeconds() { return NowMilliseconds() / 1000; }

int64_t SystemClock::NowMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int SystemClock::WaitAny(std::span<Waitable* const> handles, uint32_t timeout_ms) {
  return WaitAnyRealTime(handles, Scale(timeout_ms, scale_));
}

void SystemClock::SleepMs(uint32_t ms) {
  const uint32_t real = Scale(ms, scale_);
  timespec left{static_cast<time_t>(real / 1000), static_cast<long>(real % 1000) * 1'000'000};
  while (nanosleep(&left, &left) != 0) {
  }
}

struct ManualClock::State {
  std::atomic<int64_t> now_ms;
};

ManualClock::ManualClock(int64_t start_seconds) : state_(new State{start_seconds * 1000}) {}

ManualClock::~ManualClock() { delete state_; }

int64_t ManualClock::NowSeconds() { return NowMilliseconds() / 1000; }

int64_t ManualClock::NowMilliseconds() { return state_->now_ms.load(); }

int ManualClock::WaitAny(std::span<Waitable* const> handles, uint32_t timeout_ms) {
  if (timeout_ms == kInfinite) {
    return WaitAnyRealTime(handles, kInfinite);
  }
  const int result = WaitAnyRealTime(handles, 0);
  if (result == kWaitTimeout) {
    AdvanceMs(timeout_ms);
  }
  return result;
}

void ManualClock::SleepMs(uint32_t ms) { AdvanceMs(ms); }

void ManualClock::AdvanceMs(int64_t ms) { state_->now_ms.fetch_add(ms); }

void ManualClock::SetNowSeconds(int64_t seconds) { state_->now_ms.store(seconds * 1000); }

Clock& GetClock() { return *CurrentClock().load(std::memory_order_acquire); }

void SetClock(Clock* clock) {
  CurrentClock().store(clock != nullptr ? clock : &DefaultClock(), std::memory_order_release);
}

ScopedClock::ScopedClock(Clock* clock) : previous_(&GetClock()) { SetClock(clock); }

ScopedClock::~ScopedClock() { SetClock(previous_); }

}  // namespace platform
