// Stopping the agent while the server holds a transfer: SIGTERM ends the
// transfer in flight instead of waiting for the server or the time-outs.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_harness.h"

namespace e2e {
namespace {

using std::chrono::seconds;

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(Stop, SigtermEndsATransferTheServerHolds) {
  AgentFixture agent;
  ASSERT_TRUE(agent.StartSimulator());
  ASSERT_TRUE(agent.StartAgent());
  ASSERT_TRUE(WaitFor([&] { return !agent.ClientGuid().empty(); }, seconds(60))) << agent.AgentLog();

  // Every request from now on is answered after five minutes, far beyond
  // the transport's own time-outs and the harness's wait for the exit.
  ASSERT_EQ(agent.Admin("POST", "/admin/outage", R"({"mode":"slow","seconds":600,"delayMs":300000})").status, 200);
  const size_t posts = Occurrences(agent.AgentLog(), "POST http");
  ASSERT_TRUE(WaitFor([&] { return Occurrences(agent.AgentLog(), "POST http") > posts; }, seconds(60)))
      << agent.AgentLog();

  EXPECT_EQ(agent.StopAgent(), 0) << agent.AgentLog();
  EXPECT_NE(agent.AgentLog().find("transfer ended by the agent's stop"), std::string::npos) << agent.AgentLog();
}

}  // namespace
}  // namespace e2e
