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

// Builds a ResponseDetails chain. The records are packed, so their pointer
// members are only ever assigned through the record, never through a pointer
// to the member (which would be misaligned).
class DetailsChain {
 public:
  DetailsChain() = default;
  ~DetailsChain() { FreeDetails(head_); }
  DetailsChain(const DetailsChain&) = delete;
  DetailsChain& operator=(const DetailsChain&) = delete;

  // Appends one entry (text copied; an empty text stays null).
  [[nodiscard]] bool Append(uint32_t id, uint32_t category, uint32_t action, const std::string& text) {
    auto* entry = static_cast<ResponseDetails*>(std::calloc(1, sizeof(ResponseDetails)));
    if (entry == nullptr) return false;
    entry->id = id;
    entry->category = category;
    entry->action = action;
    entry->result = text.empty() ? 0 : 1;
    if (!text.empty()) {
      char* copy = strdup(text.c_str());
      if (copy == nullptr) {
        std::free(entry);
        return false;
      }
      entry->pszText = copy;
    }
    if (last_ == nullptr) {
      head_ = entry;
    } else {
      last_->next = entry;
    }
    last_ = entry;
    return true;
  }
  // Hands the chain over to the caller.
  [[nodiscard]] ResponseDetails* Release() {
    ResponseDetails* head = head_;
    head_ = last_ = nullptr;
    return head;
  }

 private:
  ResponseDetails* head_ = nullptr;
  ResponseDetails* last_ = nullptr;
};

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
  DetailsChain chain;
  try {
    payloads_.BeginRequest();
    size_t walked = 0;
    for (const RequestDetails* it = request->pRequestDetailsList; it != nullptr; it = it->next) {
      if (++walked > kMaxRequestEntries) {
        RESPLOG(AG_LOG_FAILURE, "Request list longer than %zu entries refused.", kMaxRequestEntries);
        return 0;
      }
      if (!chain.Append(it->id, it->category, it->action,
                        payloads_.Build(it->id, it->category, it->action, it->payload))) {
        RESPLOG(AG_LOG_FAILURE, "Response allocation failed.");
        return 0;
      }
    }
  } catch (const std::exception& e) {
    RESPLOG(AG_LOG_FAILURE, "Response creation failed: %s", e.what());
    return 0;
  }
  response->kind = kCAResponseKindList;
  response->record = chain.Release();
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
  DetailsChain chain;
  bool allocated = true;
  if (request->kind == kCSPRequestKindAckPayload) {
    allocated = chain.Append(request->commandId, 1, request->commandType, outcome.ack_payload);
  } else {
    for (const auto& [id, payload] : outcome.entries) {
      if (!payload.empty()) allocated = allocated && chain.Append(id, 1, 1, payload);
    }
  }
  if (!allocated) {
    RESPLOG(AG_LOG_FAILURE, "Response allocation failed.");
    return 0;
  }
  response->kind = request->kind == kCSPRequestKindAckPayload ? kCAResponseKindAckPayload : kCAResponseKindList;
  response->record = chain.Release();
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
