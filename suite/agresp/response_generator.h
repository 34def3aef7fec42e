// The response generator object handed to the core. For a request-details
// list it builds one ResponseDetails per entry with the payload for its
// id/category/action (payloads.h); for a parsed server command it carries the
// command out (server_commands.h) and returns either the acknowledgement
// payload (kind 4) or the entries to push to the server (kind 0).
//
// Responses are allocated here and released with FreeResponse on the same
// object. An object is used by one thread at a time; the core's notification
// callback it holds may be called from that thread.
#pragma once

#include <agsuite/agmsg.h>

#include "payloads.h"

namespace agresp {

class ResponseGenerator final : public ICAResponseGen {
 public:
  explicit ResponseGenerator(PFN_NOTIFY_CLIENT_CORE callback) : callback_(callback) {}
  ~ResponseGenerator() override = default;
  ResponseGenerator(const ResponseGenerator&) = delete;
  ResponseGenerator& operator=(const ResponseGenerator&) = delete;

  uint8_t Init() override;
  uint8_t Deinit() override;
  uint8_t CreateResponse(const RequestList* request, CAResponse* response) override;
  uint8_t CreateResponse(const CSPRequest* request, CAResponse* response) override;
  uint8_t FreeResponse(CAResponse* response) override;

 private:
  // The callback given at creation, else the one registered at core start-up.
  [[nodiscard]] PFN_NOTIFY_CLIENT_CORE Callback() const;

  PFN_NOTIFY_CLIENT_CORE callback_;
  bool initialised_ = false;
  PayloadBuilder payloads_;
};

}  // namespace agresp
