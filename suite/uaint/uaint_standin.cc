// The unified-agent stand-in's exports. It behaves as far as the agent can
// tell: a subscription needs client type 3, a product id and the passphrase
// both sides derive; the other calls need a subscription; responses are heap
// texts that come back through FreeResponse. Every call is journalled with
// its arguments and the status it got (the passphrase only as
// accepted/refused: it is a secret).
//
// Built a second time without "RegisterNotificationCallback"
// (UAINT_WITHOUT_NOTIFICATIONS) to stand for an integration library too old
// for the agent.
#include <agsuite/uaint.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "core/common/ua_passphrase.h"
#include "standin_files.h"

#define UAINT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusInvalidArgument = 1;
constexpr int32_t kStatusNotSubscribed = 2;
constexpr int32_t kStatusUnknownClient = 4;
constexpr int32_t kStatusWrongPassphrase = 5;
constexpr const char* kDefaultUdi = "UA-5e0c7b2d-91f4-4a8e-b6d3-27c1f0e9a4b8";

struct StandInState {
  std::mutex mutex;
  bool subscribed = false;                           // guarded by mutex
  PFN_UA_NOTIFICATION_CALLBACK callback = nullptr;  // guarded by mutex
};

StandInState& State() {
  static StandInState state;
  return state;
}

// The status uaint.conf forces on `call`, or `status`.
int32_t Forced(const std::map<std::string, std::string>& settings, const char* call, int32_t status) {
  const auto it = settings.find(std::string("status.") + call);
  return it == settings.end() ? status : static_cast<int32_t>(std::strtol(it->second.c_str(), nullptr, 10));
}

char* HeapCopy(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

bool IsSubscribed() {
  std::lock_guard lock(State().mutex);
  return State().subscribed;
}

// Journals the call and hands a response to the caller when it succeeded.
int32_t Finish(Json::Value call, int32_t status, const char* responseJson, char** response) {
  call["status"] = status;
  if (response != nullptr) {
    *response = status == kStatusOk ? HeapCopy(responseJson) : nullptr;
    call["response"] = *response != nullptr;
  }
  uaint::AppendToJournal(call);
  return status;
}

// Tells the agent, through its registered callback, what was received.
void Notify(const std::string& what) {
  PFN_UA_NOTIFICATION_CALLBACK callback = nullptr;
  {
    std::lock_guard lock(State().mutex);
    callback = State().callback;
  }
  if (callback == nullptr) return;
  Json::Value notification(Json::objectValue);
  notification["event"] = what;
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  const std::string text = Json::writeString(builder, notification);
  callback(text.c_str());
  Json::Value call(Json::objectValue);
  call["call"] = "callback";
  call["json"] = text;
  uaint::AppendToJournal(call);
}

}  // namespace

UAINT_EXPORT int32_t SubscribeV2(uint32_t clientType, const char* passphrase, const char* productId) {
  const auto settings = uaint::ReadSettings();
  char expected[UA_PASSPHRASE_BUFFER_SIZE] = {};
  if (const auto it = settings.find("passphrase"); it != settings.end()) {
    std::strncpy(expected, it->second.c_str(), sizeof expected - 1);
  } else if (GenerateUAPassphrase(expected, sizeof expected) != UA_PASSPHRASE_SUCCESS) {
    expected[0] = '\0';
  }
  const bool accepted = passphrase != nullptr && expected[0] != '\0' && std::strcmp(passphrase, expected) == 0;
  int32_t status = kStatusOk;
  if (clientType != kUaClientTypeAgent) {
    status = kStatusUnknownClient;
  } else if (productId == nullptr || productId[0] == '\0') {
    status = kStatusInvalidArgument;
  } else if (!accepted) {
    status = kStatusWrongPassphrase;
  }
  status = Forced(settings, "SubscribeV2", status);
  if (status == kStatusOk) {
    std::lock_guard lock(State().mutex);
    State().subscribed = true;
  }
  Json::Value call(Json::objectValue);
  call["call"] = "SubscribeV2";
  call["clientType"] = clientType;
  call["passphrase"] = accepted ? "accepted" : "refused";
  call["productId"] = productId != nullptr ? productId : "";
  return Finish(call, status, nullptr, nullptr);
}

