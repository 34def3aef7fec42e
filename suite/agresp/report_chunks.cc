#include "report_chunks.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "resp_log.h"

namespace agresp {
namespace {

constexpr uint32_t kDefaultChunk = 100;
constexpr uint32_t kMaxChunk = 10000;
constexpr int kBusyTimeoutMs = 2000;

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct Finalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, Closer>;
using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

// Opens an existing database (or creates it with `create`); null with a log
// line when that fails.
Database Open(const std::string& path, bool create) {
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) {
    RESPLOG(AG_LOG_FAILURE, "Report database %s cannot be opened: %s", path.c_str(), sqlite3_errstr(rc));
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  return db;
}

bool Execute(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    RESPLOG(AG_LOG_FAILURE, "Report database statement failed: %s", error != nullptr ? error : "?");
    sqlite3_free(error);
    return false;
  }
  return true;
}

Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
    RESPLOG(AG_LOG_FAILURE, "Report database statement refused: %s", sqlite3_errmsg(db));
    return nullptr;
  }
  return Statement(raw);
}

std::string Text(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// The id up to which the copy's records went out (0 for a fresh copy).
bool ConfirmedId(sqlite3* db, int64_t* id) {
  if (!Execute(db, "CREATE TABLE IF NOT EXISTS upload_progress(last_id INTEGER NOT NULL)")) return false;
  Statement read = Prepare(db, "SELECT COALESCE(MAX(last_id), 0) FROM upload_progress");
  if (read == nullptr || sqlite3_step(read.get()) != SQLITE_ROW) return false;
  *id = sqlite3_column_int64(read.get(), 0);
  return true;
}

bool Confirm(sqlite3* db, int64_t id) {
  if (!Execute(db, "BEGIN IMMEDIATE")) return false;
  Statement write = Prepare(db, "INSERT INTO upload_progress(last_id) VALUES(?)");
  const bool done = Execute(db, "DELETE FROM upload_progress") && write != nullptr &&
                    sqlite3_bind_int64(write.get(), 1, id) == SQLITE_OK && sqlite3_step(write.get()) == SQLITE_DONE;
  write.reset();
  return Execute(db, done ? "COMMIT" : "ROLLBACK") && done;
}

}  // namespace

ReportChunk ReportCursor::Next(const std::string& path, uint32_t count) {
  count = count == 0 ? kDefaultChunk : std::min(count, kMaxChunk);
  ReportChunk chunk;
  const auto handed = handed_out_.find(path);
  const int64_t pending = handed != handed_out_.end() ? handed->second : 0;
  handed_out_.erase(path);
  Database db = Open(path, false);
  int64_t confirmed = 0;
  if (db == nullptr || !ConfirmedId(db.get(), &confirmed)) return chunk;
  if (pending > confirmed) {
    if (!Confirm(db.get(), pending)) return chunk;
    confirmed = pending;
  }
  Statement read = Prepare(db.get(), "SELECT id, time, kind, detail FROM reports WHERE id > ? ORDER BY id LIMIT ?");
  if (read == nullptr || sqlite3_bind_int64(read.get(), 1, confirmed) != SQLITE_OK ||
      sqlite3_bind_int(read.get(), 2, static_cast<int>(count)) != SQLITE_OK) {
    return chunk;
  }
  int rc = SQLITE_ROW;
  int64_t last = 0;
  while ((rc = sqlite3_step(read.get())) == SQLITE_ROW) {
    Json::Value record(Json::objectValue);
    last = sqlite3_column_int64(read.get(), 0);
    record["id"] = static_cast<Json::Int64>(last);
    record["time"] = static_cast<Json::Int64>(sqlite3_column_int64(read.get(), 1));
    record["kind"] = Text(read.get(), 2);
    record["detail"] = Text(read.get(), 3);
    if (chunk.records.empty()) chunk.first_id = last;
    chunk.records.append(std::move(record));
  }
  if (rc != SQLITE_DONE) {
    RESPLOG(AG_LOG_FAILURE, "Reading report database %s failed: %s", path.c_str(), sqlite3_errmsg(db.get()));
    return ReportChunk{};
  }
  if (!chunk.records.empty()) handed_out_[path] = last;
  return chunk;
}

bool ExportReportDatabase(const std::string& source, const std::string& target, int64_t* last_id) {
  Database from = Open(source, false);
  if (from == nullptr) return false;
  std::remove(target.c_str());
  Database to = Open(target, true);
  if (to == nullptr) return false;
  sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
  if (backup == nullptr) {
    RESPLOG(AG_LOG_FAILURE, "Report database %s cannot be exported: %s", source.c_str(), sqlite3_errmsg(to.get()));
    return false;
  }
  const int rc = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    RESPLOG(AG_LOG_FAILURE, "Report database %s cannot be exported: %s", source.c_str(), sqlite3_errstr(rc));
    return false;
  }
  Statement newest = Prepare(to.get(), "SELECT COALESCE(MAX(id), 0) FROM reports");
  if (newest == nullptr || sqlite3_step(newest.get()) != SQLITE_ROW) return false;
  *last_id = sqlite3_column_int64(newest.get(), 0);
  return true;
}

bool ResetReportDatabase(const std::string& path, std::optional<int64_t> up_to) {
  Database db = Open(path, true);
  if (db == nullptr || !Execute(db.get(), kReportDbSchema)) return false;
  if (!up_to) return Execute(db.get(), "DELETE FROM reports");
  Statement remove = Prepare(db.get(), "DELETE FROM reports WHERE id <= ?");
  return remove != nullptr && sqlite3_bind_int64(remove.get(), 1, *up_to) == SQLITE_OK &&
         sqlite3_step(remove.get()) == SQLITE_DONE;
}

}  // namespace agresp
