// The agent's own folders under its root: the root itself, config/, temp/,
// logs/ and data/ (the client data store). The root is process-wide state set
// once by the service host (or a test) before other calls; every folder is
// handed out with a trailing '/' and created on first use. Thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace agmisc {

inline constexpr const char* kDefaultAgentRoot = "/var/lib/agcore/";

enum class AgentFolder { kRoot, kConfig, kTemp, kLogs, kData };

// Replaces the root; a missing trailing '/' is added. False for an empty root.
[[nodiscard]] bool SetAgentRoot(const std::string& root);
[[nodiscard]] std::string AgentRoot();

// The folder's path (UTF-8, trailing '/'), created when missing (the data
// folder with mode 0700: it holds the client GUID and the pending records).
// nullopt when it cannot be created.
[[nodiscard]] std::optional<std::string> AgentFolderPath(AgentFolder folder);

// Copies a UTF-8 path into a UTF-16 buffer of `size_units` with terminator.
[[nodiscard]] bool CopyPathToUtf16(const std::string& path, char16_t* buffer, uint32_t size_units);

}  // namespace agmisc
