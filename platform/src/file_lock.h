// An exclusive lock across processes, held on a lock file of its own, taken
// without ever blocking: tries at short intervals for a bounded time, then
// gives up. Not part of the library's API.
//
// The lock file is created 0600 (O_NOFOLLOW): only its owner's processes can
// open it, so no other user can hold the lock and stall the agent. The file
// stays in place after use; removing it would let two processes lock two
// different files of the same name.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "unique_fd.h"

namespace platform::internal {

class FileLock {
 public:
  static constexpr std::chrono::milliseconds kDefaultBudget{2000};

  // The lock, or nullopt (errno set; EWOULDBLOCK when another holder kept it
  // for the whole budget).
  static std::optional<FileLock> Acquire(const std::string& path,
                                         std::chrono::milliseconds budget = kDefaultBudget);

 private:
  explicit FileLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // closing it drops the lock
};

}  // namespace platform::internal
