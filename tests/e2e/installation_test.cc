// The protection product installed and reported, end to end: the simulator
// hands out the build's locations, the agent starts agbldn, agbldn installs
// and sets the installation-status event, and the agent reports once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/e2e/e2e_harness.h"

namespace e2e {
namespace {

using std::chrono::seconds;

std::vector<Json::Value> Notifications(const AgentFixture& agent, uint32_t dataId) {
  std::vector<Json::Value> found;
  for (const Json::Value& entry : agent.JournalEntries("notification")) {
    if (entry.get("dataId", 0).asUInt() == dataId && !entry.get("fault", false).asBool()) found.push_back(entry);
  }
  return found;
}

size_t CountHeartbeats(const AgentFixture& agent) {
  size_t count = 0;
  for (const Json::Value& entry : agent.JournalEntries("clientdata")) {
    if (entry.get("dataId", 0).asUInt() == 118) ++count;
  }
  return count;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(InstallationTest, InstallationIsReportedOnceWithBothNotifications) {
  AgentFixture agent;
  ASSERT_FALSE(agent.root().empty());
  const std::string build = agent.base() + "/build.exe";
  std::ofstream(build) << R"({"product":"stand-in","version":"5.2"})";
  ASSERT_TRUE(agent.StartSimulator({"--av-build", build}));
  ASSERT_TRUE(agent.StartAgent());

  ASSERT_TRUE(WaitFor([&] { return !Notifications(agent, 139).empty(); }, seconds(90))) << agent.AgentLog();
  // A few more cycles: no second installation, no second report.
  const size_t heartbeats = CountHeartbeats(agent);
  ASSERT_TRUE(WaitFor([&] { return CountHeartbeats(agent) >= heartbeats + 3; }, seconds(60)));
  EXPECT_EQ(agent.StopAgent(), 0);

  const auto reports = Notifications(agent, 114);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0]["kind"].asUInt(), 25u);
  EXPECT_TRUE(reports[0]["payload"]["productInstalled"].asBool()) << reports[0].toStyledString();
  EXPECT_EQ(reports[0]["payload"]["productVersion"].asString(), "5.2");
  const auto installs = Notifications(agent, 139);
  ASSERT_EQ(installs.size(), 1u);
  EXPECT_EQ(installs[0]["payload"]["productVersion"].asString(), "5.2");
  EXPECT_LT(reports[0]["seq"].asUInt64(), installs[0]["seq"].asUInt64());

  const std::string product = agent.machine_root() + "/opt/vornex/";
  EXPECT_TRUE(std::filesystem::exists(product + "status.json"));
  EXPECT_FALSE(std::filesystem::exists(product + "reboot.ini"));  // no minor upgrade pending
  const std::string log = ReadFile(agent.root() + "/temp/agbldn.log");
  EXPECT_NE(log.find("downloaded "), std::string::npos) << log;
  EXPECT_NE(log.find("set Global\\VXAV_Installation_Status"), std::string::npos) << log;
  EXPECT_NE(ReadFile(agent.root() + "/config/buildinf.ini").find("download=0"), std::string::npos);
}

TEST(InstallationTest, MinorUpgradeIsReportedAfterTheRebootAndItsFilesRemoved) {
  AgentFixture agent;
  ASSERT_FALSE(agent.root().empty());
  const std::string product = agent.machine_root() + "/opt/vornex/";
  std::filesystem::create_directories(product);
  std::ofstream(product + "reboot.ini") << "[REBOOT]\nPending=1\n";
  std::filesystem::create_directories(agent.root() + "/config");
  std::ofstream(agent.root() + "/config/agadv.ini") << "[ADMIN_CONSOLE_CLIENT_AGENT_ADV_SECTION]\nminorupgrade=1\n";
  ASSERT_TRUE(agent.StartSimulator());
  ASSERT_TRUE(agent.StartAgent());

  ASSERT_TRUE(WaitFor([&] { return !Notifications(agent, 114).empty(); }, seconds(60))) << agent.AgentLog();
  ASSERT_TRUE(WaitFor([&] { return !std::filesystem::exists(product + "reboot.ini"); }, seconds(30)));
  EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(agent.root() + "/INSTSTS.JSON"); }, seconds(30)));
  EXPECT_EQ(agent.StopAgent(), 0);
  EXPECT_NE(agent.AgentLog().find("Deleting reboot ini file"), std::string::npos);
}

}  // namespace
}  // namespace e2e
