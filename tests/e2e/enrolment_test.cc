// Enrolment, heartbeats and command handling, end to end: the real service
// host, core and suite against the simulator on loopback.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_harness.h"

namespace e2e {
namespace {

using std::chrono::seconds;

size_t CountHeartbeats(const AgentFixture& agent) {
  size_t count = 0;
  for (const Json::Value& entry : agent.JournalEntries("clientdata")) {
    if (entry.get("dataId", 0).asUInt() == 118) ++count;
  }
  return count;
}

std::vector<Json::Value> AcksFor(const AgentFixture& agent, const std::string& guid) {
  std::vector<Json::Value> acks;
  for (const Json::Value& entry : agent.JournalEntries("ack")) {
    if (entry.get("cmdGuid", "").asString() == guid && !entry.get("fault", false).asBool()) acks.push_back(entry);
  }
  return acks;
}

void QueueCommand(const AgentFixture& agent, const std::string& command, const std::string& guid) {
  const std::string body = R"({"client":"*","guid":")" + guid + R"(","command":)" + command + "}";
  ASSERT_EQ(agent.Admin("POST", "/admin/commands", body).status, 200) << body;
}

// Waits for the next heartbeat so that what is queued now travels together
// with the one after it.
void WaitForNextHeartbeat(const AgentFixture& agent) {
  const size_t before = CountHeartbeats(agent);
  ASSERT_TRUE(WaitFor([&] { return CountHeartbeats(agent) > before; }, seconds(60)));
}

class EnrolledAgent : public ::testing::Test {
 protected:
  explicit EnrolledAgent(int heartbeat_minutes = 1) : agent_(600, heartbeat_minutes) {}
  void SetUp() override {
    ASSERT_FALSE(agent_.root().empty()) << "agtenant could not write the tenant file";
    ASSERT_TRUE(agent_.StartSimulator());
    ASSERT_TRUE(agent_.StartAgent());
    ASSERT_TRUE(WaitFor([&] { return !agent_.ClientGuid().empty(); }, seconds(60))) << agent_.AgentLog();
    ASSERT_TRUE(WaitFor([&] { return CountHeartbeats(agent_) >= 1; }, seconds(60))) << agent_.AgentLog();
  }
  void TearDown() override { EXPECT_EQ(agent_.StopAgent(), 0) << agent_.AgentLog(); }

  AgentFixture agent_;
};

// Commands travel with heartbeats; a five-minute interval (3 s here) keeps
// commands queued together in one response.
class EnrolledAgentSlowHeartbeat : public EnrolledAgent {
 protected:
  EnrolledAgentSlowHeartbeat() : EnrolledAgent(5) {}
};

TEST_F(EnrolledAgent, NewClientRegistersOnItsFirstPassThenKeepsSendingHeartbeats) {
  const std::vector<Json::Value> journal = agent_.Journal();
  size_t first_register = journal.size();
  size_t first_heartbeat = journal.size();
  for (size_t i = 0; i < journal.size(); ++i) {
    const std::string operation = journal[i].get("operation", "").asString();
    if (operation == "register" && first_register == journal.size()) first_register = i;
    if (operation == "clientdata" && journal[i].get("dataId", 0).asUInt() == 118 && first_heartbeat == journal.size()) {
      first_heartbeat = i;
    }
  }
  EXPECT_LT(first_register, first_heartbeat);
  EXPECT_TRUE(WaitFor([&] { return CountHeartbeats(agent_) >= 3; }, seconds(60)));
  EXPECT_EQ(agent_.JournalEntries("register").size(), 1u) << "a registered client does not register again";
}

TEST_F(EnrolledAgentSlowHeartbeat, CancellingPairInOneResponseIsAcknowledgedAsSkipped) {
  WaitForNextHeartbeat(agent_);
  QueueCommand(agent_, R"({"cmd":{"id":2,"type":1}})", "e2e-pair-first");
  QueueCommand(agent_, R"({"cmd":{"id":6,"type":1}})", "e2e-pair-second");
  ASSERT_TRUE(WaitFor([&] { return !AcksFor(agent_, "e2e-pair-second").empty(); }, seconds(60)));
  ASSERT_EQ(AcksFor(agent_, "e2e-pair-first").size(), 1u);
  EXPECT_EQ(AcksFor(agent_, "e2e-pair-first").front().get("status", 0).asUInt(), 3u);
  EXPECT_EQ(AcksFor(agent_, "e2e-pair-second").front().get("status", 0).asUInt(), 3u);
}

TEST_F(EnrolledAgentSlowHeartbeat, ForceSyncFromTheServerTriggersAHeartbeatAtOnce) {
  QueueCommand(agent_, R"({"cmd":{"id":29,"type":1}})", "e2e-force-sync");
  ASSERT_TRUE(WaitFor([&] { return !AcksFor(agent_, "e2e-force-sync").empty(); }, seconds(60)));
  EXPECT_TRUE(WaitFor([&] { return agent_.AgentLog().find("Force server sync occured") != std::string::npos; },
                      seconds(30)));
}

TEST_F(EnrolledAgent, ServerThatNoLongerKnowsTheClientMakesItUninstall) {
  ASSERT_EQ(agent_.Admin("POST", "/admin/faults",
                         R"({"count":1,"operation":"clientdata","success":false,"errorCodes":[20016]})")
                .status,
            200);
  EXPECT_TRUE(WaitFor(
      [&] {
        return agent_.AgentLog().find("Server not available. Client is being Uninstalled.") != std::string::npos;
      },
      seconds(60)));
}

}  // namespace
}  // namespace e2e
