#include "response_generator.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "core_callback.h"
#include "resp_log.h"
#include "server_commands.h"

namespace agresp {
namespace {

// The core's lists are short; a longer walk means a corrupt or cyclic list.
constexpr size_t kMaxRequestEntries = 4096;

void FreeDetails(ResponseDetails* entry) {
  while (entry != nullptr) {
    ResponseDetails* next = entry->next;
    std::free(entry->pszText);
    std::free(entry);
    entry = next;
  }
}

// Appends one entry (text copied; empty text stays null) at *tail.
bool Append(ResponseDetails**& tail, uint32_t id, uint32_t category, uint32_t action, const std::string& text) {
  auto* entry = static_cast<ResponseDetails*>(std::calloc(1, sizeof(ResponseDetails)));
  if (entry == nullptr) return false;
  entry->id = id;
  entry->category = category;
  entry->action = action;
  entry->result = text.empty() ? 0 : 1;
  if (!text.empty()) {
    entry->pszText = strdup(text.c_str());
    if (entry->pszText == nullptr) {
      std::free(entry);
      return false;
    }
  }
  *tail = entry;
  tail = &entry->next;
  return true;
}

}  // namespace

uint8_t ResponseGenerator::Init() {
  initialised_ = true;
  return 1;
}

uint8_t ResponseGenerator::Deinit() {
  initialised_ = false;
  return 1;
}

PFN_NOTIFY_CLIENT_CORE ResponseGenerator::Callback() const {
  return callback_ != nullptr ? callback_ : CoreCallback();
}

uint8_t ResponseGenerator::CreateResponse(const RequestList* request, CAResponse* response) {
  if (request == nullptr || response == nullptr || request->pRequestDetailsList == nullptr) {
    RESPLOG(AG_LOG_FAILURE, "Invalid input parameters.");
    return 0;
  }
  if (!initialised_) {
    RESPLOG(AG_LOG_FAILURE, "Response generator not initialised.");
    return 0;
  }
  ResponseDetails* head = nullptr;
  ResponseDetails** tail = &head;
  try {
    payloads_.BeginRequest();
    size_t walked = 0;
    for (const RequestDetails* it = request->pRequestDetailsList; it != nullptr; it = it->next) {
      if (++walked > kMaxRequestEntries) {
        RESPLOG(AG_LOG_FAILURE, "Request list longer than %zu entries refused.", kMaxRequestEntries);
        FreeDetails(head);
        return 0;
      }
      if (!Append(tail, it->id, it->category, it->action,
                  payloads_.Build(it->id, it->category, it->action, it->payload))) {
        RESPLOG(AG_LOG_FAILURE, "Response allocation failed.");
        FreeDetails(head);
        return 0;
      }
    }
  } catch (const std::exception& e) {
    RESPLOG(AG_LOG_FAILURE, "Response creation failed: %s", e.what());
    FreeDetails(head);
    return 0;
  }
  response->kind = kCAResponseKindList;
  response->record = head;
  return 1;
}

uint8_t ResponseGenerator::CreateResponse(const CSPRequest* request, CAResponse* response) {
  if (request == nullptr || response == nullptr) {
    RESPLOG(AG_LOG_FAILURE, "Invalid input parameters.");
    return 0;
  }
  if (!initialised_) {
    RESPLOG(AG_LOG_FAILURE, "Response generator not initialised.");
    return 0;
  }
  CommandOutcome outcome;
  try {
    if (!CarryOutCommand(*request, Callback(), payloads_, &outcome)) {
      RESPLOG(AG_LOG_FAILURE, "Command %u not carried out.", request->commandId);
      return 0;
    }
  } catch (const std::exception& e) {
    RESPLOG(AG_LOG_FAILURE, "Command %u failed: %s", request->commandId, e.what());
    return 0;
  }
  ResponseDetails* head = nullptr;
  ResponseDetails** tail = &head;
  bool allocated = true;
  if (request->kind == kCSPRequestKindAckPayload) {
    allocated = Append(tail, request->commandId, 1, request->commandType, outcome.ack_payload);
  } else {
    for (const auto& [id, payload] : outcome.entries) {
      if (!payload.empty()) allocated = allocated && Append(tail, id, 1, 1, payload);
    }
  }
  if (!allocated) {
    RESPLOG(AG_LOG_FAILURE, "Response allocation failed.");
    FreeDetails(head);
    return 0;
  }
  response->kind = request->kind == kCSPRequestKindAckPayload ? kCAResponseKindAckPayload : kCAResponseKindList;
  response->record = head;
  return 1;
}

uint8_t ResponseGenerator::FreeResponse(CAResponse* response) {
  if (response == nullptr) return 0;
  FreeDetails(response->record);
  response->record = nullptr;
  response->kind = 0;
  return 1;
}

}  // namespace agresp

extern "C" {

uint8_t CreateCAResponseGenObjNew(ICAResponseGen** ppObj, PFN_NOTIFY_CLIENT_CORE callback) {
  if (ppObj == nullptr) return 0;
  *ppObj = new (std::nothrow) agresp::ResponseGenerator(callback);
  return *ppObj != nullptr ? 1 : 0;
}

uint8_t DeleteCAResponseGenObj(ICAResponseGen* pObj) {
  if (pObj == nullptr) return 0;
  delete static_cast<agresp::ResponseGenerator*>(pObj);
  return 1;
}

uint8_t HandleClientAgentCoreStartup(PFN_NOTIFY_CLIENT_CORE callback) {
  agresp::SetCoreCallback(callback);
  return 1;
}

uint8_t HandleClientAgentCoreCleanup() {
  agresp::SetCoreCallback(nullptr);
  return 1;
}

// Product messages reach the product through its journal as they happen; no
// message-handler thread is kept, so there is nothing to stop.
uint8_t StopAvMessageHandlerThread() { return 1; }

}  // extern "C"
