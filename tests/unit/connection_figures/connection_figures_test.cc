// The connection figures (state, last attempt, last connected) are written
// around nearly every request, mostly with the value they already hold. A
// repeat costs no write transaction; a value the store does not hold yet is
// always written. The three figures share one write path: the state stands
// for them.
#include <agsuite/agmisc_attempts.h>
#include <sqlite3.h>

#include <filesystem>

#include "tests/unit/agmisc/agmisc_test_env.h"

namespace {

using ConnectionFigureTest = agmisc_test::AgentRootTest;

TEST_F(ConnectionFigureTest, RepeatTakesNoWriteLockAndAChangeOrANewStoreIsWritten) {
  const auto stored = [this] {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string bytes = "<none>";
    if (sqlite3_open_v2(StorePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT data FROM client_values WHERE name = 'connection_status'", -1, &statement,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      bytes.assign(static_cast<const char*>(sqlite3_column_blob(statement, 0)), sqlite3_column_bytes(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return bytes;
  };
  ASSERT_EQ(SetClientConnectionStatus(1), 1);
  const std::string first = stored();
  // With the write lock held elsewhere a repeat still succeeds (nothing to
  // write) and a change fails; the failed write is not taken for done.
  agmisc::SetStoreBusyTimeoutMs(1);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(StorePath().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; DELETE FROM events;", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(SetClientConnectionStatus(1), 1);
  EXPECT_EQ(SetClientConnectionStatus(2), 0);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  ASSERT_EQ(SetClientConnectionStatus(2), 1);
  EXPECT_NE(stored(), first);
  ASSERT_EQ(SetClientConnectionStatus(1), 1);
  EXPECT_EQ(stored(), first);
  agmisc::DropIdleStores();
  std::filesystem::remove_all(root_ + "data");
  ASSERT_EQ(SetClientConnectionStatus(1), 1);
  EXPECT_EQ(stored(), first);
}

}  // namespace
