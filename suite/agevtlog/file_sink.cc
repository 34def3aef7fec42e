#include "file_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace agevtlog {

FileSink::~FileSink() { Close(); }

namespace {

// The log may carry machine and tenant details: only the agent's user and its
// group read it. Files and a folder of our own left by an older version with
// wider modes are narrowed; a shared folder (sticky, such as a temporary
// folder) is left as it is.
constexpr mode_t kFileMode = 0640;
constexpr mode_t kFolderMode = 0750;

void NarrowFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
      (st.st_mode & S_ISVTX) == 0 && (st.st_mode & 07777) != kFolderMode) {
    ::chmod(folder.c_str(), kFolderMode);
  }
}

void NarrowFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) != kFileMode) {
    ::fchmod(fd, kFileMode);
  }
}

int OpenLogFile(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, kFileMode);
  if (fd >= 0) NarrowFile(fd);
  return fd;
}

}  // namespace

bool FileSink::Open(const std::string& folder, const std::string& name, uint64_t max_bytes,
                    uint32_t keep_files) {
  Close();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  NarrowFolder(folder);
  path_ = (std::filesystem::path(folder) / name).string();
  fd_ = OpenLogFile(path_, 0);
  if (fd_ < 0) return false;
  struct stat st {};
  size_ = ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  max_bytes_ = max_bytes;
  keep_files_ = keep_files;
  for (uint32_t i = 1; i <= keep_files_; ++i) {
    const int rotated = ::open(RotatedPath(i).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (rotated < 0) continue;
    NarrowFile(rotated);
    ::close(rotated);
  }
  return true;
}

void FileSink::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string FileSink::RotatedPath(uint32_t index) const { return path_ + "." + std::to_string(index); }

void FileSink::Rotate() {
  ::close(fd_);
  fd_ = -1;
  if (keep_files_ == 0) {
    ::unlink(path_.c_str());
  } else {
    ::unlink(RotatedPath(keep_files_).c_str());
    for (uint32_t i = keep_files_ - 1; i >= 1; --i) ::rename(RotatedPath(i).c_str(), RotatedPath(i + 1).c_str());
    ::rename(path_.c_str(), RotatedPath(1).c_str());
  }
  fd_ = OpenLogFile(path_, O_TRUNC);
  size_ = 0;
}

void FileSink::Write(std::string_view line) {
  if (fd_ < 0) return;
  // A line longer than the whole limit still goes into a fresh file of its own.
  if (max_bytes_ > 0 && size_ > 0 && size_ + line.size() > max_bytes_) Rotate();
  if (fd_ < 0) return;
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // disk full or similar: the line is dropped, logging never blocks the caller
    data += n;
    left -= static_cast<size_t>(n);
    size_ += static_cast<uint64_t>(n);
  }
}

}  // namespace agevtlog
