// The report database stand-in: chunks of the client-report request, the
// confirmed position kept in the copy, and the product's reset.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "messaging_env.h"

namespace {

using messaging_test::MessagingEnv;
using messaging_test::ParseOrNull;

class ReportDatabaseTest : public MessagingEnv {
 protected:
  void SetUp() override {
    MessagingEnv::SetUp();
    copy_ = root_ + "/carpt.db";
  }

  static void AddReports(const std::string& path, int count) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string sql =
        "CREATE TABLE IF NOT EXISTS reports(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, "
        "kind TEXT NOT NULL, detail TEXT NOT NULL);BEGIN;";
    for (int i = 0; i < count; ++i) sql += "INSERT INTO reports(time, kind, detail) VALUES(1700000000, 'scan', 'x');";
    sql += "COMMIT;";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  // Ids of the next chunk of `gen` (an empty list when it gave nothing).
  std::vector<int64_t> NextChunk(uint32_t recordCount) {
    const std::string info = R"({"DBPath":")" + copy_ + R"(","RecordCount":)" + std::to_string(recordCount) + "}";
    const auto texts = Respond({{106, 1, 2, const_cast<char*>(info.c_str()), nullptr}, {103, 1, 1, nullptr, nullptr}});
    std::vector<int64_t> ids;
    if (texts.size() != 2 || texts[0].empty()) return ids;
    const Json::Value chunk = ParseOrNull(texts[0]);
    for (const Json::Value& record : chunk["records"]) ids.push_back(record["id"].asInt64());
    EXPECT_EQ(ParseOrNull(texts[1])["count"].asUInt(), ids.size());
    EXPECT_EQ(ParseOrNull(texts[1])["first"].asInt64(), ids.front());
    return ids;
  }

  void NewGenerator() {
    gen_->FreeResponse(&last_response_);
    last_response_ = {};
    gen_->Deinit();
    DeleteCAResponseGenObj(gen_);
    ASSERT_EQ(CreateCAResponseGenObjNew(&gen_, nullptr), 1);
    ASSERT_EQ(gen_->Init(), 1);
  }

  std::string copy_;
};

TEST_F(ReportDatabaseTest, ChunksCoverEveryRecordOnceInOrder) {
  struct Case {
    int records;
    uint32_t recordCount;
    size_t chunks;
  };
  for (const Case& c : {Case{1050, 100, 11}, Case{250, 0, 3}, Case{0, 100, 0}}) {
    SCOPED_TRACE(c.records);
    std::filesystem::remove(copy_);
    AddReports(copy_, c.records);
    std::vector<int64_t> all;
    size_t chunks = 0;
    for (std::vector<int64_t> ids = NextChunk(c.recordCount); !ids.empty(); ids = NextChunk(c.recordCount)) {
      ++chunks;
      all.insert(all.end(), ids.begin(), ids.end());
    }
    EXPECT_EQ(chunks, c.chunks);
    ASSERT_EQ(all.size(), static_cast<size_t>(c.records));
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], static_cast<int64_t>(i + 1));
  }
}

TEST_F(ReportDatabaseTest, NextGeneratorGoesOnWithTheChunkThatWasNotConfirmed) {
  AddReports(copy_, 30);
  EXPECT_EQ(NextChunk(10).front(), 1);
  EXPECT_EQ(NextChunk(10).front(), 11);  // confirms 1..10
  EXPECT_EQ(NextChunk(10).front(), 21);  // confirms 11..20; this one's send fails
  NewGenerator();
  EXPECT_EQ(NextChunk(10).front(), 21);
  EXPECT_TRUE(NextChunk(10).empty());
  NewGenerator();
  EXPECT_TRUE(NextChunk(10).empty());  // everything went out
}

}  // namespace
