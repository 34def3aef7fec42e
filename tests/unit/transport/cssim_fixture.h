// Shared pieces of the transport tests: a cssim child process with its admin
// API, connection records, response holders, scratch folders, a JSON
// assertion, and the RP client of the object library with a support
// environment the test controls. Only the transport tests link the RP
// client; the exports test uses the rest.
#pragma once

#include <agsuite/agmsg.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "suite/agtransport/rp_client.h"
#include "suite/agtransport/support_environment.h"
#include "tests/unit/mocks/child_process.h"
#include "tests/unit/mocks/log_capture.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace transport_test {

using test_support::ChildProcess;
using test_support::FreeLoopbackPort;

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

  // Admin API: a GET without `json`, a POST with it; over TLS with the test
  // CA in `ca_file` when the server runs TLS.
  Json::Value Admin(const std::string& path, const std::string& json = "");
  [[nodiscard]] std::vector<Json::Value> Journal(const std::string& operation = "");
  void Fail(const std::string& fault_json) { Admin("/admin/faults", fault_json); }

  std::string ca_file;  // set before Start for a TLS server

 private:
  TempFolder folder_;  // holds the journal; outlives the process (declared first)
  ChildProcess process_;
  int port_ = 0;
  int relay_port_ = 0;
  bool tls_ = false;
};

// The JSON of `text`; a failure of the calling test when it is not JSON.
[[nodiscard]] Json::Value ParseJson(const std::string& text);

// Whether `value` holds every member of the JSON text `expected` with the same
// value; nested objects are compared the same way, anything else exactly.
::testing::AssertionResult HasMembers(const Json::Value& value, const std::string& expected);

inline constexpr char kClientGuid[] = "3f2504e04f8911d39a0c0305e82c3301";

// A record for a server on `host`:`port` with the given URL scheme prefix
// ("http://", "https://" or ""), and a relay when `relay_port` is not 0.
[[nodiscard]] CSConnectionInfo MakeConnectionInfo(const std::string& scheme, int port, int relay_port = 0,
                                                  const std::string& host = "127.0.0.1");

// Frees the response through its client when the test is done with it.
struct ResponseHolder {
  explicit ResponseHolder(IRPClient& owner) : client(owner) {}
  ~ResponseHolder() {
    if (response != nullptr) client.FreeServerResponse(response);
  }
  ResponseHolder(const ResponseHolder&) = delete;
  ResponseHolder& operator=(const ResponseHolder&) = delete;
  ServerResponse** slot() { return &response; }
  ServerResponse* operator->() const { return response; }

  IRPClient& client;
  ServerResponse* response = nullptr;
};

// Every call comes from the thread making the exchange; tests read it after.
struct FakeEnvironment final : agtransport::SupportEnvironment {
  std::string CaBundlePath() override { return ca_bundle; }
  std::optional<agtransport::ProxySettings> ReadProxy() override { return proxy; }
  void ReportConnectionState(uint32_t state) override { reported.push_back(state); }

  std::string ca_bundle;
  std::optional<agtransport::ProxySettings> proxy;
  std::vector<uint32_t> reported;
};

// An RP client with short time-outs so that failure tests end quickly.
inline std::unique_ptr<agtransport::RpClient> MakeClient(FakeEnvironment& environment,
                                                         uint32_t total_timeout_ms = 5000) {
  agtransport::RpClient::Options options;
  options.timeouts.connect_ms = 2000;
  options.timeouts.total_ms = total_timeout_ms;
  return std::make_unique<agtransport::RpClient>(environment, options);
}

}  // namespace transport_test
