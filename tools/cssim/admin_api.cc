#include "tools/cssim/admin_api.h"

#include <json/json.h>

#include <charconv>
#include <memory>

#include "tools/cssim/protocol_handler.h"

namespace cssim {
namespace {

constexpr uint32_t kCmdPolicyRefresh = 24;

std::string WriteCompact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

void Reply(httplib::Response& response, const Json::Value& value, int status = 200) {
  response.status = status;
  response.set_content(WriteCompact(value), "application/json");
}

void Refuse(httplib::Response& response, const std::string& reason) {
  Json::Value error;
  error["error"] = reason;
  Reply(response, error, 400);
}

bool ParseBody(const httplib::Request& request, httplib::Response& response, Json::Value* body) {
  Json::CharReaderBuilder builder;
  builder["failIfExtra"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  bool parsed = false;
  try {
    parsed = reader->parse(request.body.data(), request.body.data() + request.body.size(), body, &errors);
  } catch (const std::exception& e) {
    errors = e.what();
  }
  if (!parsed || !body->isObject()) {
    Refuse(response, "body is not a JSON object: " + errors);
    return false;
  }
  return true;
}

bool OptionalUInt(const Json::Value& body, const char* name, uint32_t* value) {
  if (!body.isMember(name)) return true;
  if (!body[name].isUInt()) return false;
  *value = body[name].asUInt();
  return true;
}

}  // namespace

AdminApi::AdminApi(SimState& state, ClientRecords& records, Journal& journal, Suspender suspend)
    : state_(state), records_(records), journal_(journal), suspend_(std::move(suspend)) {}

void AdminApi::Install(httplib::Server& server) {
  server.Get("/admin/health", [this](const httplib::Request&, httplib::Response& response) {
    Json::Value health;
    health["status"] = "ok";
    health["clients"] = static_cast<Json::UInt64>(state_.client_count());
    health["held"] = static_cast<Json::UInt64>(state_.held_count());
    Reply(response, health);
  });
  server.Get("/admin/clients", [this](const httplib::Request&, httplib::Response& response) {
    Json::Value clients;
    clients["clients"] = state_.Clients();
    Reply(response, clients);
  });
  server.Post("/admin/commands",
              [this](const httplib::Request& request, httplib::Response& response) { QueueCommand(request, response); });
  server.Get("/admin/commands", [this](const httplib::Request& request, httplib::Response& response) {
    if (!request.has_param("client")) return Refuse(response, "client=GUID is required");
    Json::Value pending;
    pending["commands"] = state_.Pending(request.get_param_value("client"));
    Reply(response, pending);
  });
  server.Post("/admin/faults",
              [this](const httplib::Request& request, httplib::Response& response) { AddFault(request, response); });
  server.Delete("/admin/faults", [this](const httplib::Request&, httplib::Response& response) {
    state_.ClearFaults();
    Reply(response, Json::Value(Json::objectValue));
  });
  server.Post("/admin/chaos", [this](const httplib::Request& request, httplib::Response& response) {
    Json::Value body;
    if (!ParseBody(request, response, &body)) return;
    uint32_t percent = 0;
    if (!body["operation"].isString()) return Refuse(response, "\"operation\" is required");
    if (!OptionalUInt(body, "percent", &percent) || percent > 100) return Refuse(response, "\"percent\" is 0 to 100");
    state_.SetChaos(body["operation"].asString(), percent);
    Reply(response, body);
  });
  server.Delete("/admin/chaos", [this](const httplib::Request&, httplib::Response& response) {
    state_.SetChaos("", 0);
    Reply(response, Json::Value(Json::objectValue));
  });
  server.Post("/admin/registration", [this](const httplib::Request& request, httplib::Response& response) {
    Json::Value body;
    if (!ParseBody(request, response, &body)) return;
    if (!body["refuse"].isBool()) return Refuse(response, "\"refuse\" must be true or false");
    state_.SetRefuseRegistration(body["refuse"].asBool());
    Reply(response, body);
  });
  server.Post("/admin/outage",
              [this](const httplib::Request& request, httplib::Response& response) { SetOutage(request, response); });
  server.Delete("/admin/outage", [this](const httplib::Request&, httplib::Response& response) {
    state_.ClearSlow();
    Reply(response, Json::Value(Json::objectValue));
  });
  server.Get("/admin/reports", [this](const httplib::Request&, httplib::Response& response) {
    Json::Value reports;
    reports["clients"] = records_.Reports();
    Reply(response, reports);
  });
  server.Get("/admin/policy", [this](const httplib::Request&, httplib::Response& response) {
    Json::Value policies;
    policies["policies"] = records_.Policies();
    Reply(response, policies);
  });
  server.Post("/admin/policy",
              [this](const httplib::Request& request, httplib::Response& response) { SetPolicy(request, response); });
  server.Get("/admin/journal", [this](const httplib::Request& request, httplib::Response& response) {
    JournalFilter filter;
    if (request.has_param("since")) {
      const std::string since = request.get_param_value("since");
      const auto [end, ec] = std::from_chars(since.data(), since.data() + since.size(), filter.since);
      if (ec != std::errc() || end != since.data() + since.size()) return Refuse(response, "since must be a number");
    }
    filter.client = request.get_param_value("client");
    filter.operation = request.get_param_value("operation");
    Json::Value journal;
    journal["entries"] = journal_.Read(filter);
    Reply(response, journal);
  });
}

void AdminApi::QueueCommand(const httplib::Request& request, httplib::Response& response) {
  Json::Value body;
  if (!ParseBody(request, response, &body)) return;
  if (!body["client"].isString() || body["client"].asString().empty()) {
    return Refuse(response, "\"client\" (a GUID or \"*\") is required");
  }
  if (!body["command"].isObject() || !body["command"]["cmd"].isObject()) {
    return Refuse(response, "\"command\" must be {\"cmd\": {...}}");
  }
  std::optional<std::string> guid;
  if (body.isMember("guid")) {
    if (!body["guid"].isString()) return Refuse(response, "\"guid\" must be a text");
    guid = body["guid"].asString();
  }
  std::optional<uint32_t> leading;
  if (body.isMember("leading")) {
    uint32_t value = 0;
    if (!OptionalUInt(body, "leading", &value)) return Refuse(response, "\"leading\" must be an unsigned number");
    leading = value;
  }
  const std::optional<Delivery> delivery = DeliveryFromName(body["on"].isString() ? body["on"].asString() : "");
  if (!delivery) return Refuse(response, "\"on\" must be heartbeat, policy or rpconfig");

  Json::Value queued(Json::arrayValue);
  for (const auto& [client, command_guid] :
       state_.Queue(body["client"].asString(), body["command"], guid, leading, *delivery)) {
    Json::Value item;
    item["client"] = client;
    item["guid"] = command_guid;
    queued.append(item);
  }
  Json::Value answer;
  answer["queued"] = queued;
  Reply(response, answer);
}

void AdminApi::SetPolicy(const httplib::Request& request, httplib::Response& response) {
  Json::Value body;
  if (!ParseBody(request, response, &body)) return;
  if (!body["client"].isString() || body["client"].asString().empty()) {
    return Refuse(response, "\"client\" (a GUID or \"*\") is required");
  }
  std::string reason;
  if (!IsPolicyObject(body["policy"], &reason)) return Refuse(response, reason);
  if (body.isMember("notify") && !body["notify"].isBool()) return Refuse(response, "\"notify\" must be true or false");
  const std::string client = body["client"].asString();
  records_.SetPolicy(client, body["policy"]);
  Json::Value entry(Json::objectValue);
  entry["admin"] = "policy";
  entry["clientGuid"] = client;
  entry["policyVersion"] = body["policy"]["version"];
  // Command 24 makes the client ask for its policy at once instead of at its
  // next policy check.
  if (body.get("notify", true).asBool()) {
    Json::Value guids(Json::arrayValue);
    for (const auto& queued : state_.Queue(client, MakeCommand(kCmdPolicyRefresh, Json::Value(Json::objectValue)),
                                           std::nullopt, std::nullopt, Delivery::kHeartbeat)) {
      guids.append(queued.second);
    }
    entry["refreshCommandGuids"] = guids;
  }
  journal_.Append(entry);
  Reply(response, entry);
}

void AdminApi::AddFault(const httplib::Request& request, httplib::Response& response) {
  Json::Value body;
  if (!ParseBody(request, response, &body)) return;
  Fault fault;
  uint32_t http_status = 0;
  if (!OptionalUInt(body, "count", &fault.remaining) || fault.remaining == 0) {
    return Refuse(response, "\"count\" must be a positive number");
  }
  if (!OptionalUInt(body, "httpStatus", &http_status) || (http_status != 0 && (http_status < 100 || http_status > 599))) {
    return Refuse(response, "\"httpStatus\" must be an HTTP status");
  }
  fault.http_status = static_cast<int>(http_status);
  if (body.isMember("operation") && !body["operation"].isString()) return Refuse(response, "\"operation\" must be a text");
  if (body.isMember("client") && !body["client"].isString()) return Refuse(response, "\"client\" must be a text");
  fault.operation = body["operation"].asString();
  fault.client = body["client"].asString();
  if (body.isMember("success")) {
    if (!body["success"].isBool()) return Refuse(response, "\"success\" must be true or false");
    fault.success = body["success"].asBool();
  }
  if (body.isMember("errorCodes")) {
    if (!body["errorCodes"].isArray()) return Refuse(response, "\"errorCodes\" must be an array");
    for (const Json::Value& code : body["errorCodes"]) {
      if (!code.isUInt()) return Refuse(response, "error codes must be unsigned numbers");
      fault.error_codes.push_back(code.asUInt());
    }
  }
  if (body.isMember("body")) {
    if (!body["body"].isString()) return Refuse(response, "\"body\" must be a text");
    fault.body = body["body"].asString();
  }
  state_.AddFault(std::move(fault));
  Reply(response, body);
}

void AdminApi::SetOutage(const httplib::Request& request, httplib::Response& response) {
  Json::Value body;
  if (!ParseBody(request, response, &body)) return;
  uint32_t seconds = 0;
  uint32_t delay_ms = 5000;
  if (!OptionalUInt(body, "seconds", &seconds) || seconds == 0) return Refuse(response, "\"seconds\" must be positive");
  if (!OptionalUInt(body, "delayMs", &delay_ms)) return Refuse(response, "\"delayMs\" must be a number");
  const std::string mode = body["mode"].asString();
  const std::string listener = body["listener"].isString() ? body["listener"].asString() : "all";
  if (mode == "slow") {
    state_.SetSlow(std::chrono::seconds(seconds), std::chrono::milliseconds(delay_ms));
  } else if (mode == "unreachable") {
    // Suspending closes only the listening socket, so this answer still
    // reaches the caller.
    if (!suspend_(listener, std::chrono::seconds(seconds))) return Refuse(response, "no listener " + listener);
  } else {
    return Refuse(response, "\"mode\" must be unreachable or slow");
  }
  Reply(response, body);
}

}  // namespace cssim
