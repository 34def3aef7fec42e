#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/event.h"
#include "tsan_annotations.h"

namespace platform {

std::unique_ptr<Event> Event::Create(Reset mode, bool initially_signalled) {
  const int fd = eventfd(initially_signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    return nullptr;
  }
  return std::unique_ptr<Event>(new Event(fd, mode));
}

Event::Event(int fd, Reset mode) : fd_(fd), mode_(mode) {}

Event::~Event() {
  // Draining the counter is an acquire on the descriptor for ThreadSanitizer,
  // which orders another thread's last Set() before the close.
  uint64_t drained = 0;
  static_cast<void>(read(fd_, &drained, sizeof drained));
  close(fd_);
}

bool Event::Set() {
  // The counter only matters as zero / non-zero, so repeated sets are one.
  const uint64_t one = 1;
  AG_TSAN_RELEASE(this);
  return write(fd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

bool Event::ResetEvent() {
  uint64_t value = 0;
  return read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value) || errno == EAGAIN;
}

bool Event::IsSet() const {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) != 1 || (p.revents & POLLIN) == 0) {
    return false;
  }
  AG_TSAN_ACQUIRE(const_cast<Event*>(this));
  return true;
}

int Event::PollFd() const { return fd_; }

bool Event::ConsumeAfterWake() {
  if (mode_ == Reset::kManual) {
    return IsSet();
  }
  uint64_t value = 0;
  return read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

int WaitAnyRealTime(std::span<Waitable* const> handles, uint32_t timeout_ms) {
  if (handles.empty() && timeout_ms == kInfinite) {
    return kWaitFailed;  // would never return
  }
  std::vector<pollfd> fds(handles.size());
  for (size_t i = 0; i < handles.size(); ++i) {
    if (handles[i] == nullptr) {
      return kWaitFailed;
    }
    fds[i] = pollfd{handles[i]->PollFd(), POLLIN, 0};
  }
  using SteadyClock = std::chrono::steady_clock;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int poll_timeout = -1;
    if (timeout_ms != kInfinite) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
      poll_timeout = left > 0 ? static_cast<int>(std::min<int64_t>(left, INT32_MAX)) : 0;
    }
    const int ready = poll(fds.data(), fds.size(), poll_timeout);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return kWaitFailed;
    }
    if (ready == 0) {
      if (poll_timeout == 0 || SteadyClock::now() >= deadline) {
        return kWaitTimeout;
      }
      continue;
    }
    // The lowest signalled index wins; an auto-reset object that another
    // waiter consumed first just sends us back to poll().
    bool broken = false;
    for (size_t i = 0; i < fds.size(); ++i) {
      const short revents = fds[i].revents;
      if ((revents & (POLLERR | POLLNVAL)) != 0) {
        return kWaitFailed;
      }
      if ((revents & (POLLIN | POLLHUP)) != 0) {
        if (handles[i]->ConsumeAfterWake()) {
          return static_cast<int>(i);
        }
        broken = broken || (revents & POLLIN) == 0;
      }
    }
    if (broken) {
      return kWaitFailed;  // hung up with nothing to read: would spin
    }
  }
}

}  // namespace platform
