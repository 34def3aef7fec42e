// Well-known folders. Every folder is handed out with a trailing '/'.
//
// The machine root stands for the parts of a Windows machine that the agent
// reads but does not own: the registry (registry.h), the system folder, the
// protection product's files. It defaults to "/" and is set by the service
// host (--machine-root) and by tests.
#pragma once

#include <string>

#include "platform/export.h"

namespace platform {

// Folder of the running executable.
AG_PLATFORM_EXPORT std::string ModuleFolder();
// Stand-in for the Windows system folder: <machine root>/system32/.
AG_PLATFORM_EXPORT std::string SystemFolder();
AG_PLATFORM_EXPORT std::string MachineRoot();
AG_PLATFORM_EXPORT void SetMachineRoot(const std::string& root);
// Creates the folder and its parents (mode 0755); true when it exists.
AG_PLATFORM_EXPORT bool EnsureFolder(const std::string& folder);

}  // namespace platform
