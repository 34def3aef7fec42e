// One HTTP(S) connection context of an RP client: a libcurl easy handle that
// keeps its connection to the server open between requests.
//
// Owned by one RP client and used by one thread at a time (the owner's).
// Every request is bounded: a connect time-out, a total time-out, the
// process-wide transfer limit (transfer_limit.h) and a cap on the response
// body, so that a dead, slow or hostile server fails the call instead of
// holding the agent's thread. The easy handle runs on a multi handle of its
// own, whose wait a new transfer limit interrupts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "suite/agtransport/support_environment.h"

using CURL = void;
using CURLM = void;

namespace agtransport {

struct HttpRequest {
  std::string url;
  std::vector<std::string> headers;  // "Name: value"
  std::string body;                  // sent as a POST body
  std::optional<ProxySettings> proxy;  // none: connect directly
  std::string ca_bundle;             // empty: the system's CA store
  uint32_t connect_timeout_ms = 0;
  uint32_t total_timeout_ms = 0;
};

struct HttpResult {
  bool completed = false;  // a whole response arrived (any status)
  long status = 0;
  std::string body;
  std::string error;       // why the exchange did not complete
};

class HttpSession {
 public:
  HttpSession();
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  [[nodiscard]] bool valid() const { return handle_ != nullptr && multi_ != nullptr; }
  [[nodiscard]] HttpResult Post(const HttpRequest& request);

 private:
  CURL* handle_;
  CURLM* multi_;
};

}  // namespace agtransport
