// A clock for tests of the heartbeat thread on which time never passes by
// itself, so a test acts exactly while the thread waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <span>
#include <vector>

#include "core/rpclcore/heartbeat_cycle.h"
#include "platform/clock.h"

// A clock on which time never passes by itself: a zero wait polls, any other
// wait lasts until one of its handles is signalled. The test learns of each
// wait the thread enters, so it acts exactly while the thread waits.
class GateClock final : public platform::Clock {
 public:
  int64_t NowSeconds() override { return 1'700'000'000; }
  int64_t NowMilliseconds() override { return NowSeconds() * 1000; }
  void SleepMs(uint32_t) override {}
  int WaitAny(std::span<platform::Waitable* const> handles, uint32_t timeout_ms) override {
    // The heartbeat's ten-second pause passes at once; it is not one of the
    // waits the tests step through.
    if (timeout_ms == kHeartbeatPauseMs) return platform::kWaitTimeout;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waits_.push_back(timeout_ms);
    }
    entered_.notify_all();
    return platform::WaitAnyRealTime(handles, timeout_ms == 0 ? 0 : platform::kInfinite);
  }
  // Blocks until the thread has entered `count` waits; false after a generous
  // safety limit so that a broken thread fails the test instead of hanging it.
  bool AwaitWaits(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return entered_.wait_for(lock, std::chrono::seconds(30), [&] { return waits_.size() >= count; });
  }
  std::vector<uint32_t> Waits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waits_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable entered_;
  std::vector<uint32_t> waits_;
};
