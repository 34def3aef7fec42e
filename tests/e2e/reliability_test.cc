// Reliability end to end: the agent starts and stops cleanly again and again,
// also without its server. Acknowledgements refused by the server or cut by a
// SIGKILL are the chaos run's (chaos_test.cc): it asserts that every command
// is acknowledged and what a kill may double.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_harness.h"

namespace e2e {
namespace {

using std::chrono::seconds;

TEST(Reliability, AgentStartsAndStopsCleanlyFiftyTimesInARow) {
  AgentFixture agent;
  ASSERT_TRUE(agent.StartSimulator());
  for (int round = 0; round < 50; ++round) {
    ASSERT_TRUE(agent.StartAgent());
    const size_t starts = static_cast<size_t>(round) + 1;
    ASSERT_TRUE(WaitFor(
        [&] {
          const std::string log = agent.AgentLog();
          size_t count = 0;
          for (size_t at = log.find("RP client object created"); at != std::string::npos;
               at = log.find("RP client object created", at + 1)) {
            ++count;
          }
          return count >= starts;
        },
        seconds(60)))
        << "round " << round;
    ASSERT_EQ(agent.StopAgent(), 0) << "round " << round << agent.AgentLog();
  }
}

TEST(Reliability, AgentWithoutItsServerKeepsRunningAndStopsCleanly) {
  AgentFixture agent;
  ASSERT_TRUE(agent.StartAgent());
  EXPECT_TRUE(WaitFor([&] { return agent.AgentLog().find("SendRegistrationRequest failed") != std::string::npos; },
                      seconds(60)))
      << agent.AgentLog();
  EXPECT_EQ(agent.StopAgent(), 0) << agent.AgentLog();
}

}  // namespace
}  // namespace e2e
