#include "file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <thread>

namespace platform::internal {

std::optional<FileLock> FileLock::Acquire(const std::string& path, std::chrono::milliseconds budget) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  struct stat info {};
  if (!fd.Valid()) {
    return std::nullopt;
  }
  if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return std::nullopt;
  }
  constexpr std::chrono::milliseconds kInterval{5};
  const auto deadline = std::chrono::steady_clock::now() + budget;
  for (;;) {
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
      return FileLock(std::move(fd));
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(kInterval);
  }
}

}  // namespace platform::internal
