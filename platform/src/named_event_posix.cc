#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_lock.h"
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
// Only the agent's user creates events; everyone else may only open them.
constexpr mode_t kFolderMode = 0755;
// Owner reads and sets; others only set, and only events made for that.
constexpr mode_t kPrivateMode = 0600;
constexpr mode_t kSettableByEveryoneMode = 0622;
// A drain reads at most this much: a writer that never stops cannot keep the
// agent in the loop (a pipe holds 64 KiB by default).
constexpr size_t kMaxDrainBytes = 64 * 1024;

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

int Pending(int fd) {
  int bytes = 0;
  return fd >= 0 && ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : 0;
}

// Empties the pipe; true when it held at least one byte.
bool Drain(int read_fd) {
  char buffer[4096];
  size_t total = 0;
  ssize_t n = 0;
  while (total < kMaxDrainBytes && (n = read(read_fd, buffer, sizeof buffer)) > 0) {
    total += static_cast<size_t>(n);
  }
  return total > 0;
}

// The owner of the events folder, after making sure of it: a real folder
// (not a link), owned by this user or by the superuser. A folder of our own
// left world-writable by an older version is closed; one that belongs to
// anyone else is not used.
bool CheckFolder(const std::string& folder, uid_t* owner, uint32_t* error) {
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    Report(error, errno == ENOENT ? kErrorFileNotFound : ErrorFromErrno(errno));
    return false;
  }
  if (!S_ISDIR(info.st_mode) || (info.st_uid != geteuid() && info.st_uid != 0)) {
    Report(error, kErrorInvalidOwner);
    return false;
  }
  if (info.st_uid == geteuid() && (info.st_mode & 07777) != kFolderMode && chmod(folder.c_str(), kFolderMode) != 0) {
    Report(error, ErrorFromErrno(errno));
    return false;
  }
  *owner = info.st_uid;
  return true;
}

// An existing name is used only when it is a FIFO made by this user or by the
// folder's owner (the agent): another user's object could be an impostor.
bool CheckFifo(int fd, uid_t folder_owner, struct stat* info, uint32_t* error) {
  if (fstat(fd, info) != 0) {
    Report(error, ErrorFromErrno(errno));
    return false;
  }
  if (!S_ISFIFO(info->st_mode)) {
    Report(error, kErrorInvalidHandle);  // the name belongs to something else
    return false;
  }
  if (info->st_uid != geteuid() && info->st_uid != folder_owner) {
    Report(error, kErrorInvalidOwner);
    return false;
  }
  return true;
}

std::string CreationLockPath(const std::string& folder) {
  return folder.substr(0, folder.size() - 1) + ".lock";  // beside the folder, never an event's name
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
  if (read_fd_ >= 0) {
    close(read_fd_);
  }
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
  uid_t folder_owner = 0;
  if (!EnsureFolder(folder)) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  if (!CheckFolder(folder, &folder_owner, error)) {
    return nullptr;
  }
  // Serialises creators, so that two creators of a name nobody holds do not
  // both set up its initial state. Only this user can open the lock file.
  const auto lock = internal::FileLock::Acquire(CreationLockPath(folder));
  if (!lock) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  const std::string path = folder + file_name;
  const bool everyone = attributes_or_null != nullptr &&
                        (attributes_or_null->everyone_access & kEventModifyState) != 0;
  const mode_t mode = (everyone ? kSettableByEveryoneMode : kPrivateMode) | (manual_reset ? 0 : S_IXUSR);
  if (mkfifo(path.c_str(), mode) != 0 && errno != EEXIST) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  // Before our own read end is open, the write end opens only when another
  // process holds the event.
  UniqueFd write_fd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  const bool held = write_fd.Valid();
  if (!held && errno != ENXIO) {
    Report(error, errno == ENOENT ? kErrorFileNotFound : ErrorFromErrno(errno));
    return nullptr;
  }
  UniqueFd read_fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!read_fd.Valid()) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  struct stat info {};
  if (!CheckFifo(read_fd.Get(), folder_owner, &info, error)) {
    return nullptr;
  }
  if (held) {
    manual_reset = (info.st_mode & S_IXUSR) == 0;
  } else {
    write_fd = UniqueFd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!write_fd.Valid()) {
      Report(error, ErrorFromErrno(errno));
      return nullptr;
    }
    // A FIFO left behind by an earlier holder takes this creator's mode, and
    // whatever a writer that outlived the holders left in it is dropped.
    if (info.st_uid == geteuid() && (info.st_mode & 07777) != mode) {
      fchmod(read_fd.Get(), mode);
    }
    Drain(read_fd.Get());
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
  uid_t folder_owner = 0;
  if (!CheckFolder(folder, &folder_owner, error)) {
    return nullptr;
  }
  const std::string path = folder + file_name;
  UniqueFd write_fd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!write_fd.Valid()) {
    // ENXIO: the FIFO is there but no process has it open.
    Report(error, errno == ENOENT || errno == ENXIO ? kErrorFileNotFound : ErrorFromErrno(errno));
    return nullptr;
  }
  struct stat info {};
  if (!CheckFifo(write_fd.Get(), folder_owner, &info, error)) {
    return nullptr;
  }
  // Another user may only set an event made settable by everyone: it gets
  // the write end alone.
  UniqueFd read_fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!read_fd.Valid() && errno != EACCES) {
    Report(error, ErrorFromErrno(errno));
    return nullptr;
  }
  Report(error, kErrorSuccess);
  return std::unique_ptr<NamedEvent>(new NamedEvent(file_name, read_fd.Release(), write_fd.Release(),
                                                    (info.st_mode & S_IXUSR) == 0, true));
}

// No lock: Set, Reset and the wake-up of a waiter are single reads and writes
// of the pipe, so no other process (of any user) can hold them up. Two setters
// racing may leave two bytes; a waiter and Reset take all there are.
bool NamedEvent::Set() {
  AG_TSAN_RELEASE(this);
  if (Pending(read_fd_) > 0) {
    return true;
  }
  // A full pipe (EAGAIN) is a signalled event.
  return write(write_fd_, "s", 1) == 1 || errno == EAGAIN;
}

bool NamedEvent::Reset() {
  if (read_fd_ < 0) {
    return false;
  }
  Drain(read_fd_);
  return true;
}

int NamedEvent::PollFd() const { return read_fd_; }

bool NamedEvent::ConsumeAfterWake() {
  if (manual_reset_ ? Pending(read_fd_) == 0 : !Drain(read_fd_)) {
    return false;
  }
  AG_TSAN_ACQUIRE(this);
  return true;
}

}  // namespace platform
