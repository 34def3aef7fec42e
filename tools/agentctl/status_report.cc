#include "status_report.h"

#include <agsuite/agmisc.h>

#include "pending_view.h"
#include "text_layout.h"

namespace agentctl {
namespace {

// Registration status codes as the core writes them.
constexpr uint32_t kNotRegistered = 0;
constexpr uint32_t kRefused = 1;
constexpr uint32_t kRegistered = 3;

std::string StoreStateName(StoreState state) {
  switch (state) {
    case StoreState::kRead: return "read";
    case StoreState::kMissing: return "missing";
    case StoreState::kDamaged: return "damaged";
    case StoreState::kBusy: return "busy";
  }
  return "damaged";
}

// The last connection's route as the transport recorded it.
std::string ConnectionName(const std::optional<uint32_t>& state) {
  if (state == 1u) return "direct";
  if (state == 2u) return "relay";
  return "never";
}

std::string ConnectionText(const std::optional<uint32_t>& state) {
  if (state == 1u) return "direct to the server";
  if (state == 2u) return "through the relay (roaming)";
  return "never connected";
}

std::string UpgradeText(uint32_t type) {
  if (type == 0) return "full installation (0)";
  if (type == 1) return "minor upgrade (1)";
  return "type " + std::to_string(type);
}

std::string OrUnknown(const std::optional<std::string>& text, const char* missing = "unknown") {
  return text.value_or(missing);
}

std::string When(const std::optional<int64_t>& time, int64_t now) {
  return time ? TimeAndAge(*time, now) : "never";
}

Json::Value Nullable(const std::optional<std::string>& text) { return text ? Json::Value(*text) : Json::Value(); }
Json::Value Nullable(const std::optional<int64_t>& number) {
  return number ? Json::Value(Json::Int64(*number)) : Json::Value();
}
Json::Value Nullable(const std::optional<uint32_t>& number) { return number ? Json::Value(*number) : Json::Value(); }

}  // namespace

std::string RegistrationText(const std::optional<uint32_t>& code) {
  const uint32_t value = code.value_or(kNotRegistered);
  if (value == kRegistered) return "registered";
  if (value == kNotRegistered) return "not registered";
  if (value == kRefused) return "refused by the server";
  return "status " + std::to_string(value);
}

std::string StatusText(const AgentStatus& status, int64_t now) {
  const StoreSnapshot& store = status.store.snapshot;
  const bool read = status.store.state == StoreState::kRead;
  Rows rows;
  rows.emplace_back("Service", status.service_pid ? "running (pid " + std::to_string(*status.service_pid) + ")"
                                                  : "not running");
  rows.emplace_back("Agent root", status.agent_root);
  rows.emplace_back("Store", read ? status.store_path : status.store.message);
  if (read) {
    rows.emplace_back("Server registration", RegistrationText(store.server_registration));
    rows.emplace_back("Relay registration", RegistrationText(store.relay_registration));
    rows.emplace_back("Client GUID", OrUnknown(store.client_guid, "none yet"));
    rows.emplace_back("Device id (UDI)", OrUnknown(store.client_udi, "none yet"));
  }
  rows.emplace_back("Tenant id", status.tenant.readable ? OrUnknown(status.tenant_id) : status.tenant.problem);
  rows.emplace_back("Server", OrUnknown(status.server_address));
  if (status.relay_address) rows.emplace_back("Relay", *status.relay_address);
  if (read) {
    rows.emplace_back("Heartbeat interval", store.heartbeat_interval_minutes
                                                ? std::to_string(*store.heartbeat_interval_minutes) + " min"
                                                : "not set yet");
    rows.emplace_back("Last contact", When(store.last_connected, now));
    rows.emplace_back("Last attempt", When(store.last_attempt, now));
    rows.emplace_back("Connection", ConnectionText(store.connection_status));
    rows.emplace_back("Pending acks",
                      SummaryText(SummariseList(store.pending, CL_PENDING_LIST_COMMAND_ACK), now));
    rows.emplace_back("Pending notifications",
                      SummaryText(SummariseList(store.pending, CL_PENDING_LIST_CLIENT_NOTIFICATION), now));
  }
  rows.emplace_back("Protection product", status.product_installed ? "installed" : "not installed");
  rows.emplace_back("Upgrade type", UpgradeText(status.upgrade_type));
  return AlignedRows(rows);
}

Json::Value StatusJson(const AgentStatus& status, int64_t now) {
  const StoreSnapshot& store = status.store.snapshot;
  const bool read = status.store.state == StoreState::kRead;
  Json::Value out(Json::objectValue);
  out["formatVersion"] = 1;
  out["generatedAt"] = Json::Int64(now);
  out["agentRoot"] = status.agent_root;

  Json::Value& service = out["service"] = Json::Value(Json::objectValue);
  service["running"] = status.service_pid.has_value();
  service["pid"] = status.service_pid ? Json::Value(*status.service_pid) : Json::Value();

  Json::Value& store_json = out["store"] = Json::Value(Json::objectValue);
  store_json["path"] = status.store_path;
  store_json["state"] = StoreStateName(status.store.state);
  store_json["message"] = status.store.message;

  Json::Value& registration = out["registration"] = Json::Value(Json::objectValue);
  for (const auto& [name, code] : {std::pair{"server", store.server_registration},
                                   std::pair{"relay", store.relay_registration}}) {
    Json::Value& entry = registration[name] = Json::Value(Json::objectValue);
    entry["code"] = read ? Json::Value(code.value_or(kNotRegistered)) : Json::Value();
    entry["text"] = read ? Json::Value(RegistrationText(code)) : Json::Value();
  }
  out["clientGuid"] = Nullable(store.client_guid);
  out["deviceId"] = Nullable(store.client_udi);
  out["tenantId"] = Nullable(status.tenant_id);
  out["tenantProblem"] = status.tenant.problem;
  out["serverAddress"] = Nullable(status.server_address);
  out["relayAddress"] = Nullable(status.relay_address);
  out["heartbeatIntervalMinutes"] = Nullable(store.heartbeat_interval_minutes);
  out["lastContact"] = Nullable(store.last_connected);
  out["lastAttempt"] = Nullable(store.last_attempt);
  out["connection"] = read ? Json::Value(ConnectionName(store.connection_status)) : Json::Value();

  Json::Value& pending = out["pending"] = Json::Value(Json::objectValue);
  pending["acknowledgements"] = SummaryJson(SummariseList(store.pending, CL_PENDING_LIST_COMMAND_ACK), now);
  pending["notifications"] = SummaryJson(SummariseList(store.pending, CL_PENDING_LIST_CLIENT_NOTIFICATION), now);

  Json::Value& product = out["product"] = Json::Value(Json::objectValue);
  product["installed"] = status.product_installed;
  product["upgradeType"] = status.upgrade_type;
  return out;
}

}  // namespace agentctl
