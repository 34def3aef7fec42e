#include "proxy_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "agent_folders.h"
#include "agmisc_log.h"

namespace agmisc {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool WriteProxyFile(const AgProxySettings& settings) {
  const auto folder = AgentFolderPath(AgentFolder::kConfig);
  if (!folder) return false;
  const std::string path = *folder + kProxyFileName;
  const std::string temporary = path + ".tmp." + std::to_string(::getpid());
  {
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.valid() || !WriteAll(fd.get(), &settings, sizeof(settings)) || ::fsync(fd.get()) != 0) {
      AGMISC_LOG(AG_LOG_FAILURE, "Cannot write %s (errno %d)", temporary.c_str(), errno);
      ::unlink(temporary.c_str());
      return false;
    }
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    AGMISC_LOG(AG_LOG_FAILURE, "Cannot replace %s (errno %d)", path.c_str(), errno);
    ::unlink(temporary.c_str());
    return false;
  }
  // The caller records "written" right after this returns; the new name must
  // survive a power cut as well.
  FileDescriptor directory(::open(folder->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.valid()) ::fsync(directory.get());
  return true;
}

bool ReadProxyFile(AgProxySettings* settings) {
  const auto folder = AgentFolderPath(AgentFolder::kConfig);
  if (!folder) return false;
  const std::string path = *folder + kProxyFileName;
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
    AGMISC_LOG(AG_LOG_PASSED_OVER, "No proxy settings in %s (errno %d)", path.c_str(), errno);
    return false;
  }
  if (info.st_size != static_cast<off_t>(sizeof(AgProxySettings))) {
    AGMISC_LOG(AG_LOG_FAILURE, "%s holds %lld bytes, not one proxy record", path.c_str(),
               static_cast<long long>(info.st_size));
    return false;
  }
  AgProxySettings record{};
  auto* bytes = reinterpret_cast<uint8_t*>(&record);
  size_t done = 0;
  while (done < sizeof(record)) {
    const ssize_t got = ::read(fd.get(), bytes + done, sizeof(record) - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      AGMISC_LOG(AG_LOG_FAILURE, "Cannot read %s (errno %d)", path.c_str(), errno);
      return false;
    }
    done += static_cast<size_t>(got);
  }
  *settings = record;
  return true;
}

}  // namespace agmisc
