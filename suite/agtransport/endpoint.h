// Where each RP client operation goes: the connection settings copied out of
// the agent's CSConnectionInfo record and the URL built from them.
//
//   <scheme>://<host>:<port>/<application>/<service>/<operation>
//
// The server's scheme comes from its URL ("http://" or "https://"; none means
// https); the relay is plain http unless its address says "https://". Values
// only; any thread may use them.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace agtransport {

enum class Operation {
  kRegister,
  kClientData,
  kNotification,
  kCommandAck,
  kRelayConfig,
  kUnregister,
};

// The operation's last path segment on the wire ("register", "ack", ...).
[[nodiscard]] std::string_view OperationPathName(Operation operation);

// Client-data kinds that select a service other than the client service.
inline constexpr uint32_t kClientDataStatus = 2;
inline constexpr uint32_t kClientDataReportChunk = 3;
inline constexpr uint32_t kClientDataCommandResult = 4;
inline constexpr uint32_t kClientDataPolicy = 10;

struct ConnectionSettings {
  std::string tenant_id;
  std::string client_guid;
  std::string client_version;
  std::string locale;
  std::string server_url;
  std::string application;
  std::string client_service;
  std::string relay_service;
  std::string notification_service;
  std::string policy_service;
  std::string general_service;
  uint16_t server_port = 0;
  std::string relay_address;
  uint16_t relay_port = 0;

  // Copies the record's texts, each cut at its field width less one.
  [[nodiscard]] static ConnectionSettings FromRecord(const CSConnectionInfo& info);
  [[nodiscard]] bool HasRelay() const { return !relay_address.empty() && relay_port != 0; }
};

// The service an operation is addressed to; `client_data_kind` matters only
// for kClientData.
[[nodiscard]] const std::string& ServiceFor(const ConnectionSettings& settings, Operation operation,
                                            uint32_t client_data_kind = kClientDataStatus);

// Full URL of `operation`, to the relay when `via_relay` (the caller checks
// HasRelay()). Null with a reason in `error` when a part is missing or holds
// characters that do not belong in a URL.
[[nodiscard]] std::optional<std::string> BuildUrl(const ConnectionSettings& settings, Operation operation,
                                                  uint32_t client_data_kind, bool via_relay, std::string* error);

}  // namespace agtransport
