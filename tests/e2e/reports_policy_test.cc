// Reports and policy, end to end: event reports written into the protection
// product's database reach the simulator, and a policy changed at the
// simulator is fetched, applied by the product and acknowledged.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/e2e_harness.h"

namespace e2e {
namespace {

using std::chrono::seconds;

class AgentWithProduct : public ::testing::Test {
 protected:
  AgentWithProduct() : agent_(600, 1) {
    // The fixture's machine root sits beside the agent root; the product is
    // installed in its default folder there.
    product_ = std::filesystem::path(agent_.root()).parent_path().string() + "/machine/opt/vornex/";
  }
  void SetUp() override {
    ASSERT_FALSE(agent_.root().empty()) << "agtenant could not write the tenant file";
    std::filesystem::create_directories(product_);
    std::ofstream(product_ + "policy.json") << R"({"version":"v1","features":{"3":"on"}})";
    ASSERT_TRUE(agent_.StartSimulator());
    ASSERT_TRUE(agent_.StartAgent());
    ASSERT_TRUE(WaitFor([&] { return !agent_.ClientGuid().empty(); }, seconds(60))) << agent_.AgentLog();
    // The first heartbeat comes after the first policy check, which puts the
    // product's features back once; what the server sends later is not
    // touched by it.
    ASSERT_TRUE(WaitFor(
        [&] {
          for (const Json::Value& entry : agent_.JournalEntries("clientdata")) {
            if (entry.get("dataId", 0).asUInt() == 118) return true;
          }
          return false;
        },
        seconds(60)))
        << agent_.AgentLog();
  }
  void TearDown() override { EXPECT_EQ(agent_.StopAgent(), 0) << agent_.AgentLog(); }

  void WriteReports(int count, const std::string& kind) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((product_ + "reports.db").c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    std::string sql =
        "CREATE TABLE IF NOT EXISTS reports(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, "
        "kind TEXT NOT NULL, detail TEXT NOT NULL);BEGIN IMMEDIATE;";
    for (int i = 0; i < count; ++i) {
      sql += "INSERT INTO reports(time, kind, detail) VALUES(1700000000, '" + kind + "', 'threat blocked');";
    }
    sql += "COMMIT;";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  uint64_t RecordsAtServer(const std::string& kind) const {
    const Json::Value reports = ParseJson(agent_.Admin("GET", "/admin/reports").body);
    return reports["clients"][agent_.ClientGuid()]["kinds"].get(kind, 0).asUInt64();
  }

  AgentFixture agent_;
  std::string product_;
};

TEST_F(AgentWithProduct, ReportsWrittenIntoTheProductDatabaseArriveAtTheServerOnce) {
  WriteReports(250, "malware");
  ASSERT_TRUE(WaitFor([&] { return RecordsAtServer("malware") >= 250; }, seconds(60))) << agent_.AgentLog();
  WriteReports(30, "firewall");
  ASSERT_TRUE(WaitFor([&] { return RecordsAtServer("firewall") >= 30; }, seconds(60))) << agent_.AgentLog();
  // Later uploads find nothing new: nothing was sent twice.
  const size_t heartbeats = agent_.JournalEntries("clientdata").size();
  ASSERT_TRUE(WaitFor([&] { return agent_.JournalEntries("clientdata").size() > heartbeats + 6; }, seconds(60)));
  EXPECT_EQ(RecordsAtServer("malware"), 250u);
  EXPECT_EQ(RecordsAtServer("firewall"), 30u);
  bool chunkJournaled = false;
  for (const Json::Value& entry : agent_.JournalEntries("clientdata")) {
    chunkJournaled = chunkJournaled || entry.get("reportRecords", 0).asUInt() == 100;
  }
  EXPECT_TRUE(chunkJournaled) << "chunks of 100 records";
}

TEST_F(AgentWithProduct, PolicyChangedAtTheServerIsFetchedAppliedAndAcknowledged) {
  const std::string body = R"({"client":")" + agent_.ClientGuid() +
                           R"(","policy":{"version":"v2","features":{"3":"on","7":"strict"}}})";
  ASSERT_EQ(agent_.Admin("POST", "/admin/policy", body).status, 200);
  Json::Value ack;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const Json::Value& entry : agent_.JournalEntries("ack")) {
          if (entry.get("cmdId", 0).asUInt() == 12) ack = entry;
        }
        return !ack.isNull();
      },
      seconds(60)))
      << agent_.AgentLog();
  EXPECT_EQ(ack["status"].asUInt(), 1u);
  EXPECT_EQ(ack["payload"]["version"].asString(), "v2");
  const Json::Value policy = ParseJson([&] {
    std::ifstream in(product_ + "policy.json");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }());
  EXPECT_EQ(policy["version"].asString(), "v2");
  EXPECT_EQ(policy["features"]["7"].asString(), "strict");
  bool answered = false;
  for (const Json::Value& entry : agent_.JournalEntries("clientdata")) {
    answered = answered || entry.get("policyVersion", "").asString() == "v2";
  }
  EXPECT_TRUE(answered) << "the policy request was answered with the new policy";
}

}  // namespace
}  // namespace e2e
