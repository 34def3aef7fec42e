// Everything `agentctl status` reports about one agent root, gathered from
// the client data store (read-only), the tenant file, the agent's INI file,
// the protection product's folder and the process table. Nothing is written.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>

#include "store_snapshot.h"

namespace agentctl {

inline constexpr const char* kDefaultAgentRoot = "/var/lib/vornex-agent";

struct StatusSources {
  std::string agent_root = kDefaultAgentRoot;
  std::string machine_root = "/";
  std::string proc = "/proc";
};

// The tenant file decoded.
struct TenantView {
  bool present = false;   // the file exists
  bool readable = false;  // and decodes to a JSON object
  std::string problem;  // why not, for a person
  Json::Value root;     // the decoded object
};

struct AgentStatus {
  std::string agent_root;
  std::string store_path;
  StoreReading store;
  TenantView tenant;
  std::optional<std::string> tenant_id;
  std::optional<std::string> server_address;  // host:port/app of the management server
  std::optional<std::string> relay_address;   // host:port of the relay, when the tenant has one
  bool product_installed = false;
  uint32_t upgrade_type = 0;                  // 0 full installation, 1 minor upgrade
  std::optional<int> service_pid;
};

[[nodiscard]] std::string StorePathOf(const std::string& agent_root);
[[nodiscard]] std::string TenantPathOf(const std::string& agent_root);
[[nodiscard]] TenantView ReadTenant(const std::string& path);
[[nodiscard]] AgentStatus CollectStatus(const StatusSources& sources);

}  // namespace agentctl
