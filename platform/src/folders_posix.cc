#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/folders.h"

namespace platform {
namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') {
    folder.push_back('/');
  }
  return folder;
}

struct Root {
  std::mutex mutex;
  std::string value = "/";  // guarded by mutex
};

Root& TheRoot() {
  static Root root;
  return root;
}

}  // namespace

std::string ModuleFolder() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) {
    return std::string();
  }
  path.resize(static_cast<size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

std::string SystemFolder() { return MachineRoot() + "system32/"; }

std::string MachineRoot() {
  Root& root = TheRoot();
  std::lock_guard lock(root.mutex);
  return root.value;
}

void SetMachineRoot(const std::string& root_folder) {
  Root& root = TheRoot();
  std::lock_guard lock(root.mutex);
  root.value = WithSlash(root_folder);
}

bool EnsureFolder(const std::string& folder) {
  if (folder.empty()) {
    return false;
  }
  // Nearly always the folder is there already: one look instead of a mkdir
  // for every level of its path (the agent asks for its folders dozens of
  // times a heartbeat).
  struct stat info {};
  if (stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return true;
  }
  // Create each level from the top; existing levels are fine.
  for (size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
    const std::string level = folder.substr(0, slash);
    if (!level.empty() && mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) {
      break;
    }
  }
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace platform
