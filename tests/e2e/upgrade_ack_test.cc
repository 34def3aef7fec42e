// Upgrade acknowledgements end to end: the acknowledgement of an upgrade that
// finished while the agent was down (the upgrade data and the command record
// left in the agent INI, as the upgrade tool leaves them) reaches the server
// exactly once, when the server is down at the first attempt and across a
// further restart.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_harness.h"

namespace e2e {
namespace {

using std::chrono::seconds;

constexpr const char* kCmdGuid = "e2e-upgrade-command-0001";
constexpr size_t kUpgradeDataSize = 6356;

// An INI blob as the support library stores it: hexadecimal bytes followed by
// their 8-bit sum.
std::string IniBlob(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  uint8_t sum = 0;
  for (uint8_t byte : bytes) {
    sum = static_cast<uint8_t>(sum + byte);
    text += kHex[byte >> 4];
    text += kHex[byte & 0xF];
  }
  text += kHex[sum >> 4];
  text += kHex[sum & 0xF];
  return text;
}

// What a major upgrade to this very build leaves for the new agent.
void LeaveFinishedUpgrade(const AgentFixture& agent, const std::string& clientGuid) {
  std::vector<uint8_t> data(kUpgradeDataSize, 0);
  std::memcpy(data.data(), clientGuid.data(), clientGuid.size());
  const uint32_t major = 2;
  std::memcpy(data.data() + 100, &major, sizeof(major));
  const std::string target = std::to_string(AG_VERSION_MAJOR) + "." + std::to_string(AG_VERSION_MINOR) + ".99";
  std::memcpy(data.data() + 376, target.data(), target.size());

  std::vector<uint8_t> command(264, 0);
  std::memcpy(command.data() + 4, kCmdGuid, std::strlen(kCmdGuid));

  std::ofstream ini(agent.root() + "/config/agadv.ini", std::ios::app);
  ini << "\n[DATA_FOR_UPGRADE]\ndata=" << IniBlob(data) << "\n[UPGRADE_CMD_INFO]\nCmdRecord0=" << IniBlob(command)
      << "\n";
}

// Acknowledgements of the upgrade command the server accepted.
size_t UpgradeAcks(const AgentFixture& agent) {
  size_t count = 0;
  for (const Json::Value& entry : agent.JournalEntries("ack")) {
    if (entry.get("cmdGuid", "").asString() == kCmdGuid && !entry.get("fault", false).asBool()) ++count;
  }
  return count;
}

// Lets a few more heartbeat cycles pass, in which a second acknowledgement
// would have gone out.
void LetCyclesPass(const AgentFixture& agent) {
  const size_t now = agent.JournalEntries("clientdata").size();
  WaitFor([&] { return agent.JournalEntries("clientdata").size() > now + 6; }, seconds(30));
}

// The result file lives beside the core, which all end-to-end tests share.
class UpgradeAcknowledgement : public ::testing::Test {
 protected:
  UpgradeAcknowledgement() { std::filesystem::remove(BinDir() + "/UPResult.ini"); }
  ~UpgradeAcknowledgement() override { std::filesystem::remove(BinDir() + "/UPResult.ini"); }

  AgentFixture agent;
};

TEST_F(UpgradeAcknowledgement, ArrivesExactlyOnceWhenTheServerIsDownAtTheFirstAttempt) {
  // An enrolled agent, stopped, with a finished upgrade left behind.
  ASSERT_TRUE(agent.StartSimulator());
  ASSERT_TRUE(agent.StartAgent());
  ASSERT_TRUE(WaitFor([&] { return !agent.ClientGuid().empty(); }, seconds(60))) << agent.AgentLog();
  ASSERT_EQ(agent.StopAgent(), 0);
  LeaveFinishedUpgrade(agent, agent.ClientGuid());

  ASSERT_TRUE(agent.StopSimulator());
  ASSERT_TRUE(agent.StartAgent());
  ASSERT_TRUE(WaitFor([&] { return agent.AgentLog().find("SendCommandAck failed") != std::string::npos; },
                      seconds(60)))
      << agent.AgentLog();

  // The acknowledgement waits in the pending list for the next heartbeat the
  // server answers; a slow build only makes those heartbeats come later, so
  // the wait follows the heartbeats the server sees, not the clock.
  const size_t heartbeats = agent.JournalEntries("clientdata").size();
  ASSERT_TRUE(agent.StartSimulator());
  WaitFor([&] { return UpgradeAcks(agent) >= 1 || agent.JournalEntries("clientdata").size() > heartbeats + 6; },
          seconds(300));
  ASSERT_GE(UpgradeAcks(agent), 1u) << agent.AgentLog();
  LetCyclesPass(agent);
  EXPECT_EQ(agent.StopAgent(), 0);

  // A further restart sends nothing again.
  ASSERT_TRUE(agent.StartAgent());
  LetCyclesPass(agent);
  EXPECT_EQ(agent.StopAgent(), 0);
  EXPECT_EQ(UpgradeAcks(agent), 1u) << agent.AgentLog();
  for (const Json::Value& entry : agent.JournalEntries("ack")) {
    if (entry.get("cmdGuid", "").asString() != kCmdGuid || entry.get("fault", false).asBool()) continue;
    EXPECT_EQ(entry.get("cmdId", 0).asUInt(), 117u);
    EXPECT_EQ(entry.get("status", 0).asUInt(), 1u);
  }
}

}  // namespace
}  // namespace e2e
