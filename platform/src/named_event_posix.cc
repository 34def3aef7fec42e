#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "tsan_annotations.h"
#include "unique_fd.h"

namespace platform {
namespace {

using internal::UniqueFd;

constexpr size_t kMaxNameBytes = 200;

// The name without its namespace prefix, or empty when it is not usable.
std::string FileName(std::string_view name) {
  for (std::string_view prefix : {"Global\\", "Local\\"}) {
    if (name.starts_with(prefix)) {
      name.remove_prefix(prefix.size());
      break;
    }
  }
  if (name.empty() || name.size() > kMaxNameBytes || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    return std::string();
  }
  return std::string(name);
}

void Report(uint32_t* error, uint32_t code) {
  if (error != nullptr) {
    *error = code;
  }
}

// Serialises creation and opening across processes, so that two creators of
// a name nobody holds do not both set up its initial state.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    int result = fd_.Valid() ? -1 : 0;
    while (fd_.Valid() && (result = flock(fd_.Get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    held_ = fd_.Valid() && result == 0;
  }
  [[nodiscard]] bool Held() const { return held_; }

 private:
  UniqueFd fd_;  // closing it drops the lock
  bool held_ = false;
};

class FifoLock {
 public:
  explicit FifoLock(int fd) : fd_(fd) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FifoLock() { flock(fd_, LOCK_UN); }
  FifoLock(const FifoLock&) = delete;
  FifoLock& operator=(const FifoLock&) = delete;

 private:
  int fd_;
};

int Pending(int fd) {
  int bytes = 0;
  return ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : 0;
}

void Drain(int read_fd) {
  char buffer[64];
  while (read(read_fd, buffer, sizeof buffer) > 0) {
  }
}

bool EnsureEventFolder(const std::string& folder) {
  if (!EnsureFolder(folder)) {
    return false;
  }
  // Any user may create events here; the sticky bit keeps them from removing
  // each other's. Only the folder's owner can (and needs to) change the mode.
  struct stat info {};
  if (stat(folder.c_str(), &info) == 0 && info.st_uid == geteuid() && (info.st_mode & 07777) != 01777) {
    chmod(folder.c_str(), 01777);
  }
  return true;
}

}  // namespace

std::string NamedEvent::Folder() { return MachineRoot() + "run/agcore/events/"; }

NamedEvent::NamedEvent(std::string name, int read_fd, int write_fd, bool manual_reset, bool already_existed)
    : name_(std::move(name)),
      read_fd_(read_fd),
      write_fd_(write_fd),
      manual_reset_(manual_reset),
      already_existed_(already_existed) {}

NamedEvent::~NamedEvent() {
  close(read_fd_);
  close(write_fd_);
}

std::unique_ptr<NamedEvent> NamedEvent::CreateOrOpen(std::string_view name, bool manual_reset,
                                                     bool initially_signalled,
                                                     const SecurityAttributes* attributes_or_null,
                                                     uint32_t* error) {
  const std::string file_name = FileName(name);
  if (file_name.empty()) {
    Report(error, kErrorInvalidName);
    return nullptr;
  }
  const std::string folder = Folder();
  if (!EnsureEventFolder(folder)) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  FolderLock lock(folder);
  if (!lock.Held()) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  const std::string path = folder + file_name;
  const bool everyone = attributes_or_null != nullptr &&
                        (attributes_or_null->everyone_access & kEventModifyState) != 0;
  const mode_t mode = (everyone ? 0666 : 0600) | (manual_reset ? 0 : S_IXUSR);
  if (mkfifo(path.c_str(), mode) != 0 && errno != EEXIST) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  UniqueFd write_fd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  const bool held = write_fd.Valid();
  if (!held && errno != ENXIO) {
    Report(error, errno == ENOENT ? kErrorFileNotFound : ErrorFromErrno(errno));
    return nullptr;
  }
  UniqueFd read_fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!read_fd.Valid()) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  struct stat info {};
  if (fstat(read_fd.Get(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
    Report(error, kErrorInvalidHandle);  // the name belongs to something else
    return nullptr;
  }
  if (held) {
    manual_reset = (info.st_mode & S_IXUSR) == 0;
  } else {
    write_fd = UniqueFd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!write_fd.Valid()) {
      Report(error, ErrorFromErrno(errno));
      return nullptr;
    }
    // A FIFO left behind by an earlier holder takes this creator's mode.
    if (info.st_uid == geteuid() && (info.st_mode & 07777) != mode) {
      fchmod(read_fd.Get(), mode);
    }
    if (initially_signalled && write(write_fd.Get(), "s", 1) != 1) {
      Report(error, ErrorFromErrno(errno));
      return nullptr;
    }
  }
  Report(error, held ? kErrorAlreadyExists : kErrorSuccess);
  return std::unique_ptr<NamedEvent>(
      new NamedEvent(file_name, read_fd.Release(), write_fd.Release(), manual_reset, held));
}

std::unique_ptr<NamedEvent> NamedEvent::OpenExisting(std::string_view name, uint32_t* error) {
  const std::string file_name = FileName(name);
  if (file_name.empty()) {
    Report(error, kErrorInvalidName);
    return nullptr;
  }
  const std::string folder = Folder();
  FolderLock lock(folder);
  if (!lock.Held()) {
    Report(error, errno == ENOENT ? kErrorFileNotFound : ErrorFromErrno(errno));
    return nullptr;
  }
  const std::string path = folder + file_name;
  UniqueFd write_fd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  if (!write_fd.Valid()) {
    // ENXIO: the FIFO is there but no process has it open.
    Report(error, errno == ENOENT || errno == ENXIO ? kErrorFileNotFound : ErrorFromErrno(errno));
    return nullptr;
  }
  UniqueFd read_fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!read_fd.Valid() || fstat(read_fd.Get(), &info) != 0) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  if (!S_ISFIFO(info.st_mode)) {
    Report(error, kErrorInvalidHandle);
    return nullptr;
  }
  Report(error, kErrorSuccess);
  return std::unique_ptr<NamedEvent>(new NamedEvent(file_name, read_fd.Release(), write_fd.Release(),
                                                    (info.st_mode & S_IXUSR) == 0, true));
}

bool NamedEvent::Set() {
  FifoLock lock(write_fd_);
  AG_TSAN_RELEASE(this);
  return Pending(read_fd_) > 0 || write(write_fd_, "s", 1) == 1;
}

bool NamedEvent::Reset() {
  FifoLock lock(write_fd_);
  Drain(read_fd_);
  return true;
}

int NamedEvent::PollFd() const { return read_fd_; }

bool NamedEvent::ConsumeAfterWake() {
  char byte = 0;
  if (manual_reset_ ? Pending(read_fd_) == 0 : read(read_fd_, &byte, 1) != 1) {
    return false;
  }
  AG_TSAN_ACQUIRE(this);
  return true;
}

}  // namespace platform
