#include "suite/agtransport/endpoint.h"

#include <cctype>
#include <cstring>

namespace agtransport {
namespace {

template <size_t N>
std::string Field(const char (&field)[N]) {
  return std::string(field, strnlen(field, N - 1));
}

// Characters that would change the meaning of the URL or of the request line.
bool IsSafeUrlText(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f || c == '?' || c == '#' || c == '\\') return false;
  }
  return true;
}

std::string_view TrimSlashes(std::string_view text) {
  while (!text.empty() && text.front() == '/') text.remove_prefix(1);
  while (!text.empty() && text.back() == '/') text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// "scheme://host[:port][/path]" or "host[...]" -> scheme, host and the path
// prefix. A port written into the address is replaced by the record's port.
struct Origin {
  std::string scheme;
  std::string host;
  std::string path;
};

std::optional<Origin> SplitAddress(std::string_view address, std::string_view default_scheme) {
  Origin origin;
  if (StartsWithNoCase(address, "https://")) {
    origin.scheme = "https";
    address.remove_prefix(8);
  } else if (StartsWithNoCase(address, "http://")) {
    origin.scheme = "http";
    address.remove_prefix(7);
  } else if (address.find("://") != std::string_view::npos) {
    return std::nullopt;
  } else {
    origin.scheme = default_scheme;
  }
  const size_t slash = address.find('/');
  std::string_view authority = address.substr(0, slash);
  const std::string_view path = slash == std::string_view::npos ? std::string_view() : address.substr(slash);
  if (authority.find('@') != std::string_view::npos) return std::nullopt;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    authority = authority.substr(0, close + 1);
  } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    authority = authority.substr(0, colon);
  }
  if (authority.empty()) return std::nullopt;
  origin.host = authority;
  origin.path = TrimSlashes(path);
  return origin;
}

}  // namespace

std::string_view OperationPathName(Operation operation) {
  switch (operation) {
    case Operation::kRegister: return "register";
    case Operation::kClientData: return "clientdata";
    case Operation::kNotification: return "notification";
    case Operation::kCommandAck: return "ack";
    case Operation::kRelayConfig: return "rpconfig";
    case Operation::kUnregister: return "unregister";
  }
  return "unknown";
}

ConnectionSettings ConnectionSettings::FromRecord(const CSConnectionInfo& info) {
  ConnectionSettings settings;
  settings.tenant_id = Field(info.szTenantId);
  settings.client_guid = Field(info.szClientGuid);
  settings.client_version = Field(info.szClientVersion);
  settings.locale = Field(info.szLocale);
  settings.server_url = Field(info.szServerUrl);
  settings.application = Field(info.szServerAppName);
  settings.client_service = Field(info.szClientService);
  settings.relay_service = Field(info.szRpService);
  settings.notification_service = Field(info.szNotificationService);
  settings.policy_service = Field(info.szPolicyService);
  settings.general_service = Field(info.szGeneralService);
  settings.server_port = info.wServerPort;
  settings.relay_address = Field(info.szRelayAddress);
  settings.relay_port = info.wRelayPort;
  return settings;
}

const std::string& ServiceFor(const ConnectionSettings& settings, Operation operation, uint32_t client_data_kind) {
  switch (operation) {
    case Operation::kRegister: return settings.client_service;
    case Operation::kNotification:
    case Operation::kCommandAck: return settings.notification_service;
    case Operation::kRelayConfig:
    case Operation::kUnregister: return settings.relay_service;
    case Operation::kClientData:
      switch (client_data_kind) {
        case kClientDataStatus:
        case kClientDataCommandResult: return settings.client_service;
        case kClientDataPolicy: return settings.policy_service;
        default: return settings.general_service;
      }
  }
  return settings.general_service;
}

std::optional<std::string> BuildUrl(const ConnectionSettings& settings, Operation operation,
                                    uint32_t client_data_kind, bool via_relay, std::string* error) {
  const std::string& address = via_relay ? settings.relay_address : settings.server_url;
  const uint16_t port = via_relay ? settings.relay_port : settings.server_port;
  const std::string_view application = TrimSlashes(settings.application);
  const std::string_view service = TrimSlashes(ServiceFor(settings, operation, client_data_kind));
  if (port == 0) {
    *error = via_relay ? "relay port is 0" : "server port is 0";
    return std::nullopt;
  }
  if (application.empty() || service.empty()) {
    *error = "application or service name is empty";
    return std::nullopt;
  }
  if (!IsSafeUrlText(address) || !IsSafeUrlText(application) || !IsSafeUrlText(service)) {
    *error = "server address, application or service name holds characters not allowed in a URL";
    return std::nullopt;
  }
  const std::optional<Origin> origin = SplitAddress(address, via_relay ? "http" : "https");
  if (!origin) {
    *error = via_relay ? "relay address is not a host name or http(s) URL" : "server URL is not a host name or http(s) URL";
    return std::nullopt;
  }
  std::string url = origin->scheme + "://" + origin->host + ":" + std::to_string(port) + "/";
  if (!origin->path.empty()) url += origin->path + "/";
  url.append(application).append("/").append(service).append("/").append(OperationPathName(operation));
  return url;
}

}  // namespace agtransport
