#include "agent_folders.h"

#include <sys/stat.h>

#include <mutex>

#include "agmisc_log.h"
#include "platform/folders.h"
#include "platform/utf.h"

namespace agmisc {
namespace {

struct RootState {
  std::mutex lock;
  std::string root = kDefaultAgentRoot;  // guarded by lock
};

// Never destroyed: threads that outlive the service's clean-up may still ask
// for a folder while the process exits.
RootState& Root() {
  static RootState* state = new RootState;
  return *state;
}

const char* SubfolderName(AgentFolder folder) {
  switch (folder) {
    case AgentFolder::kRoot: return "";
    case AgentFolder::kConfig: return "config/";
    case AgentFolder::kTemp: return "temp/";
    case AgentFolder::kLogs: return "logs/";
    case AgentFolder::kData: return "data/";
  }
  return "";
}

}  // namespace

bool SetAgentRoot(const std::string& root) {
  if (root.empty()) return false;
  RootState& state = Root();
  std::lock_guard<std::mutex> guard(state.lock);
  state.root = root.back() == '/' ? root : root + '/';
  return true;
}

std::string AgentRoot() {
  RootState& state = Root();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.root;
}

std::optional<std::string> AgentFolderPath(AgentFolder folder) {
  std::string path = AgentRoot() + SubfolderName(folder);
  if (!platform::EnsureFolder(path)) {
    AGMISC_LOG(AG_LOG_FAILURE, "Cannot create the folder %s", path.c_str());
    return std::nullopt;
  }
  if (folder == AgentFolder::kData) ::chmod(path.c_str(), 0700);
  return path;
}

bool CopyPathToUtf16(const std::string& path, char16_t* buffer, uint32_t size_units) {
  if (buffer == nullptr || size_units == 0) return false;
  const auto wide = platform::Utf8ToUtf16(path);
  if (!wide) {
    AGMISC_LOG(AG_LOG_FAILURE, "The path %s is not valid UTF-8", path.c_str());
    buffer[0] = u'\0';
    return false;
  }
  if (!platform::U16Copy(buffer, size_units, *wide)) {
    AGMISC_LOG(AG_LOG_FAILURE, "The buffer of %u units is too small for %s", size_units, path.c_str());
    return false;
  }
  return true;
}

}  // namespace agmisc
