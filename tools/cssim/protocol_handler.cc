#include "tools/cssim/protocol_handler.h"

#include <json/json.h>

#include <memory>

namespace cssim {
namespace {

// Command ids of the catalogue in docs/messages.md that the simulator makes
// on its own.
constexpr uint32_t kCmdHeartbeatInterval = 27;
constexpr uint32_t kCmdRelayConfig = 57;
constexpr uint32_t kCmdPolicy = 12;
constexpr uint32_t kCmdTypeAckWithPayload = 4;

std::string WriteCompact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

bool ParseObject(const std::string& text, Json::Value* value) {
  Json::CharReaderBuilder builder;
  builder["failIfExtra"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(text.data(), text.data() + text.size(), value, &errors) && value->isObject();
  } catch (const std::exception&) {
    return false;
  }
}

Json::Value ErrorAnswer(const std::vector<uint32_t>& codes, bool success = false) {
  Json::Value answer(Json::objectValue);
  answer["success"] = success;
  Json::Value list(Json::arrayValue);
  for (const uint32_t code : codes) list.append(code);
  answer["errorCodes"] = list;
  return answer;
}

bool IsNumber(const Json::Value& value, uint32_t number) { return value.isUInt() && value.asUInt() == number; }

void AppendCommand(Json::Value* answer, const QueuedCommand& command) {
  Json::Value entry;
  entry["leading"] = command.leading;
  entry["guid"] = command.guid;
  entry["command"] = command.command;
  (*answer)["commands"].append(entry);
}

// The journal keeps what the answer carried, not the whole command texts.
Json::Value Summary(const Json::Value& answer) {
  Json::Value summary(Json::objectValue);
  summary["success"] = answer["success"];
  if (answer.isMember("errorCodes")) summary["errorCodes"] = answer["errorCodes"];
  if (answer.isMember("commands")) {
    Json::Value guids(Json::arrayValue);
    for (const Json::Value& entry : answer["commands"]) guids.append(entry["guid"]);
    summary["commandGuids"] = guids;
  }
  return summary;
}

}  // namespace

Json::Value MakeCommand(uint32_t id, const Json::Value& data) {
  Json::Value command;
  command["cmd"]["id"] = id;
  command["cmd"]["type"] = 1;
  command["cmd"]["context"] = Json::Value(Json::objectValue);
  command["cmd"]["data"] = data;
  return command;
}

Json::Value MakePolicyCommand(const Json::Value& policy) {
  Json::Value command = MakeCommand(kCmdPolicy, policy);
  command["cmd"]["type"] = kCmdTypeAckWithPayload;
  return command;
}

ProtocolHandler::ProtocolHandler(SimState& state, ClientRecords& records, Journal& journal, ServerBehaviour behaviour)
    : state_(state), records_(records), journal_(journal), behaviour_(std::move(behaviour)) {}

void ProtocolHandler::Install(httplib::Server& server, const std::string& via) {
  server.Post(R"(/(.+)/([^/]+)/(register|clientdata|notification|ack|rpconfig|unregister))",
              [this, via](const httplib::Request& request, httplib::Response& response) {
                Handle(request, response, via);
              });
}

void ProtocolHandler::Handle(const httplib::Request& request, httplib::Response& response, const std::string& via) {
  const std::string service = request.matches[2];
  const std::string operation = request.matches[3];
  const std::string guid = request.get_header_value("X-Ag-Client-Guid");
  const std::string tenant = request.get_header_value("X-Ag-Tenant-Id");

  Json::Value entry(Json::objectValue);
  entry["listener"] = via;
  entry["path"] = request.path;
  entry["service"] = service;
  entry["operation"] = operation;
  entry["clientGuid"] = guid;
  entry["tenantId"] = tenant;
  // A forwarding proxy announces itself here; tests use it to prove the route.
  if (request.has_header("Via")) entry["proxyVia"] = request.get_header_value("Via");

  Json::Value body;
  if (guid.empty() || !ParseObject(request.body, &body)) {
    entry["error"] = guid.empty() ? "no client GUID header" : "body is not a JSON object";
    entry["httpStatus"] = 400;
    journal_.Append(entry);
    response.status = 400;
    response.set_content(R"({"error":"bad request"})", "application/json");
    return;
  }
  for (const char* member : {"dataId", "dataType", "flag", "recordFlag", "kind", "cmdId", "cmdGuid", "status",
                             "retry", "leading"}) {
    if (body.isMember(member)) entry[member] = body[member];
  }
  entry["payload"] = body.isMember("payload") ? body["payload"] : body["message"];

  const bool enrolled = state_.Touch(guid, tenant, operation, via);
  state_.WaitIfSlow();

  std::optional<Fault> fault = state_.TakeFault(operation, guid);
  if (!fault) fault = state_.TakeChaosFault(operation);
  if (fault) {
    entry["fault"] = true;
    if (!fault->chaos.empty()) entry["chaos"] = fault->chaos;
    response.status = fault->http_status != 0 ? fault->http_status : 200;
    if (fault->body) {
      entry["response"] = Json::Value(*fault->body);
      response.set_content(*fault->body, "application/json");
    } else {
      const Json::Value answer = ErrorAnswer(fault->error_codes, fault->success);
      entry["response"] = Summary(answer);
      response.set_content(WriteCompact(answer), "application/json");
      // A well-formed answer, even a refusal, is the server's last word on
      // this acknowledgement.
      if (operation == "ack" && response.status == 200) state_.Acknowledged(guid, body["cmdGuid"].asString());
    }
    entry["httpStatus"] = response.status;
    journal_.Append(entry);
    return;
  }

  const Json::Value answer = Answer(operation, guid, enrolled, body, &entry);
  if (operation == "ack") state_.Acknowledged(guid, body["cmdGuid"].asString());
  entry["response"] = Summary(answer);
  journal_.Append(entry);
  response.set_content(WriteCompact(answer), "application/json");
}

std::vector<QueuedCommand> ProtocolHandler::AnswerClientData(const std::string& guid, const Json::Value& body,
                                                             Json::Value* entry) {
  if (IsNumber(body["dataId"], kHeartbeatDataId)) return state_.Take(guid, Delivery::kHeartbeat);
  if (IsNumber(body["dataId"], kReportDataId)) {
    uint64_t total = 0;
    (*entry)["reportRecords"] = static_cast<Json::UInt64>(records_.AddReportChunk(guid, body["message"], &total));
    (*entry)["reportTotal"] = static_cast<Json::UInt64>(total);
    return {};
  }
  if (!IsNumber(body["dataType"], kPolicyDataType)) return {};
  // Commands queued for the policy answer go first; otherwise the client
  // gets the policy assigned to it.
  std::vector<QueuedCommand> commands = state_.Take(guid, Delivery::kPolicy);
  if (commands.empty()) {
    if (const std::optional<Json::Value> policy = records_.Policy(guid)) {
      (*entry)["policyVersion"] = (*policy)["version"];
      commands.push_back(QueuedCommand{state_.NewGuid(), 0, MakePolicyCommand(*policy)});
    }
  }
  return commands;
}

Json::Value ProtocolHandler::Answer(const std::string& operation, const std::string& guid, bool enrolled,
                                    const Json::Value& body, Json::Value* entry) {
  if (operation == "register") {
    if (state_.refusing_registration()) return ErrorAnswer({kErrorRegistrationRefused});
    if (state_.Enrol(guid)) {
      if (behaviour_.heartbeat_interval_minutes) {
        Json::Value data;
        data["interval"] = *behaviour_.heartbeat_interval_minutes;
        QueueForHeartbeat(guid, MakeCommand(kCmdHeartbeatInterval, data));
      }
      if (behaviour_.av_build != nullptr) QueueForHeartbeat(guid, behaviour_.av_build->LocationCommand());
    }
    return ErrorAnswer({}, true);
  }
  if (behaviour_.strict_enrolment && !enrolled) return ErrorAnswer({kErrorClientUnknown});

  Json::Value answer = ErrorAnswer({}, true);
  std::vector<QueuedCommand> commands;
  if (operation == "clientdata") {
    commands = AnswerClientData(guid, body, entry);
  } else if (operation == "rpconfig") {
    if (behaviour_.relay_intervals.size() == 3) {
      Json::Value data;
      data["rpHb"] = behaviour_.relay_intervals[0];
      data["rpFcfg"] = behaviour_.relay_intervals[1];
      data["rpReg"] = behaviour_.relay_intervals[2];
      commands.push_back(QueuedCommand{state_.NewGuid(), 0, MakeCommand(kCmdRelayConfig, data)});
    }
    for (QueuedCommand& command : state_.Take(guid, Delivery::kRelayConfig, kMaxCommandsPerAnswer - commands.size())) {
      commands.push_back(std::move(command));
    }
  } else if (operation == "unregister") {
    state_.SetRelayRegistered(guid, false);
  } else if (operation == "notification" && behaviour_.av_build != nullptr &&
             IsNumber(body["dataId"], kAskForAvBuildDataId)) {
    QueueForHeartbeat(guid, behaviour_.av_build->LocationCommand());
  }
  if (!commands.empty()) {
    answer["commands"] = Json::Value(Json::arrayValue);
    for (const QueuedCommand& command : commands) AppendCommand(&answer, command);
  }
  return answer;
}

void ProtocolHandler::QueueForHeartbeat(const std::string& guid, const Json::Value& command) {
  static_cast<void>(state_.Queue(guid, command, std::nullopt, std::nullopt, Delivery::kHeartbeat));
}

}  // namespace cssim
