// Surroundings for the report and policy routines with the suite's own
// libraries behind them: a private agent root (client data store, temporary
// folder), a protection product with an SQLite report database and a policy
// file, a manual clock, and an RP client that records what reaches the
// server and fails or answers as a test tells it.
#pragma once

#include <agsuite/agmisc.h>
#include <agsuite/agpreinst.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/siblings/client_store.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/utf.h"
#include "tests/unit/mocks/scratch_folder.h"

inline Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  return Json::Reader().parse(text, value) ? value : Json::Value();
}

struct SentClientData {
  uint32_t dataId;
  uint32_t type;
  std::string json;
};

// The server side as the core's routines see it, called from the test's
// thread. Calls are numbered from 1 in the order they arrive.
class RecordingRpClient final : public IRPClient {
 public:
  uint8_t InitCSClient(const CSConnectionInfo*) override { return 1; }
  uint8_t DeInitializeRPClient() override { return 1; }
  uint8_t Register(const char*, ServerResponse**) override { return 0; }
  uint8_t SendCommandAck(const CmdAck* ack, ServerResponse** response) override {
    *response = nullptr;
    if (!ackResult) return 0;
    acks.push_back(*ack);
    ackPayloads.push_back(ack->pszAckPayload != nullptr ? ack->pszAckPayload : "");
    return 1;
  }
  uint8_t SetClientData(const ClientDataRecord* record, uint32_t dataId, ServerResponse** response,
                        uint8_t) override {
    const uint32_t call = ++calls;
    const std::function<void()> hook = beforeCall;  // a copy: the hook may replace itself
    if (hook) hook();
    *response = nullptr;
    if (call == failCall) return 0;
    sent.push_back({dataId, record->dwType, record->pszJson != nullptr ? record->pszJson : ""});
    if (answer) *response = new ServerResponse(*answer);
    return 1;
  }
  uint8_t SendNotification(uint32_t, uint32_t, const char*, ServerResponse**) override { return 0; }
  uint8_t FreeServerResponse(ServerResponse* response) override {
    delete response;
    return 1;
  }
  uint8_t GetRPConfig(ServerResponse**) override { return 0; }
  uint8_t SetRPMode(uint8_t) override { return 1; }
  uint8_t UnRegisterFromRP() override { return 1; }

  // Ids of the report records that reached the server, in order, and the
  // number of messages that carried them.
  std::vector<int64_t> ReportIds(size_t* chunks = nullptr) const {
    std::vector<int64_t> ids;
    for (const SentClientData& data : sent) {
      if (data.dataId != 103) continue;
      if (chunks != nullptr) ++*chunks;
      for (const Json::Value& entry : ParseJson(data.json)) {
        if (entry["dataId"].asUInt() != 106) continue;
        for (const Json::Value& record : entry["payload"]["records"]) ids.push_back(record["id"].asInt64());
      }
    }
    return ids;
  }
  size_t ReportChunks() const {
    size_t chunks = 0;
    ReportIds(&chunks);
    return chunks;
  }

  uint32_t calls = 0;
  uint32_t failCall = 0;  // this call fails (0: none)
  std::function<void()> beforeCall;
  std::optional<ServerResponse> answer;  // copied into every response
  bool ackResult = true;
  std::vector<SentClientData> sent;
  std::vector<CmdAck> acks;
  std::vector<std::string> ackPayloads;
};

class SuiteEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AGMiscSetAgentRoot(agentRoot_.c_str()), 1);
    platform::SetMachineRoot(folder_.path() + "/machine/");
    char16_t folder[260] = {};
    ASSERT_EQ(AGPreInstGetAvInstallationPath(folder, 260), 1);
    productFolder_ = platform::Utf16ToUtf8(std::u16string_view(folder, platform::U16Length(folder, 260))).value();
    std::filesystem::create_directories(productFolder_);
    ASSERT_EQ(SetClientGUID("0123456789abcdef0123456789abcdef"), 1);
  }

  std::string ProductDb() const { return productFolder_ + "reports.db"; }

  // Adds `count` event reports to the product's report database.
  void AddReports(int count, const std::string& kind = "scan") {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(ProductDb().c_str(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE IF NOT EXISTS reports(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, "
        "kind TEXT NOT NULL, detail TEXT NOT NULL);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count) + ") "
        "INSERT INTO reports(time, kind, detail) SELECT 1700000000, '" + kind + "', 'event' FROM n";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  void WriteProductFile(const std::string& name, const std::string& text) const {
    std::ofstream(productFolder_ + name, std::ios::binary | std::ios::trunc) << text;
  }
  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  test_support::ScratchFolder folder_{"agreports-"};
  std::string agentRoot_ = folder_.path() + "/agent/";
  platform::ManualClock clock_;
  platform::ScopedClock clockScope_{&clock_};
  RecordingRpClient rpClient_;
  std::string productFolder_;
};

// Record ids from..to, both included.
inline std::vector<int64_t> IdRange(int64_t from, int64_t to) {
  std::vector<int64_t> ids;
  for (int64_t id = from; id <= to; ++id) ids.push_back(id);
  return ids;
}
