#include "suite/agtransport/rp_client.h"

#include <json/json.h>

#include <cstring>
#include <memory>

#include "platform/clock.h"
#include "suite/agtransport/limits.h"
#include "suite/agtransport/server_response.h"
#include "suite/agtransport/transport_log.h"

namespace agtransport {
namespace {

// The texts the core hands over are protocol JSON made by the message
// generator; they travel as JSON inside the request body. An empty or
// missing text travels as null (the obsolete-client notification has none).
bool EmbedMessage(const char* text, Json::Value* value, std::string* error) {
  if (text == nullptr || text[0] == '\0') {
    *value = Json::Value(Json::nullValue);
    return true;
  }
  Json::CharReaderBuilder builder;
  builder["failIfExtra"] = true;
  builder["stackLimit"] = 200;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  const size_t length = std::strlen(text);
  try {
    if (reader->parse(text, text + length, value, error)) return true;
  } catch (const std::exception& e) {
    *error = e.what();
  }
  return false;
}

std::string WriteCompact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

// Header values come from the tenant file; anything that could end the
// header line early is dropped.
std::string HeaderSafe(const std::string& text) {
  std::string safe;
  safe.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) safe.push_back(c);
  }
  return safe;
}

}  // namespace

CsClient& CsClient::Instance() {
  static CsClient instance;
  return instance;
}

RpClient::RpClient(SupportEnvironment& environment, Options options)
    : environment_(environment), options_(options) {}

uint8_t RpClient::InitCSClient(const CSConnectionInfo* info) {
  if (info == nullptr) {
    TLOG(AG_LOG_FAILURE, "no connection record given");
    return 0;
  }
  ConnectionSettings settings = ConnectionSettings::FromRecord(*info);
  if (settings.server_url.empty() || settings.application.empty() || settings.server_port == 0) {
    TLOG(AG_LOG_FAILURE, "connection record lacks the server URL, application name or port");
    return 0;
  }
  std::lock_guard lock(mutex_);
  proxy_ = environment_.ReadProxy();
  ca_bundle_ = environment_.CaBundlePath();
  TLOG(AG_LOG_PROGRESS, "server %s:%u/%s, relay %s:%u, proxy %s, CA %s", settings.server_url.c_str(),
       settings.server_port, settings.application.c_str(),
       settings.HasRelay() ? settings.relay_address.c_str() : "(none)", settings.relay_port,
       proxy_ ? proxy_->host.c_str() : "(none)", ca_bundle_.empty() ? "(system)" : ca_bundle_.c_str());
  settings_ = std::move(settings);
  relay_mode_ = false;
  return 1;
}

uint8_t RpClient::DeInitializeRPClient() {
  std::lock_guard lock(mutex_);
  settings_.reset();
  proxy_.reset();
  ca_bundle_.clear();
  relay_mode_ = false;
  return 1;
}

uint8_t RpClient::Register(const char* pszJson, ServerResponse** ppResponse) {
  if (ppResponse == nullptr) {
    TLOG(AG_LOG_FAILURE, "no response slot given");
    return 0;
  }
  *ppResponse = nullptr;
  Json::Value body(Json::objectValue);
  std::string error;
  if (!EmbedMessage(pszJson, &body["message"], &error)) {
    TLOG(AG_LOG_FAILURE, "registration text is not JSON: %s", error.c_str());
    return 0;
  }
  std::lock_guard lock(mutex_);
  return Exchange(Operation::kRegister, 0, Route::kCurrentMode, body, ppResponse) ? 1 : 0;
}