UAINT_EXPORT int32_t UnSubscribe(uint32_t clientType) {
  int32_t status = clientType != kUaClientTypeAgent ? kStatusUnknownClient
                   : IsSubscribed()                 ? kStatusOk
                                                    : kStatusNotSubscribed;
  status = Forced(uaint::ReadSettings(), "UnSubscribe", status);
  if (status == kStatusOk) {
    std::lock_guard lock(State().mutex);
    State().subscribed = false;
    State().callback = nullptr;
  }
  Json::Value call(Json::objectValue);
  call["call"] = "UnSubscribe";
  call["clientType"] = clientType;
  return Finish(call, status, nullptr, nullptr);
}

#ifndef UAINT_WITHOUT_NOTIFICATIONS
UAINT_EXPORT void RegisterNotificationCallback(PFN_UA_NOTIFICATION_CALLBACK callback) {
  {
    std::lock_guard lock(State().mutex);
    State().callback = callback;
  }
  Json::Value call(Json::objectValue);
  call["call"] = "RegisterNotificationCallback";
  call["callback"] = callback != nullptr;
  uaint::AppendToJournal(call);
}
#endif

UAINT_EXPORT int32_t ProcessCommand(uint32_t command, const char* json, char** response) {
  int32_t status = json == nullptr || response == nullptr ? kStatusInvalidArgument
                   : IsSubscribed()                        ? kStatusOk
                                                           : kStatusNotSubscribed;
  status = Forced(uaint::ReadSettings(), "ProcessCommand", status);
  Json::Value call(Json::objectValue);
  call["call"] = "ProcessCommand";
  call["command"] = command;
  call["json"] = json != nullptr ? json : "";
  Finish(call, status, R"({"result":"accepted"})", response);
  if (status == kStatusOk) Notify("command-received");
  return status;
}

UAINT_EXPORT int32_t SendData(const char* serverUrl, const char* json, char** response) {
  int32_t status = serverUrl == nullptr || json == nullptr || response == nullptr ? kStatusInvalidArgument
                   : IsSubscribed()                                                 ? kStatusOk
                                                                                    : kStatusNotSubscribed;
  status = Forced(uaint::ReadSettings(), "SendData", status);
  Json::Value call(Json::objectValue);
  call["call"] = "SendData";
  call["server"] = serverUrl != nullptr ? serverUrl : "";
  call["json"] = json != nullptr ? json : "";
  return Finish(call, status, R"({"result":"registered"})", response);
}

UAINT_EXPORT void FreeResponse(char* response) {
  Json::Value call(Json::objectValue);
  call["call"] = "FreeResponse";
  call["response"] = response != nullptr;
  uaint::AppendToJournal(call);
  std::free(response);
}

UAINT_EXPORT int32_t GetUDIFromQA(char* buffer) {
  const auto settings = uaint::ReadSettings();
  const auto it = settings.find("udi");
  std::string udi = it != settings.end() ? it->second : kDefaultUdi;
  udi.resize(std::min<size_t>(udi.size(), kUaUdiBufferSize - 1));
  int32_t status = buffer == nullptr ? kStatusInvalidArgument : IsSubscribed() ? kStatusOk : kStatusNotSubscribed;
  status = Forced(settings, "GetUDIFromQA", status);
  if (status == kStatusOk) std::memcpy(buffer, udi.c_str(), udi.size() + 1);
  Json::Value call(Json::objectValue);
  call["call"] = "GetUDIFromQA";
  call["udi"] = status == kStatusOk ? udi : "";
  return Finish(call, status, nullptr, nullptr);
}
