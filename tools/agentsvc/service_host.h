// The service host: sets the suite up the way the agent's service process
// would (agent root, machine root, clock, event log), loads libagcore.so from
// its own folder, and drives the two exports. One object per process; every
// method runs on the main thread.
#pragma once

#include <string>

#include "core/agcore/entry_points.h"
#include "options.h"
#include "platform/dynlib.h"

namespace agentsvc {

class ServiceHost {
 public:
  explicit ServiceHost(Options options) : options_(std::move(options)) {}

  // Configures the suite before the core is loaded; false with `error`.
  [[nodiscard]] bool Configure(std::string* error);
  [[nodiscard]] bool LoadCore(std::string* error);
  [[nodiscard]] bool StartUp();
  [[nodiscard]] bool CleanUp();
  [[nodiscard]] std::string LogFilePath() const;

 private:
  Options options_;
  platform::DynamicLibrary core_;
  PFN_CLIENT_AGENT_CORE_STARTUP startup_ = nullptr;
  PFN_CLIENT_AGENT_CORE_CLEANUP cleanup_ = nullptr;
};

}  // namespace agentsvc
