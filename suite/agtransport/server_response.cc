#include "suite/agtransport/server_response.h"

#include <json/json.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "suite/agtransport/limits.h"

namespace agtransport {
namespace {

// Texts handed to the core are plain C strings: a NUL inside a server text
// ends it there, as the core would read it anyway.
char* CopyText(std::string_view text, size_t max_chars) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  if (text.size() > max_chars) text = text.substr(0, max_chars);
  auto* copy = new char[text.size() + 1];
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

std::string CompactJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

bool ReadUInt32(const Json::Value& value, uint32_t* out) {
  if (!value.isUInt() || value.isBool()) return false;
  *out = value.asUInt();
  return true;
}

bool ReadSuccess(const Json::Value& value, uint8_t* out) {
  if (value.isBool()) {
    *out = value.asBool() ? 1 : 0;
    return true;
  }
  uint32_t number = 0;
  if (!ReadUInt32(value, &number) || number > 1) return false;
  *out = static_cast<uint8_t>(number);
  return true;
}

// Owns a partly built record so that a refusal half-way releases it.
struct ResponseDeleter {
  void operator()(ServerResponse* response) const { ReleaseServerResponse(response); }
};
using ResponsePtr = std::unique_ptr<ServerResponse, ResponseDeleter>;

bool ReadErrorCodes(const Json::Value& codes, ServerResponse* response, std::string* error) {
  if (!codes.isArray()) {
    *error = "\"errorCodes\" is not an array";
    return false;
  }
  if (codes.empty()) return true;
  std::vector<uint32_t> values;
  values.reserve(codes.size());
  for (const Json::Value& code : codes) {
    uint32_t value = 0;
    if (!ReadUInt32(code, &value)) {
      *error = "an error code is not an unsigned 32-bit number";
      return false;
    }
    values.push_back(value);
  }
  response->pErrorCodes = new uint32_t[values.size()];
  std::memcpy(response->pErrorCodes, values.data(), values.size() * sizeof(uint32_t));
  response->dwErrorCount = static_cast<uint32_t>(values.size());
  return true;
}

// Checks one command entry's members; true when the entry is well formed.
bool CheckCommand(const Json::Value& item, uint32_t* leading, std::string* error) {
  if (!item.isObject()) {
    *error = "a command entry is not an object";
    return false;
  }
  if (item.isMember("leading") && !ReadUInt32(item["leading"], leading)) {
    *error = "\"leading\" of a command entry is not an unsigned 32-bit number";
    return false;
  }
  const Json::Value& guid = item["guid"];
  if (!guid.isNull() && !guid.isString()) {
    *error = "\"guid\" of a command entry is not a text";
    return false;
  }
  if (!item["command"].isObject()) {
    *error = "\"command\" of a command entry is missing or not an object";
    return false;
  }
  return true;
}

bool ReadCommand(const Json::Value& item, ServerCommandEntry* entry, std::string* error) {
  uint32_t leading = 0;
  if (!CheckCommand(item, &leading, error)) return false;
  const Json::Value& guid = item["guid"];
  entry->dwLeading = leading;
  entry->pszCmdGuid = CopyText(guid.isString() ? guid.asString() : std::string(), kMaxCommandGuidChars);
  const std::string text = CompactJson(item["command"]);
  entry->pszCommandJson = CopyText(text, text.size());
  return true;
}

// Every entry must be well formed; only the first kMaxCommandsPerResponse are
// handed on.
bool ReadCommands(const Json::Value& commands, ServerResponse* response, std::string* error,
                  size_t* refused_commands) {
  if (!commands.isArray()) {
    *error = "\"commands\" is not an array";
    return false;
  }
  if (commands.empty()) return true;
  const auto count = static_cast<uint32_t>(std::min<size_t>(commands.size(), kMaxCommandsPerResponse));
  for (Json::ArrayIndex i = count; i < commands.size(); ++i) {
    uint32_t leading = 0;
    if (!CheckCommand(commands[i], &leading, error)) return false;
  }
  // Value-initialised: every pointer null, so a refusal half-way frees only
  // what was filled.
  response->pCommands = new ServerCommandEntry[count]();
  response->dwCommandCount = count;
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadCommand(commands[i], &response->pCommands[i], error)) return false;
  }
  *refused_commands = commands.size() - count;
  return true;
}

// What the wire protocol refuses but JsonCpp's strict mode lets through: it
// stops reading at a NUL byte and accepts a comment after the value. A
// comment can only start outside a text, and after the top-level value only
// white space may follow.
bool CheckBodyText(std::string_view body, std::string* error) {
  if (body.find('\0') != std::string_view::npos) {
    *error = "response body contains a NUL byte";
    return false;
  }
  bool in_text = false;
  bool escaped = false;
  size_t depth = 0;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (in_text) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_text = false;
      }
    } else if (c == '"') {
      in_text = true;
    } else if (c == '/') {
      *error = "response body contains a comment";
      return false;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if ((c == '}' || c == ']') && depth > 0 && --depth == 0) {
      if (body.find_first_not_of(" \t\r\n", i + 1) != std::string_view::npos) {
        *error = "response body has text after its JSON value";
        return false;
      }
      return true;
    }
  }
  return true;  // no complete value: the parser says what is wrong
}

}  // namespace

ServerResponse* ParseServerResponse(std::string_view body, std::string* error, size_t* refused_commands) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  size_t refused = 0;
  if (refused_commands == nullptr) refused_commands = &refused;
  *refused_commands = 0;
  if (body.size() > kMaxResponseBytes) {
    *error = "response body is larger than " + std::to_string(kMaxResponseBytes) + " bytes";
    return nullptr;
  }
  if (body.empty()) {
    *error = "response body is empty";
    return nullptr;
  }
  if (!CheckBodyText(body, error)) return nullptr;
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  builder["stackLimit"] = 200;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string parse_errors;
  try {
    if (!reader->parse(body.data(), body.data() + body.size(), &root, &parse_errors)) {
      const size_t line_end = parse_errors.find('\n');
      *error = "response is not JSON: " + parse_errors.substr(0, line_end);
      return nullptr;
    }
    if (!root.isObject()) {
      *error = "response is not a JSON object";
      return nullptr;
    }
    ResponsePtr response(new ServerResponse{});
    if (!root.isMember("success")) {
      *error = "response has no \"success\"";
      return nullptr;
    }
    if (!ReadSuccess(root["success"], &response->bSuccess)) {
      *error = "\"success\" is neither a boolean nor 0 or 1";
      return nullptr;
    }
    if (root.isMember("errorCodes") && !ReadErrorCodes(root["errorCodes"], response.get(), error)) return nullptr;
    if (root.isMember("commands") && !ReadCommands(root["commands"], response.get(), error, refused_commands)) return nullptr;
    return response.release();
  } catch (const std::bad_alloc&) {
    *error = "out of memory while reading the response";
  } catch (const std::exception& e) {
    // JsonCpp reports some malformed input (e.g. nesting beyond the stack
    // limit) by throwing.
    *error = std::string("response could not be read: ") + e.what();
  }
  return nullptr;
}

void ReleaseServerResponse(ServerResponse* response) {
  if (response == nullptr) return;
  if (response->pCommands != nullptr) {
    for (uint32_t i = 0; i < response->dwCommandCount; ++i) {
      delete[] response->pCommands[i].pszCmdGuid;
      delete[] response->pCommands[i].pszCommandJson;
    }
    delete[] response->pCommands;
  }
  delete[] response->pErrorCodes;
  delete response;
}

}  // namespace agtransport
