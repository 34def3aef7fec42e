// Finds the running service host of an agent root: an "agentsvc" process
// whose --root names the same folder. There is no pid file to go stale; the
// process table is the truth.
#pragma once

#include <optional>
#include <string>

namespace agentctl {

// `proc` is the process table's folder ("/proc" outside tests). The first
// matching pid, or nullopt when none runs (or the table is unreadable).
[[nodiscard]] std::optional<int> FindServicePid(const std::string& proc, const std::string& agent_root);

}  // namespace agentctl
