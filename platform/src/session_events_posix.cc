#include <fcntl.h>
#include <paths.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/session_events.h"
#include "unique_fd.h"

namespace platform {
namespace {

using internal::UniqueFd;

// How often a wait that cannot watch anything (no inotify) looks at utmp
// again.
constexpr int kRetryWatchMs = 5000;
constexpr uint32_t kFileChanges = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kFolderChanges = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

struct Waiter {
  uint32_t mask = 0;
  uint32_t events = 0;   // delivered, not yet returned; guarded by State::mutex
  bool flushed = false;  // guarded by State::mutex
  UniqueFd wake;         // eventfd written when events or flushed change
};

struct State {
  std::mutex mutex;
  // All guarded by mutex.
  std::vector<Waiter*> waiters;
  uint32_t pending_events = 0;  // happened while nobody waited for them
  bool pending_flush = false;
  std::string utmp_path;
  std::optional<std::set<std::string>> logins;  // USER_PROCESS entries last seen
};

State& TheState() {
  static State state;
  return state;
}

std::string PathLocked(const State& state) { return state.utmp_path.empty() ? _PATH_UTMP : state.utmp_path; }

// utmp is read as raw records rather than through getutent(), which keeps
// process-wide state and is not thread-safe.
std::vector<utmp> ReadUtmp(const std::string& path) {
  std::vector<utmp> records;
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    return records;
  }
  utmp record{};
  while (read(fd.Get(), &record, sizeof record) == static_cast<ssize_t>(sizeof record)) {
    records.push_back(record);
  }
  return records;
}

std::set<std::string> Logins(const std::string& path) {
  std::set<std::string> logins;
  for (const utmp& record : ReadUtmp(path)) {
    if (record.ut_type == USER_PROCESS) {
      std::string key(record.ut_line, strnlen(record.ut_line, sizeof record.ut_line));
      key += "|" + std::to_string(record.ut_pid) + "|" + std::to_string(record.ut_tv.tv_sec) + "." +
             std::to_string(record.ut_tv.tv_usec);
      logins.insert(std::move(key));
    }
  }
  return logins;
}

void WakeLocked(Waiter* waiter) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = write(waiter->wake.Get(), &one, sizeof one);
}

void DeliverLocked(State& state, uint32_t flags) {
  bool taken = false;
  for (Waiter* waiter : state.waiters) {
    if ((waiter->mask & flags) != 0) {
      waiter->events |= flags & waiter->mask;
      WakeLocked(waiter);
      taken = true;
    }
  }
  if (!taken) {
    state.pending_events |= flags;
  }
}

// Compares utmp with what was seen last; a new login is a logon event.
void CheckUtmpLocked(State& state) {
  std::set<std::string> now = Logins(PathLocked(state));
  if (state.logins) {
    const bool added = std::any_of(now.begin(), now.end(), [&](const std::string& key) {
      return state.logins->count(key) == 0;
    });
    if (added) {
      DeliverLocked(state, kSessionEventLogon);
    }
  }
  state.logins = std::move(now);
}

// Watches utmp itself when it exists, else the nearest existing folder on
// its path for something being created there, so that a machine without utmp
// costs no wake-ups: the waiting thread only runs when the file changes or
// may have appeared.
class UtmpWatch {
 public:
  explicit UtmpWatch(std::string path) : path_(std::move(path)), fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    Pick();
  }
  [[nodiscard]] bool Armed() const { return watch_ >= 0; }
  [[nodiscard]] int Fd() const { return fd_.Get(); }

  // Drains the events; when the current watch reported one, picks the target
  // again and returns true. Removing a watch queues an event for it, so
  // events of watches already removed are dropped: counting them would make
  // every pick wake the next poll, and the wait would spin.
  bool TakeChange() {
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    ssize_t length = 0;
    while (fd_.Valid() && (length = read(fd_.Get(), buffer, sizeof buffer)) > 0) {
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        changed = changed || event->wd == watch_;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    if (changed) {
      Pick();
    }
    return changed;
  }

  // Tries to arm again after nothing could be watched.
  void Retry() { Pick(); }

 private:
  // A race with whoever creates utmp or a folder on its way is bounded: after
  // this many tries the wait falls back to looking every few seconds.
  static constexpr int kPickAttempts = 8;

  void Pick() {
    if (!fd_.Valid()) {
      return;
    }
    for (int attempt = 0; attempt < kPickAttempts; ++attempt) {
      Unwatch();
      watch_ = inotify_add_watch(fd_.Get(), path_.c_str(), kFileChanges);
      if (watch_ >= 0) {
        return;
      }
      std::string below = path_;
      for (std::string folder = ParentOf(path_); watch_ < 0 && !folder.empty(); folder = ParentOf(folder)) {
        watch_ = inotify_add_watch(fd_.Get(), folder.c_str(), kFolderChanges | IN_ONLYDIR);
        if (watch_ < 0) {
          below = folder;
        }
      }
      // What the watched folder would report being created may have appeared
      // between the look at it and the watch: the watch then waits for
      // something that already happened, so look again.
      if (watch_ < 0 || access(below.c_str(), F_OK) != 0) {
        return;
      }
    }
    Unwatch();
  }

  void Unwatch() {
    if (watch_ >= 0) {
      inotify_rm_watch(fd_.Get(), watch_);
      watch_ = -1;
    }
  }

  // The folder above `path`; empty above the root.
  static std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
      return path == "." ? std::string() : ".";
    }
    if (path == "/") {
      return std::string();
    }
    return slash == 0 ? "/" : path.substr(0, slash);
  }

  std::string path_;
  UniqueFd fd_;
  int watch_ = -1;
};

