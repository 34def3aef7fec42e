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

bool FileSink::Open(const std::string& folder, const std::string& name, uint64_t max_bytes,
                    uint32_t keep_files) {
  Close();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  path_ = (std::filesystem::path(folder) / name).string();
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  struct stat st {};
  size_ = ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  max_bytes_ = max_bytes;
  keep_files_ = keep_files;
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
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
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
