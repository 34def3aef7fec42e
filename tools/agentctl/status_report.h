// `agentctl status`: the human lines and the JSON document (its members are
// described in docs/operations.md and only ever added to).
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

#include "agent_status.h"

namespace agentctl {

[[nodiscard]] std::string StatusText(const AgentStatus& status, int64_t now);
[[nodiscard]] Json::Value StatusJson(const AgentStatus& status, int64_t now);
// "registered", "not registered", "refused by the server", "status 7".
[[nodiscard]] std::string RegistrationText(const std::optional<uint32_t>& code);

}  // namespace agentctl
