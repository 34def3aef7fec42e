// Thin RAII owners for SQLite objects: a connection (closed on destruction)
// and a prepared statement (finalised on destruction). Neither is copyable;
// each is used by one thread at a time.
#pragma once

#include <sqlite3.h>

#include <memory>

namespace agmisc {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

using SqliteConnection = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// Resets a cached statement when it leaves scope, so that its read lock is
// released between operations.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  ~StatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  [[nodiscard]] sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace agmisc
