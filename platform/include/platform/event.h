// Unnamed events with the Windows meaning, and the wait-any over several
// handles that the core's threads use.
//
// An event is signalled or not. A manual-reset event stays signalled until
// Reset(); an auto-reset event is consumed by the one waiter it wakes. Several
// Set() calls before a wait count as one. Backed by an eventfd (readable =
// signalled), so events and named events wait together in one poll().
//
// Thread safety: Set/Reset/IsSet/waits may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/export.h"

namespace platform {

// Anything a wait can include: unnamed and named events.
class AG_PLATFORM_EXPORT Waitable {
 public:
  virtual ~Waitable() = default;
  // File descriptor that is readable while the object is signalled.
  virtual int PollFd() const = 0;
  // Called after poll() reports the fd readable: consumes the signal when the
  // object is auto-reset. Returns false when another waiter consumed it first.
  virtual bool ConsumeAfterWake() = 0;
};

class AG_PLATFORM_EXPORT Event final : public Waitable {
 public:
  enum class Reset { kManual, kAuto };
  // Returns null when the OS refuses (errno holds the reason).
  static std::unique_ptr<Event> Create(Reset mode, bool initially_signalled);
  ~Event() override;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool Set();
  bool ResetEvent();
  bool IsSet() const;

  int PollFd() const override;
  bool ConsumeAfterWake() override;

 private:
  Event(int fd, Reset mode);
  int fd_;
  Reset mode_;
};

inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Waits until one of `handles` is signalled or `timeout_ms` real milliseconds
// pass (kInfinite: no time-out). Returns the lowest signalled index,
// kWaitTimeout or kWaitFailed. Callers in the core go through Clock::WaitAny,
// which applies the clock's time scale.
AG_PLATFORM_EXPORT int WaitAnyRealTime(std::span<Waitable* const> handles, uint32_t timeout_ms);

}  // namespace platform
