// Reliability end to end: the agent starts and stops cleanly again and again.
// Acknowledgements refused by the server or cut by a SIGKILL, and the server
// going away under a running agent, are the chaos run's (chaos_test.cc): it
// asserts that every command is acknowledged and what a kill may double.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_harness.h"

namespace e2e {
namespace {

using std::chrono::seconds;

TEST(Reliability, AgentStartsAndStopsCleanlyFiftyTimesInARow) {
  AgentFixture agent;
  ASSERT_TRUE(agent.StartSimulator());
  const auto starts = [&] {
    const std::string log = agent.AgentLog();
    const std::string created = "RP client object created";
    int count = 0;
    for (size_t at = log.find(created); at != std::string::npos; at = log.find(created, at + 1)) ++count;
    return count;
  };
  for (int round = 1; round <= 50; ++round) {
    ASSERT_TRUE(agent.StartAgent());
    ASSERT_TRUE(WaitFor([&] { return starts() >= round; }, seconds(60))) << "round " << round;
    ASSERT_EQ(agent.StopAgent(), 0) << "round " << round << agent.AgentLog();
  }
}

}  // namespace
}  // namespace e2e
