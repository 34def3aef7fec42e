// `agentctl tenant`: the tenant file's settings with secrets masked. A secret
// shows at most its first and last two characters ("se****et"); a short one
// shows none ("****").
#pragma once

#include <json/json.h>

#include <string>

namespace agentctl {

// True for keys that hold credentials (password, secret, token, key, ...).
[[nodiscard]] bool IsSecretKey(const std::string& key);
[[nodiscard]] std::string MaskSecret(const std::string& value);
// A copy of the tenant object with every secret member masked, recursively.
[[nodiscard]] Json::Value MaskedTenant(const Json::Value& tenant);
// One aligned "key  value" line per member.
[[nodiscard]] std::string TenantText(const Json::Value& masked);

}  // namespace agentctl