// Keeps the waiter in the list for as long as it waits. Constructed and
// destroyed while `lock` (which outlives it) holds the state's mutex.
class Registration {
 public:
  Registration(State& state, std::unique_lock<std::mutex>& lock, Waiter* waiter)
      : state_(state), lock_(lock), waiter_(waiter) {
    state_.waiters.push_back(waiter_);
  }
  ~Registration() {
    if (!lock_.owns_lock()) {
      lock_.lock();
    }
    std::erase(state_.waiters, waiter_);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  State& state_;
  std::unique_lock<std::mutex>& lock_;
  Waiter* waiter_;
};

// Result of the waiter's state, when it has one to return.
bool TakeLocked(State& state, Waiter& waiter, uint32_t* flags) {
  if (waiter.flushed || state.pending_flush) {
    state.pending_flush = false;
    *flags = 0;
    return true;
  }
  const uint32_t taken = (waiter.events | state.pending_events) & waiter.mask;
  if (taken != 0) {
    state.pending_events &= ~taken;
    *flags = taken;
    return true;
  }
  return false;
}

}  // namespace

bool WaitForSessionEvent(uint32_t mask, uint32_t* flags) {
  if (flags == nullptr) {
    return false;
  }
  State& state = TheState();
  Waiter waiter;
  waiter.mask = mask;
  waiter.wake = UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!waiter.wake.Valid()) {
    return false;
  }
  std::unique_lock lock(state.mutex);
  const std::string path = PathLocked(state);
  lock.unlock();
  // The watch is armed before utmp is first read: a login written between
  // that read and the watch would otherwise wake nothing, and the wait would
  // sleep through it.
  UtmpWatch watch(path);
  lock.lock();
  CheckUtmpLocked(state);
  if (TakeLocked(state, waiter, flags)) {
    return true;
  }
  Registration registration(state, lock, &waiter);
  lock.unlock();

  pollfd fds[2] = {{waiter.wake.Get(), POLLIN, 0}, {watch.Fd(), POLLIN, 0}};
  for (;;) {
    fds[1].revents = 0;  // poll() leaves it alone while not watching
    const int ready = poll(fds, watch.Armed() ? 2 : 1, watch.Armed() ? -1 : kRetryWatchMs);
    if (ready < 0 && errno != EINTR) {
      return false;
    }
    bool look = ready == 0;
    if (ready == 0) {
      watch.Retry();
    } else if ((fds[1].revents & POLLIN) != 0) {
      look = watch.TakeChange();
    }
    lock.lock();
    if (look) {
      CheckUtmpLocked(state);
    }
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = read(waiter.wake.Get(), &count, sizeof count);
    if (TakeLocked(state, waiter, flags)) {
      return true;
    }
    lock.unlock();
  }
}

void FlushSessionEventWaits() {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  if (state.waiters.empty()) {
    state.pending_flush = true;
    return;
  }
  for (Waiter* waiter : state.waiters) {
    waiter->flushed = true;
    WakeLocked(waiter);
  }
}

void InjectSessionEvent(uint32_t flags) {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  DeliverLocked(state, flags);
}

void SetUtmpPath(const std::string& path) {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  state.utmp_path = path;
  // Logins already in the new file are not events.
  state.logins = Logins(PathLocked(state));
}

std::string UtmpPath() {
  State& state = TheState();
  std::lock_guard lock(state.mutex);
  return PathLocked(state);
}

int64_t FirstActiveSession() {
  for (const utmp& record : ReadUtmp(UtmpPath())) {
    if (record.ut_type != USER_PROCESS || record.ut_pid <= 0) {
      continue;
    }
    // A crashed login leaves its record behind; only a live process counts.
    if (kill(record.ut_pid, 0) == 0 || errno == EPERM) {
      return record.ut_session != 0 ? record.ut_session : record.ut_pid;
    }
  }
  return -1;
}

}  // namespace platform
