// Where the protection product lives and where the pre-install library keeps
// its journal and markers. The product folder is the "Path" value of the
// product's App Paths entry ("avscan.exe") when an installer registered one,
// else <machine root>/opt/vornex/. Both answers end in '/'.
// Thread safety: every function may be called from any thread.
#pragma once

#include <optional>
#include <string>

namespace agpreinst {

[[nodiscard]] std::string ProductFolder();
// The agent's temp folder (support library), with a trailing '/'.
[[nodiscard]] std::optional<std::string> AgentTempFolder();
// The agent's root folder (support library), with a trailing '/'.
[[nodiscard]] std::optional<std::string> AgentRootFolder();
// Folder this library was loaded from, with a trailing '/'.
[[nodiscard]] std::string LibraryFolder();
// True when `folder` lies strictly inside the machine root (never the root
// itself): the only places the library may remove.
[[nodiscard]] bool IsRemovableProductFolder(const std::string& folder);

}  // namespace agpreinst
