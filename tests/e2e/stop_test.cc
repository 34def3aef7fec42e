// Stopping the agent while the server holds a transfer: SIGTERM ends the
// transfer in flight instead of waiting for the server or the time-outs.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_harness.h"

namespace e2e {
namespace {

using std::chrono::seconds;

TEST(Stop, SigtermEndsATransferTheServerHolds) {
  AgentFixture agent;
  ASSERT_TRUE(agent.StartSimulator());
  ASSERT_TRUE(agent.StartAgent());
  ASSERT_TRUE(WaitFor([&] { return !agent.ClientGuid().empty(); }, seconds(60))) << agent.AgentLog();

  // Every request from now on is answered after five minutes, far beyond
  // the transport's own time-outs and the harness's wait for the exit. The
  // stop comes while the simulator holds one of them.
  ASSERT_EQ(agent.Admin("POST", "/admin/outage", R"({"mode":"slow","seconds":600,"delayMs":300000})").status, 200);
  ASSERT_TRUE(WaitFor([&] { return ParseJson(agent.Admin("GET", "/admin/health").body)["held"].asUInt64() > 0; },
                      seconds(120)))
      << agent.AgentLog();

  EXPECT_EQ(agent.StopAgent(), 0) << agent.AgentLog();
  EXPECT_NE(agent.AgentLog().find("transfer ended by the agent's stop"), std::string::npos) << agent.AgentLog();
}

}  // namespace
}  // namespace e2e
