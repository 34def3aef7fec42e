// CRequestGen: a singly linked list of C-heap entries. The response generator
// walks the same memory, which is why entries are malloc'd records and the
// list is handed out as the object's own head/tail pair.
#include "core/reqgen/request_gen.h"

#include <cstdlib>

#include "core/common/aglog.h"

CRequestGen::CRequestGen() : list_{nullptr, nullptr} {}

CRequestGen::~CRequestGen() { ClearRequest(); }

bool CRequestGen::AddRequestDetails(uint32_t id, uint32_t category, uint32_t action, char* payload) {
  AGLOG(AG_LOG_VERBOSE, "Called...");
  auto* entry = static_cast<RequestDetails*>(std::malloc(sizeof(RequestDetails)));
  if (entry == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Request allocation failed.");
    return false;
  }
  entry->id = id;
  entry->category = category;
  entry->action = action;
  entry->payload = payload;
  entry->next = nullptr;
  if (list_.pTail == nullptr) {
    list_.pRequestDetailsList = entry;
  } else {
    list_.pTail->next = entry;
  }
  list_.pTail = entry;
  AGLOG(AG_LOG_VERBOSE, "Success...");
  return true;
}

bool CRequestGen::GetRequest(const RequestList** request) {
  AGLOG(AG_LOG_VERBOSE, "Called...");
  if (request == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid Params");
    return false;
  }
  if (list_.pTail == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Request not created");
    return false;
  }
  *request = &list_;
  AGLOG(AG_LOG_VERBOSE, "Success...");
  return true;
}

bool CRequestGen::FreeRequestDetails(RequestDetails* /*entry*/) {
  // Payloads are borrowed from the caller; the entry itself is freed by
  // ClearRequest.
  return true;
}

bool CRequestGen::ClearRequest() {
  AGLOG(AG_LOG_VERBOSE, "Called...");
  if (list_.pRequestDetailsList == nullptr) {
    AGLOG(AG_LOG_PASSED_OVER, "pRequestDetailsList = NULL");
    list_.pTail = nullptr;
    return false;
  }
  RequestDetails* entry = list_.pRequestDetailsList;
  while (entry != nullptr) {
    RequestDetails* next = entry->next;
    FreeRequestDetails(entry);
    std::free(entry);
    entry = next;
  }
  list_.pRequestDetailsList = nullptr;
  list_.pTail = nullptr;
  AGLOG(AG_LOG_VERBOSE, "Success");
  return true;
}
