#include "command_parser.h"

#include <json/json.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "parse_log.h"

namespace agmsgparse {
namespace {

// Only true JSON integers count as ids: 12.5 or "12" would make the server's
// meaning a guess.
bool ReadUInt32(const Json::Value& value, uint32_t* out) {
  if ((value.type() != Json::intValue && value.type() != Json::uintValue) || !value.isUInt()) {
    return false;
  }
  *out = value.asUInt();
  return true;
}

std::string CompactText(const Json::Value& value) {
  if (value.isNull()) return {};
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  return Json::writeString(writer, value);
}

char* DuplicateOrNull(const std::string& text) {
  if (text.empty()) return nullptr;
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

std::optional<ParsedCommand> ParseCommandText(const char* text) {
  if (text == nullptr || *text == '\0') {
    PARSELOG(AG_LOG_FAILURE, "Empty command text.");
    return std::nullopt;
  }
  const size_t length = strnlen(text, kMaxCommandBytes + 1);
  if (length > kMaxCommandBytes) {
    PARSELOG(AG_LOG_FAILURE, "Command text larger than %zu bytes refused.", kMaxCommandBytes);
    return std::nullopt;
  }
  Json::Value root;
  try {
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    builder["failIfExtra"] = true;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    if (!reader->parse(text, text + length, &root, &errors)) {
      PARSELOG(AG_LOG_FAILURE, "Command is not valid JSON: %s", errors.c_str());
      return std::nullopt;
    }
  } catch (const std::exception& e) {
    // JsonCpp throws when nesting exceeds its stack limit.
    PARSELOG(AG_LOG_FAILURE, "Command JSON refused: %s", e.what());
    return std::nullopt;
  }
  if (!root.isObject() || !root.isMember("cmd") || !root["cmd"].isObject()) {
    PARSELOG(AG_LOG_FAILURE, "Command has no \"cmd\" object.");
    return std::nullopt;
  }
  const Json::Value& cmd = root["cmd"];
  ParsedCommand parsed;
  if (!ReadUInt32(cmd["id"], &parsed.id)) {
    PARSELOG(AG_LOG_FAILURE, "Command \"id\" missing or not an unsigned 32-bit integer.");
    return std::nullopt;
  }
  if (cmd.isMember("type") && !ReadUInt32(cmd["type"], &parsed.type)) {
    PARSELOG(AG_LOG_FAILURE, "Command %u: \"type\" is not an unsigned 32-bit integer.", parsed.id);
    return std::nullopt;
  }
  parsed.context = CompactText(cmd["context"]);
  parsed.data = CompactText(cmd["data"]);
  return parsed;
}

uint8_t CommandParser::OpenMsg(const char* pszJson) {
  open_ = ParseCommandText(pszJson);
  return open_.has_value() ? 1 : 0;
}

uint8_t CommandParser::ParseRequestMsg(CSPRequest** ppRequest) {
  if (ppRequest == nullptr) {
    PARSELOG(AG_LOG_FAILURE, "NULL output parameter.");
    return 0;
  }
  *ppRequest = nullptr;
  if (!open_) {
    PARSELOG(AG_LOG_FAILURE, "No open message.");
    return 0;
  }
  auto* request = static_cast<CSPRequest*>(std::calloc(1, sizeof(CSPRequest)));
  if (request == nullptr) {
    PARSELOG(AG_LOG_FAILURE, "Request allocation failed.");
    return 0;
  }
  request->commandId = open_->id;
  request->commandType = open_->type;
  request->kind = open_->type == kAckPayloadType ? kCSPRequestKindAckPayload : 0;
  request->context = DuplicateOrNull(open_->context);
  request->data = DuplicateOrNull(open_->data);
  if ((!open_->context.empty() && request->context == nullptr) || (!open_->data.empty() && request->data == nullptr)) {
    PARSELOG(AG_LOG_FAILURE, "Request text allocation failed.");
    FreeRequestMsg(request);
    return 0;
  }
  *ppRequest = request;
  return 1;
}

uint8_t CommandParser::FreeRequestMsg(CSPRequest* pRequest) {
  if (pRequest == nullptr) return 0;
  std::free(pRequest->context);
  std::free(pRequest->data);
  std::free(pRequest);
  return 1;
}

uint8_t CommandParser::CloseMsg() {
  open_.reset();
  return 1;
}

}  // namespace agmsgparse

extern "C" {

uint8_t CreateICSPMsgParserObj(ICSPMsgParser** ppObj) {
  if (ppObj == nullptr) return 0;
  *ppObj = new (std::nothrow) agmsgparse::CommandParser();
  return *ppObj != nullptr ? 1 : 0;
}

uint8_t DeleteICSPMsgParserObj(ICSPMsgParser* pObj) {
  if (pObj == nullptr) return 0;
  delete static_cast<agmsgparse::CommandParser*>(pObj);
  return 1;
}

}  // extern "C"