uint8_t RpClient::SendCommandAck(const CmdAck* ack, ServerResponse** ppResponse) {
  if (ack == nullptr || ppResponse == nullptr) {
    TLOG(AG_LOG_FAILURE, "no acknowledgement or no response slot given");
    return 0;
  }
  *ppResponse = nullptr;
  Json::Value body(Json::objectValue);
  body["cmdId"] = ack->dwCmdId;
  body["cmdGuid"] = std::string(ack->szCmdGuid, strnlen(ack->szCmdGuid, sizeof(ack->szCmdGuid) - 1));
  body["status"] = ack->dwStatus;
  body["retry"] = ack->byRetry;
  body["leading"] = ack->byLeading;
  std::string error;
  if (!EmbedMessage(ack->pszAckPayload, &body["payload"], &error)) {
    TLOG(AG_LOG_FAILURE, "acknowledgement payload of command %u is not JSON: %s", ack->dwCmdId, error.c_str());
    return 0;
  }
  std::lock_guard lock(mutex_);
  return Exchange(Operation::kCommandAck, 0, Route::kCurrentMode, body, ppResponse) ? 1 : 0;
}

uint8_t RpClient::SetClientData(const ClientDataRecord* record, uint32_t dataId, ServerResponse** ppResponse,
                                uint8_t flag) {
  if (record == nullptr || ppResponse == nullptr) {
    TLOG(AG_LOG_FAILURE, "no client data record or no response slot given");
    return 0;
  }
  *ppResponse = nullptr;
  const uint32_t kind = record->dwType;
  Json::Value body(Json::objectValue);
  body["dataId"] = dataId;
  body["dataType"] = kind;
  body["recordFlag"] = record->byFlag;
  body["flag"] = flag;
  std::string error;
  if (!EmbedMessage(record->pszJson, &body["message"], &error)) {
    TLOG(AG_LOG_FAILURE, "client data %u is not JSON: %s", dataId, error.c_str());
    return 0;
  }
  std::lock_guard lock(mutex_);
  return Exchange(Operation::kClientData, kind, Route::kCurrentMode, body, ppResponse) ? 1 : 0;
}

uint8_t RpClient::SendNotification(uint32_t kind, uint32_t id, const char* pszJson, ServerResponse** ppResponse) {
  if (ppResponse == nullptr) {
    TLOG(AG_LOG_FAILURE, "no response slot given");
    return 0;
  }
  *ppResponse = nullptr;
  Json::Value body(Json::objectValue);
  body["kind"] = kind;
  body["dataId"] = id;
  std::string error;
  if (!EmbedMessage(pszJson, &body["message"], &error)) {
    TLOG(AG_LOG_FAILURE, "notification %u is not JSON: %s", id, error.c_str());
    return 0;
  }
  std::lock_guard lock(mutex_);
  return Exchange(Operation::kNotification, 0, Route::kCurrentMode, body, ppResponse) ? 1 : 0;
}

uint8_t RpClient::FreeServerResponse(ServerResponse* response) {
  if (response == nullptr) {
    TLOG(AG_LOG_PASSED_OVER, "no response given");
    return 0;
  }
  ReleaseServerResponse(response);
  return 1;
}

uint8_t RpClient::GetRPConfig(ServerResponse** ppResponse) {
  if (ppResponse == nullptr) {
    TLOG(AG_LOG_FAILURE, "no response slot given");
    return 0;
  }
  *ppResponse = nullptr;
  std::lock_guard lock(mutex_);
  return Exchange(Operation::kRelayConfig, 0, Route::kCurrentMode, Json::Value(Json::objectValue), ppResponse) ? 1
                                                                                                                : 0;
}

uint8_t RpClient::SetRPMode(uint8_t viaRelay) {
  std::lock_guard lock(mutex_);
  if (viaRelay != 0 && (!settings_ || !settings_->HasRelay())) {
    TLOG(AG_LOG_PASSED_OVER, "relay mode asked for without a relay address; staying direct");
    relay_mode_ = false;
    return 0;
  }
  relay_mode_ = viaRelay != 0;
  return 1;
}

