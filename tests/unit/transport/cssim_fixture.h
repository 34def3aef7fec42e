// Shared pieces of the transport tests that need only the library's C ABI: a
// cssim child process with its admin API, connection records, response
// holders, scratch folders and a capture of the log lines.
#pragma once

#include <agsuite/agevtlog.h>
#include <agsuite/agmsg.h>
#include <json/value.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "has_members.h"
#include "tests/unit/mocks/child_process.h"
#include "tests/unit/mocks/log_capture.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace transport_test {

using test_support::ChildProcess;
using test_support::FreeLoopbackPort;

// A scratch folder removed with its contents at the end of the test.
struct TempFolder : test_support::ScratchFolder {
  TempFolder() : ScratchFolder("agtransport-") {}
};

class Cssim {
 public:
  // Starts cssim on free loopback ports; `extra` is appended to its command
  // line. Fails the calling test (ASSERT) when it does not come up.
  void Start(const std::vector<std::string>& extra = {}, bool with_relay = true);
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] int relay_port() const { return relay_port_; }
  [[nodiscard]] bool tls() const { return tls_; }

  // Admin API (always over plain HTTP unless the server runs TLS, then the
  // test CA in `ca_file` is used).
  Json::Value Post(const std::string& path, const std::string& json);
  Json::Value Get(const std::string& path);
  [[nodiscard]] std::vector<Json::Value> Journal(const std::string& operation = "");
  void QueueCommand(const std::string& client, uint32_t id, const std::string& extra_members = "");
  void Fail(const std::string& fault_json) { Post("/admin/faults", fault_json); }

  std::string ca_file;  // set before Start for a TLS server

 private:
  TempFolder folder_;  // holds the journal; outlives the process (declared first)
  ChildProcess process_;
  int port_ = 0;
  int relay_port_ = 0;
  bool tls_ = false;
};

using json_test::HasMembers;

// The JSON of `text`; a failure of the calling test when it is not JSON.
[[nodiscard]] Json::Value ParseJson(const std::string& text);

inline constexpr char kClientGuid[] = "3f2504e04f8911d39a0c0305e82c3301";
inline constexpr char kTenantId[] = "tenant-0042";

// A record for a server on 127.0.0.1:`port` with the given URL scheme prefix
// ("http://", "https://" or ""), and a relay when `relay_port` is not 0.
[[nodiscard]] CSConnectionInfo MakeConnectionInfo(const std::string& scheme, int port, int relay_port = 0,
                                                  const std::string& host = "127.0.0.1");

// Frees the response through its client when the test is done with it.
class ResponseHolder {
 public:
  explicit ResponseHolder(IRPClient& client) : client_(client) {}
  ~ResponseHolder() {
    if (response != nullptr) client_.FreeServerResponse(response);
  }
  ResponseHolder(const ResponseHolder&) = delete;
  ResponseHolder& operator=(const ResponseHolder&) = delete;
  ServerResponse** slot() { return &response; }
  ServerResponse* operator->() const { return response; }

  ServerResponse* response = nullptr;

 private:
  IRPClient& client_;
};

// The log lines written while it lives (the transport's among them).
using ::LogCapture;

}  // namespace transport_test
