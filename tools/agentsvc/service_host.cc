#include "service_host.h"

#include <agsuite/agevtlog.h>
#include <agsuite/agmisc.h>

#include <type_traits>

#include "platform/clock.h"
#include "platform/folders.h"

namespace agentsvc {
namespace {

constexpr const char* kCoreLibrary = "libagcore.so";
constexpr const char* kLogFileName = "agcore.log";
constexpr uint64_t kLogFileMaxBytes = 10ull * 1024 * 1024;
constexpr uint32_t kLogFilesKept = 5;
constexpr double kMillisecondsPerMinute = 60000.0;

std::string LogFolder(const std::string& root) { return root + "/logs"; }

}  // namespace

std::string ServiceHost::LogFilePath() const { return LogFolder(options_.root) + "/" + kLogFileName; }

bool ServiceHost::Configure(std::string* error) {
  if (!platform::EnsureFolder(options_.root)) {
    *error = "cannot create the agent root folder " + options_.root;
    return false;
  }
  if (!AGMiscSetAgentRoot(options_.root.c_str())) {
    *error = "the support library refused the agent root " + options_.root;
    return false;
  }
  if (!options_.machine_root.empty()) platform::SetMachineRoot(options_.machine_root);
  if (options_.minute_ms) {
    // Deliberately never freed: a core thread on its way out after clean-up
    // may still read the clock while static objects are being destroyed.
    platform::SetClock(new platform::SystemClock(*options_.minute_ms / kMillisecondsPerMinute));
  }
  AgEvtLogSetMaxLevel(options_.log_level);
  if (!AgEvtLogOpenFile(LogFolder(options_.root).c_str(), kLogFileName, kLogFileMaxBytes, kLogFilesKept)) {
    *error = "cannot open the log file " + LogFilePath();
    return false;
  }
  return true;
}

bool ServiceHost::LoadCore(std::string* error) {
  core_ = platform::DynamicLibrary::Load(platform::ModuleFolder() + kCoreLibrary);
  if (!core_.IsLoaded()) {
    *error = "cannot load " + platform::ModuleFolder() + kCoreLibrary + ": " + core_.Error();
    return false;
  }
  std::string lookup_error;
  startup_ = core_.Get<std::remove_pointer_t<PFN_CLIENT_AGENT_CORE_STARTUP>>("ClientAgentCoreStartUp", &lookup_error);
  cleanup_ = core_.Get<std::remove_pointer_t<PFN_CLIENT_AGENT_CORE_CLEANUP>>("ClientAgentCoreCleanUp", &lookup_error);
  if (startup_ == nullptr || cleanup_ == nullptr) {
    *error = "the core library lacks an entry point: " + lookup_error;
    return false;
  }
  return true;
}

bool ServiceHost::StartUp() {
  const char* cert = options_.cert_file.empty() ? nullptr : options_.cert_file.c_str();
  const char* key = options_.key_file.empty() ? nullptr : options_.key_file.c_str();
  // Arguments 3 to 14 carry nothing the core acts on; the texts must exist.
  return startup_(cert, key, u"", "", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, options_.connection_type) != 0;
}

bool ServiceHost::CleanUp() {
  // Only their being non-null matters to the core.
  int context[4] = {};
  return cleanup_(&context[0], &context[1], &context[2], &context[3], 0, 0, 0, 0, 0, 0) != 0;
}

}  // namespace agentsvc
