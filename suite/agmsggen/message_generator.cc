#include "message_generator.h"

#include <agsuite/agevtlog.h>
#include <json/json.h>

#include <cstring>
#include <exception>
#include <new>

#define GENLOG(level, ...) AgEvtLogWrite((level), "agmsggen", __func__, __FILE__, __LINE__, __VA_ARGS__)

namespace agmsggen {
namespace {

// A response list is built by our own response generator, but a corrupt or
// cyclic list must still end the walk.
constexpr size_t kMaxEntries = 4096;

bool ParsePayload(const char* text, Json::Value* out) {
  Json::CharReaderBuilder builder;
  builder["failIfExtra"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(text, text + std::strlen(text), out, &errors);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string BuildMessageText(const ResponseDetails* first) {
  Json::Value message(Json::arrayValue);
  size_t walked = 0;
  for (const ResponseDetails* entry = first; entry != nullptr && walked < kMaxEntries; entry = entry->next, ++walked) {
    if (entry->pszText == nullptr || entry->pszText[0] == '\0') continue;
    Json::Value payload;
    if (!ParsePayload(entry->pszText, &payload)) {
      GENLOG(AG_LOG_FAILURE, "Payload of data id %u is not valid JSON; left out.", entry->id);
      continue;
    }
    Json::Value element(Json::objectValue);
    element["dataId"] = entry->id;
    element["payload"] = std::move(payload);
    message.append(std::move(element));
  }
  if (message.empty()) return {};
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  return Json::writeString(writer, message);
}

uint8_t MessageGenerator::CreateResponseMsg(const CAResponse* response, char** ppszMsg) {
  if (response == nullptr || ppszMsg == nullptr) {
    GENLOG(AG_LOG_FAILURE, "NULL  parameter received.");
    return 0;
  }
  *ppszMsg = nullptr;
  std::string text;
  try {
    text = BuildMessageText(response->record);
  } catch (const std::exception& e) {
    GENLOG(AG_LOG_FAILURE, "Message generation failed: %s", e.what());
    return 0;
  }
  if (text.empty()) GENLOG(AG_LOG_PASSED_OVER, "No entry with a payload; the message is empty.");
  auto owned = std::unique_ptr<char[]>(new (std::nothrow) char[text.size() + 1]);
  if (!owned) {
    GENLOG(AG_LOG_FAILURE, "Message allocation failed.");
    return 0;
  }
  std::memcpy(owned.get(), text.c_str(), text.size() + 1);
  *ppszMsg = owned.get();
  texts_.emplace(owned.get(), std::move(owned));
  return 1;
}

uint8_t MessageGenerator::FreeResponseMsg(char* pszMsg) {
  if (texts_.erase(pszMsg) == 0) {
    GENLOG(AG_LOG_FAILURE, "Text not handed out by this generator.");
    return 0;
  }
  return 1;
}

}  // namespace agmsggen

extern "C" {

uint8_t CreateICSPMsgGenObj(ICSPMsgGen** ppObj) {
  if (ppObj == nullptr) return 0;
  *ppObj = new (std::nothrow) agmsggen::MessageGenerator();
  return *ppObj != nullptr ? 1 : 0;
}

uint8_t DeleteICSPMsgGenObj(ICSPMsgGen* pObj) {
  if (pObj == nullptr) return 0;
  delete static_cast<agmsggen::MessageGenerator*>(pObj);
  return 1;
}

}  // extern "C"
