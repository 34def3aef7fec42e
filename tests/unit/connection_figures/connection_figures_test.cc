// The connection figures (state, last attempt, last connected) are written
// around nearly every request, mostly with the value they already hold. A
// repeat costs no write transaction; a value the store does not hold yet is
// always written.
#include <agsuite/agmisc_attempts.h>
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/unit/agmisc/agmisc_test_env.h"

namespace {

struct Figure {
  const char* name;  // row of client_values
  std::function<uint8_t(uint32_t)> set;
};

const Figure kFigures[] = {
    {"connection_status", [](uint32_t v) { return SetClientConnectionStatus(v % 3); }},
    {"last_attempt_time", [](uint32_t v) { return SetLastAttemptTime(1'700'000'000 + v); }},
    {"last_connected_time", [](uint32_t v) { return SetLastConnectedTime(1'700'000'000 + v); }},
};

class ConnectionFigureTest : public agmisc_test::AgentRootTest, public ::testing::WithParamInterface<Figure> {
 protected:
  // The bytes stored for the figure, read without the library.
  std::string Stored() const {
    sqlite3* db = nullptr;
    std::string bytes = "<none>";
    if (sqlite3_open_v2(StorePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      sqlite3_prepare_v2(db, "SELECT data FROM client_values WHERE name = ?1", -1, &statement, nullptr);
      sqlite3_bind_text(statement, 1, GetParam().name, -1, SQLITE_STATIC);
      if (sqlite3_step(statement) == SQLITE_ROW) {
        bytes.assign(static_cast<const char*>(sqlite3_column_blob(statement, 0)), sqlite3_column_bytes(statement, 0));
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return bytes;
  }
};

TEST_P(ConnectionFigureTest, RepeatTakesNoWriteLockAndAChangeIsWritten) {
  ASSERT_EQ(GetParam().set(1), 1);
  const std::string first = Stored();
  agmisc::SetStoreBusyTimeoutMs(1);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(StorePath().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; DELETE FROM events;", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(GetParam().set(1), 1);  // the same value again: nothing to write
  EXPECT_EQ(GetParam().set(2), 0);  // a change needs the lock held elsewhere
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(Stored(), first);
  ASSERT_EQ(GetParam().set(2), 1);  // the failed write was not taken for done
  EXPECT_NE(Stored(), first);
  ASSERT_EQ(GetParam().set(1), 1);
  EXPECT_EQ(Stored(), first);
}

TEST_P(ConnectionFigureTest, StoreThatDoesNotHoldItYetIsWritten) {
  ASSERT_EQ(GetParam().set(1), 1);
  const std::string first = Stored();

  // Another root: its store has never seen the figure.
  const std::string firstRoot = root_;
  root_ = test_support::MakeScratchFolder("agmisc-figures-") + "/";
  ASSERT_EQ(AGMiscSetAgentRoot(root_.c_str()), 1);
  ASSERT_EQ(GetParam().set(1), 1);
  EXPECT_EQ(Stored(), first);

  // The store deleted and made again under the same root.
  agmisc::DropIdleStores();
  std::filesystem::remove_all(root_ + "data");
  ASSERT_EQ(GetParam().set(1), 1);
  EXPECT_EQ(Stored(), first);
  std::filesystem::remove_all(firstRoot);
}

INSTANTIATE_TEST_SUITE_P(Figures, ConnectionFigureTest, ::testing::ValuesIn(kFigures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
