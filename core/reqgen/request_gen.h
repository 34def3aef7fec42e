// CRequestGen: the request-details list from which every outgoing message is
// built. The list is handed to the response generator as a RequestList (its
// head and tail), which is why those two pointers are its only data.
// Payloads are borrowed: the list never copies or frees them.
#pragma once

#include <agsuite/agmsg.h>

class CRequestGen {
 public:
  CRequestGen();
  ~CRequestGen();
  CRequestGen(const CRequestGen&) = delete;
  CRequestGen& operator=(const CRequestGen&) = delete;

  bool AddRequestDetails(uint32_t id, uint32_t category, uint32_t action, char* payload);
  // Stores the list itself in *request; false for a null output or an empty list.
  bool GetRequest(const RequestList** request);
  bool FreeRequestDetails(RequestDetails* entry);
  bool ClearRequest();

 private:
  RequestList list_;
};
