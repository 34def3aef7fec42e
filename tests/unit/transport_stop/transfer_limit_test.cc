// A transfer limit ends RP client calls that a slow server would hold for
// longer than any stop may take; lifting it lets calls run again. A limit set
// while a call waits is the end-to-end Stop test's.
#include "suite/agtransport/transfer_limit.h"

#include <gtest/gtest.h>

#include <chrono>

#include "cssim_fixture.h"

namespace transport_test {
namespace {

using std::chrono::milliseconds;

TEST(TransferLimitTest, EndsCallsTheServerHoldsUntilItIsLifted) {
  Cssim server;
  ASSERT_NO_FATAL_FAILURE(server.Start({}, false));
  FakeEnvironment environment;
  // Far beyond what a test may wait: only the limit can end a call early.
  const auto client = MakeClient(environment, 600'000);
  const CSConnectionInfo info = MakeConnectionInfo("http://", server.port());
  ASSERT_EQ(client->InitCSClient(&info), 1);
  const auto registers = [&] {
    ResponseHolder holder(*client);
    return client->Register(R"([{"payload":{}}])", holder.slot()) == 1;
  };
  LogCapture log;

  agtransport::SetTransferLimit(milliseconds(0));
  EXPECT_FALSE(registers());
  agtransport::SetTransferLimit(std::nullopt);
  EXPECT_TRUE(registers()) << log.Dump();

  // Every answer comes a second after its request, which comes after the
  // limit was set: the grace always runs out first.
  server.Admin("/admin/outage", R"({"mode":"slow","seconds":600,"delayMs":1000})");
  agtransport::SetTransferLimit(milliseconds(200));
  EXPECT_FALSE(registers());

  EXPECT_TRUE(log.Contains("transfer ended by the agent's stop")) << log.Dump();
  agtransport::SetTransferLimit(std::nullopt);
}

}  // namespace
}  // namespace transport_test
