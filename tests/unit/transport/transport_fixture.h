// The RP client of the object library with a support environment that the
// test controls (CA bundle, proxy, reported connection states).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cssim_fixture.h"
#include "suite/agtransport/rp_client.h"
#include "suite/agtransport/support_environment.h"

namespace transport_test {

class FakeEnvironment final : public agtransport::SupportEnvironment {
 public:
  std::string CaBundlePath() override { return ca_bundle; }
  std::optional<agtransport::ProxySettings> ReadProxy() override { return proxy; }
  void ReportConnectionState(uint32_t state) override {
    std::lock_guard lock(mutex_);
    states.push_back(state);
  }
  [[nodiscard]] std::vector<uint32_t> reported() {
    std::lock_guard lock(mutex_);
    return states;
  }

  std::string ca_bundle;
  std::optional<agtransport::ProxySettings> proxy;

 private:
  std::mutex mutex_;
  std::vector<uint32_t> states;
};

// An RP client with short time-outs so that failure tests end quickly.
[[nodiscard]] std::unique_ptr<agtransport::RpClient> MakeClient(FakeEnvironment& environment,
                                                                uint32_t total_timeout_ms = 5000);

}  // namespace transport_test
