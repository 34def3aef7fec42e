#include "transport_fixture.h"

namespace transport_test {

std::unique_ptr<agtransport::RpClient> MakeClient(FakeEnvironment& environment, uint32_t total_timeout_ms) {
  agtransport::RpClient::Options options;
  options.timeouts.connect_ms = 2000;
  options.timeouts.total_ms = total_timeout_ms;
  return std::make_unique<agtransport::RpClient>(environment, options);
}

}  // namespace transport_test