uint8_t RpClient::UnRegisterFromRP() {
  std::lock_guard lock(mutex_);
  ServerResponse* response = nullptr;
  if (!Exchange(Operation::kUnregister, 0, Route::kRelayWhenKnown, Json::Value(Json::objectValue), &response)) {
    return 0;
  }
  const bool unregistered = response->bSuccess != 0;
  if (!unregistered) TLOG(AG_LOG_FAILURE, "unregistration refused (%u error codes)", response->dwErrorCount);
  ReleaseServerResponse(response);
  return unregistered ? 1 : 0;
}

std::vector<std::string> RpClient::IdentityHeaders() const {
  return {
      "Content-Type: application/json",
      "Accept: application/json",
      // Small bodies go in one round trip instead of waiting for 100-continue.
      "Expect:",
      "X-Ag-Client-Guid: " + HeaderSafe(settings_->client_guid),
      "X-Ag-Tenant-Id: " + HeaderSafe(settings_->tenant_id),
      "X-Ag-Client-Version: " + HeaderSafe(settings_->client_version),
      "X-Ag-Locale: " + HeaderSafe(settings_->locale),
      std::string("X-Ag-On-Prem: ") + (options_.on_premises ? "1" : "0"),
  };
}

bool RpClient::Exchange(Operation operation, uint32_t client_data_kind, Route route, const Json::Value& body,
                        ServerResponse** response) {
  const std::string_view name = OperationPathName(operation);
  if (!settings_) {
    TLOG(AG_LOG_FAILURE, "%.*s called before InitCSClient", static_cast<int>(name.size()), name.data());
    return false;
  }
  const bool via_relay = settings_->HasRelay() && (route == Route::kRelayWhenKnown || relay_mode_);
  std::string error;
  const std::optional<std::string> url = BuildUrl(*settings_, operation, client_data_kind, via_relay, &error);
  if (!url) {
    TLOG(AG_LOG_FAILURE, "no URL for %.*s: %s", static_cast<int>(name.size()), name.data(), error.c_str());
    return false;
  }

  HttpRequest request;
  request.url = *url;
  request.headers = IdentityHeaders();
  request.body = WriteCompact(body);
  // The relay sits in the customer's own network and is reached directly.
  if (!via_relay) request.proxy = proxy_;
  request.ca_bundle = ca_bundle_;
  request.connect_timeout_ms = options_.timeouts.connect_ms;
  request.total_timeout_ms = options_.timeouts.total_ms;
  TLOG(AG_LOG_VERBOSE, "POST %s (%zu bytes)%s", url->c_str(), request.body.size(),
       request.proxy ? " through the proxy" : "");

  environment_.ReportAttempt(platform::GetClock().NowSeconds());
  const HttpResult result = session_.Post(request);
  if (!result.completed) {
    TLOG(AG_LOG_FAILURE, "POST %s failed: %s", url->c_str(), result.error.c_str());
    return false;
  }
  if (result.status != 200) {
    TLOG(AG_LOG_FAILURE, "POST %s answered with HTTP status %ld", url->c_str(), result.status);
    return false;
  }
  size_t refused_commands = 0;
  ServerResponse* parsed = ParseServerResponse(result.body, &error, &refused_commands);
  if (parsed == nullptr) {
    TLOG(AG_LOG_FAILURE, "malformed response to POST %s: %s", url->c_str(), error.c_str());
    return false;
  }
  if (refused_commands != 0) {
    TLOG(AG_LOG_FAILURE, "response to POST %s carries %zu commands; the %zu past the first %zu are refused",
         url->c_str(), refused_commands + parsed->dwCommandCount, refused_commands, kMaxCommandsPerResponse);
  }
  environment_.ReportConnectionState(via_relay ? kConnectionViaRelay : kConnectionDirect);
  TLOG(AG_LOG_VERBOSE, "response to %.*s: success %u, %u error codes, %u commands", static_cast<int>(name.size()),
       name.data(), parsed->bSuccess, parsed->dwErrorCount, parsed->dwCommandCount);
  *response = parsed;
  return true;
}

}  // namespace agtransport
