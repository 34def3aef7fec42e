#include "client_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "agmisc_log.h"
#include "lease_owner.h"
#include "platform/clock.h"

namespace agmisc {
namespace {

// 1: the four tables. 2: pending records carry the time they were stored,
// so that a status query can tell how long the oldest one has waited.
constexpr int kSchemaVersion = 2;

constexpr const char* kSchemaSql =
    "CREATE TABLE IF NOT EXISTS entries("
    "  id INTEGER PRIMARY KEY, type INTEGER NOT NULL, data BLOB NOT NULL);"
    // AUTOINCREMENT: a record id is never reused, so completing a stale id
    // can never remove a newer record.
    "CREATE TABLE IF NOT EXISTS pending("
    "  record_id INTEGER PRIMARY KEY AUTOINCREMENT, list INTEGER NOT NULL,"
    "  type INTEGER NOT NULL, data BLOB NOT NULL, lease_owner TEXT, created_at INTEGER);"
    "CREATE TABLE IF NOT EXISTS events("
    "  event_id INTEGER PRIMARY KEY, frequency INTEGER NOT NULL, last_sync INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS client_values("
    "  name TEXT PRIMARY KEY, data BLOB NOT NULL);";

constexpr const char* kGetEntrySql = "SELECT type, data FROM entries WHERE id = ?1";
constexpr const char* kSetEntrySql =
    "INSERT INTO entries(id, type, data) VALUES(?1, ?2, ?3) "
    "ON CONFLICT(id) DO UPDATE SET type = excluded.type, data = excluded.data";
constexpr const char* kDeleteEntrySql = "DELETE FROM entries WHERE id = ?1";
constexpr const char* kAddStoredAtSql = "ALTER TABLE pending ADD COLUMN created_at INTEGER";
constexpr const char* kAddPendingSql =
    "INSERT INTO pending(list, type, data, created_at) VALUES(?1, ?2, ?3, ?4)";
constexpr const char* kAddLeasedPendingSql =
    "INSERT INTO pending(list, type, data, created_at, lease_owner) VALUES(?1, ?2, ?3, ?4, ?5)";
constexpr const char* kUpdatePendingSql = "UPDATE pending SET data = ?2 WHERE record_id = ?1 AND lease_owner = ?3";
constexpr const char* kSelectLeasableSql =
    "SELECT record_id, list, data, lease_owner FROM pending "
    "WHERE lease_owner IS NULL OR lease_owner <> ?1 ORDER BY record_id";
constexpr const char* kLeaseSql = "UPDATE pending SET lease_owner = ?1 WHERE record_id = ?2";
constexpr const char* kCompleteSql = "DELETE FROM pending WHERE record_id = ?1";
constexpr const char* kReturnSql =
    "UPDATE pending SET lease_owner = NULL WHERE record_id = ?1 AND lease_owner = ?2";
constexpr const char* kGetEventSql = "SELECT frequency, last_sync FROM events WHERE event_id = ?1";
constexpr const char* kPutEventSql =
    "INSERT INTO events(event_id, frequency, last_sync) VALUES(?1, ?2, ?3) "
    "ON CONFLICT(event_id) DO UPDATE SET frequency = excluded.frequency, last_sync = excluded.last_sync";
constexpr const char* kGetValueSql = "SELECT data FROM client_values WHERE name = ?1";
constexpr const char* kSetValueSql =
    "INSERT INTO client_values(name, data) VALUES(?1, ?2) "
    "ON CONFLICT(name) DO UPDATE SET data = excluded.data";

// An autocommit write whose read snapshot went stale while it waited for the
// write lock fails with SQLITE_BUSY_SNAPSHOT; running it again is safe.
constexpr int kSnapshotRetries = 3;

// The store file is created by us with mode 0600 before SQLite opens it;
// SQLite gives its -wal and -shm files the same mode.
bool CreatePrivateFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return ok;
}

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

int QueryInt(sqlite3* db, const char* sql, int* value) {
  sqlite3_stmt* raw = nullptr;
  int code = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  SqliteStatement statement(raw);
  if (code != SQLITE_OK) return code;
  code = sqlite3_step(statement.get());
  if (code != SQLITE_ROW) return code;
  *value = sqlite3_column_int(statement.get(), 0);
  return SQLITE_OK;
}

}  // namespace

bool ClientStore::CreateNew(const std::string& path) {
  const std::string draft = path + ".new." + std::to_string(::getpid());
  ::unlink(draft.c_str());  // left by an earlier process of this pid that died while creating
  bool made = false;
  if (CreatePrivateFile(draft)) {
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(draft.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    ClientStore store(SqliteConnection(raw), draft);
    // Nothing else can see the draft, so nothing needs syncing until it is
    // complete; syncing is off before the switch to the WAL journal, which is
    // itself a commit (four syncs otherwise).
    made = code == SQLITE_OK && store.Execute("PRAGMA synchronous=OFF") && store.Execute("PRAGMA journal_mode=WAL") &&
           store.UpgradeSchema();
    if (!made) store.Rollback();
  }  // closing the only connection folds the WAL into the file
  // The draft takes the store's name only when there is still none: another
  // process may have created the store meanwhile.
  made = made && SyncPath(draft, O_RDONLY) && ::renameat2(AT_FDCWD, draft.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
  if (!made) {
    ::unlink(draft.c_str());
    return false;
  }
  return SyncPath(FolderOf(path), O_RDONLY | O_DIRECTORY);
}

std::optional<ClientStore> ClientStore::Open(const std::string& path, int busy_timeout_ms) {
  // A new store is made complete under another name first: a store cut off
  // half-made by a power cut would otherwise stay unreadable, and creating it
  // in place costs several syncs more (the switch to the WAL journal alone is
  // one full rollback-journal commit).
  if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) static_cast<void>(CreateNew(path));
  if (!CreatePrivateFile(path)) {
    AGMISC_LOG(AG_LOG_FAILURE, "Cannot create the client store %s (errno %d)", path.c_str(), errno);
    return std::nullopt;
  }
  sqlite3* raw = nullptr;
  int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  ClientStore store(SqliteConnection(raw), path);
  if (code != SQLITE_OK) {
    store.LogFailure(__func__, "sqlite3_open_v2", code);
    return std::nullopt;
  }
  sqlite3_extended_result_codes(raw, 1);
  store.SetBusyTimeout(busy_timeout_ms);
  // WAL keeps readers (status queries, other processes) from blocking the
  // agent's writes; FULL sync makes a committed pending record survive a
  // power cut, not only a crash.
  if (!store.Execute("PRAGMA journal_mode=WAL") || !store.Execute("PRAGMA synchronous=FULL")) {
    return std::nullopt;
  }
  int version = 0;
  code = QueryInt(raw, "PRAGMA user_version", &version);
  if (code != SQLITE_OK) {
    store.LogFailure(__func__, "PRAGMA user_version", code);
    return std::nullopt;
  }
  if (version < kSchemaVersion && !store.UpgradeSchema()) {
    store.Rollback();
    return std::nullopt;
  }
  return store;
}

bool ClientStore::UpgradeSchema() {
  // The version is read again under the write lock: another process may have
  // upgraded the file since it was first read.
  if (!Execute("BEGIN IMMEDIATE")) return false;
  int version = 0;
  const int code = QueryInt(db_.get(), "PRAGMA user_version", &version);
  if (code != SQLITE_OK) {
    LogFailure(__func__, "PRAGMA user_version", code);
    return false;
  }
  if (version == 1 && !Execute(kAddStoredAtSql)) return false;
  if (version < kSchemaVersion) {
    const std::string create = std::string(kSchemaSql) + "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    if (!Execute(create.c_str())) return false;
  }
  return Execute("COMMIT");
}

void ClientStore::SetBusyTimeout(int busy_timeout_ms) { sqlite3_busy_timeout(db_.get(), busy_timeout_ms); }

void ClientStore::LogFailure(const char* routine, const char* what, int code) const {
  if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) {
    ::AgEvtLogWrite(AG_LOG_FAILURE, kModuleName, routine, __FILE__, __LINE__,
                    "The client store %s is locked by another connection (%s, code %d)", path_.c_str(), what,
                    code);
    return;
  }
  ::AgEvtLogWrite(AG_LOG_FAILURE, kModuleName, routine, __FILE__, __LINE__,
                  "The client store %s failed in %s: %s (code %d)", path_.c_str(), what, sqlite3_errstr(code), code);
}

sqlite3_stmt* ClientStore::Prepared(const char* sql) {
  for (auto& [text, statement] : statements_) {
    if (text == sql) return statement.get();
  }
  sqlite3_stmt* raw = nullptr;
  const int code = sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  SqliteStatement statement(raw);
  if (code != SQLITE_OK) {
    LogFailure(__func__, sql, code);
    return nullptr;
  }
  statements_.emplace_back(sql, std::move(statement));
  return raw;
}

bool ClientStore::Execute(const char* sql) {
  const int code = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    LogFailure(__func__, sql, code);
    return false;
  }
  return true;
}

bool ClientStore::UseSync(Sync sync) {
  if (sync == sync_) return true;
  if (!Execute(sync == Sync::kFull ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL")) return false;
  sync_ = sync;
  return true;
}

void ClientStore::Rollback() {
  if (sqlite3_get_autocommit(db_.get()) == 0) static_cast<void>(Execute("ROLLBACK"));
}

bool ClientStore::StepDone(const char* routine, sqlite3_stmt* statement) {
  int code = sqlite3_step(statement);
  for (int retry = 0; code == SQLITE_BUSY_SNAPSHOT && retry < kSnapshotRetries; ++retry) {
    sqlite3_reset(statement);
    code = sqlite3_step(statement);
  }
  if (code != SQLITE_DONE) {
    LogFailure(routine, sqlite3_sql(statement), code);
    return false;
  }
  return true;
}

ReadResult ClientStore::GetEntry(uint32_t id, uint32_t type, uint32_t size, void* buffer) {
  sqlite3_stmt* statement = Prepared(kGetEntrySql);
  if (statement == nullptr) return ReadResult::kFailed;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, id);
  const int code = sqlite3_step(statement);
  if (code == SQLITE_DONE) return ReadResult::kMissing;
  if (code != SQLITE_ROW) {
    LogFailure(__func__, kGetEntrySql, code);
    return ReadResult::kFailed;
  }
  const auto stored_type = static_cast<uint32_t>(sqlite3_column_int64(statement, 0));
  const void* data = sqlite3_column_blob(statement, 1);
  const auto stored_size = static_cast<uint32_t>(sqlite3_column_bytes(statement, 1));
  if (stored_type != type) {
    AGMISC_LOG(AG_LOG_FAILURE, "Entry %u has type %u, not %u", id, stored_type, type);
    return ReadResult::kFailed;
  }
  if (stored_size > size) {
    AGMISC_LOG(AG_LOG_FAILURE, "Entry %u holds %u bytes, more than the %u asked for", id, stored_size, size);
    return ReadResult::kFailed;
  }
  if (stored_size > 0) std::memcpy(buffer, data, stored_size);
  std::memset(static_cast<uint8_t*>(buffer) + stored_size, 0, size - stored_size);
  return ReadResult::kFound;
}

bool ClientStore::SetEntry(uint32_t id, uint32_t type, uint32_t size, const void* buffer) {
  if (!UseSync(Sync::kNormal)) return false;
  sqlite3_stmt* statement = Prepared(kSetEntrySql);
  if (statement == nullptr) return false;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, id);
  sqlite3_bind_int64(statement, 2, type);
  sqlite3_bind_blob(statement, 3, buffer, static_cast<int>(size), SQLITE_STATIC);
  return StepDone(__func__, statement);
}

bool ClientStore::DeleteEntry(uint32_t id) {
  if (!UseSync(Sync::kNormal)) return false;
  sqlite3_stmt* statement = Prepared(kDeleteEntrySql);
  if (statement == nullptr) return false;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, id);
  return StepDone(__func__, statement);
}

bool ClientStore::AddPending(uint32_t list, uint32_t type, uint32_t size, const void* record) {
  if (!UseSync(Sync::kFull)) return false;
  sqlite3_stmt* statement = Prepared(kAddPendingSql);
  if (statement == nullptr) return false;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, list);
  sqlite3_bind_int64(statement, 2, type);
  sqlite3_bind_blob(statement, 3, record, static_cast<int>(size), SQLITE_STATIC);
  sqlite3_bind_int64(statement, 4, platform::GetClock().NowSeconds());
  return StepDone(__func__, statement);
}

std::optional<std::vector<PendingRecord>> ClientStore::LeasePending(const std::string& owner, uint32_t max_count) {
  if (!UseSync(Sync::kNormal)) return std::nullopt;
  // IMMEDIATE takes the write lock before reading, so two processes never
  // lease the same record.
  if (!Execute("BEGIN IMMEDIATE")) return std::nullopt;
  std::vector<PendingRecord> leased;
  bool ok = false;
  {
    sqlite3_stmt* select = Prepared(kSelectLeasableSql);
    sqlite3_stmt* lease = Prepared(kLeaseSql);
    if (select != nullptr && lease != nullptr) {
      StatementUse select_use(select);
      sqlite3_bind_text(select, 1, owner.c_str(), static_cast<int>(owner.size()), SQLITE_TRANSIENT);
      std::map<std::string, bool> owner_alive;  // each holder is looked up once per call
      int code = SQLITE_ROW;
      ok = true;
      while (ok && leased.size() < max_count && (code = sqlite3_step(select)) == SQLITE_ROW) {
        if (sqlite3_column_type(select, 3) != SQLITE_NULL) {
          const std::string holder(reinterpret_cast<const char*>(sqlite3_column_text(select, 3)));
          auto [it, inserted] = owner_alive.try_emplace(holder, false);
          if (inserted) it->second = IsLeaseOwnerAlive(holder);
          if (it->second) continue;
        }
        PendingRecord record;
        record.record_id = static_cast<uint64_t>(sqlite3_column_int64(select, 0));
        record.list = static_cast<uint32_t>(sqlite3_column_int64(select, 1));
        const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(select, 2));
        record.bytes.assign(data, data + sqlite3_column_bytes(select, 2));
        StatementUse lease_use(lease);
        sqlite3_bind_text(lease, 1, owner.c_str(), static_cast<int>(owner.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(lease, 2, static_cast<sqlite3_int64>(record.record_id));
        ok = StepDone(__func__, lease);
        leased.push_back(std::move(record));
      }
      if (ok && code != SQLITE_DONE && code != SQLITE_ROW) {
        LogFailure(__func__, kSelectLeasableSql, code);
        ok = false;
      }
    }
  }
  if (!ok || !Execute("COMMIT")) {
    Rollback();
    return std::nullopt;
  }
  return leased;
}

bool ClientStore::CompletePending(uint64_t record_id) {
  if (!UseSync(Sync::kNormal)) return false;
  sqlite3_stmt* statement = Prepared(kCompleteSql);
  if (statement == nullptr) return false;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(record_id));
  if (!StepDone(__func__, statement)) return false;
  if (sqlite3_changes(db_.get()) != 1) {
    AGMISC_LOG(AG_LOG_PASSED_OVER, "No pending record %llu to complete", static_cast<unsigned long long>(record_id));
    return false;
  }
  return true;
}

bool ClientStore::ChangedLeasedRecord(uint64_t record_id) {
  if (sqlite3_changes(db_.get()) == 1) return true;
  AGMISC_LOG(AG_LOG_PASSED_OVER, "Pending record %llu is not leased by this process",
             static_cast<unsigned long long>(record_id));
  return false;
}

bool ClientStore::ReturnPending(uint64_t record_id, const std::string& owner) {
  if (!UseSync(Sync::kNormal)) return false;
  sqlite3_stmt* statement = Prepared(kReturnSql);
  if (statement == nullptr) return false;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(record_id));
  sqlite3_bind_text(statement, 2, owner.c_str(), static_cast<int>(owner.size()), SQLITE_TRANSIENT);
  return StepDone(__func__, statement) && ChangedLeasedRecord(record_id);
}

std::optional<uint64_t> ClientStore::SetEntryWithLeasedPending(uint32_t id, uint32_t type, uint32_t size,
                                                               const void* buffer, uint32_t list,
                                                               uint32_t record_size, const void* record,
                                                               const std::string& owner) {
  // Not synced: a crash of the process keeps both, and a power cut loses both
  // or neither (the journal keeps commits in order).
  if (!UseSync(Sync::kNormal) || !Execute("BEGIN IMMEDIATE")) return std::nullopt;
  bool ok = SetEntry(id, type, size, buffer);
  if (ok) {
    sqlite3_stmt* statement = Prepared(kAddLeasedPendingSql);
    ok = statement != nullptr;
    if (ok) {
      StatementUse use(statement);
      sqlite3_bind_int64(statement, 1, list);
      sqlite3_bind_int64(statement, 2, type);
      sqlite3_bind_blob(statement, 3, record, static_cast<int>(record_size), SQLITE_STATIC);
      sqlite3_bind_int64(statement, 4, platform::GetClock().NowSeconds());
      sqlite3_bind_text(statement, 5, owner.c_str(), static_cast<int>(owner.size()), SQLITE_TRANSIENT);
      ok = StepDone(__func__, statement);
    }
  }
  const auto record_id = static_cast<uint64_t>(sqlite3_last_insert_rowid(db_.get()));
  if (!ok || !Execute("COMMIT")) {
    Rollback();
    return std::nullopt;
  }
  return record_id;
}

bool ClientStore::UpdatePending(uint64_t record_id, uint32_t size, const void* record, const std::string& owner) {
  if (!UseSync(Sync::kNormal)) return false;
  sqlite3_stmt* statement = Prepared(kUpdatePendingSql);
  if (statement == nullptr) return false;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(record_id));
  sqlite3_bind_blob(statement, 2, record, static_cast<int>(size), SQLITE_STATIC);
  sqlite3_bind_text(statement, 3, owner.c_str(), static_cast<int>(owner.size()), SQLITE_TRANSIENT);
  return StepDone(__func__, statement) && ChangedLeasedRecord(record_id);
}

ReadResult ClientStore::GetEvent(uint32_t event_id, int32_t* frequency, int64_t* last_sync) {
  sqlite3_stmt* statement = Prepared(kGetEventSql);
  if (statement == nullptr) return ReadResult::kFailed;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, event_id);
  const int code = sqlite3_step(statement);
  if (code == SQLITE_DONE) return ReadResult::kMissing;
  if (code != SQLITE_ROW) {
    LogFailure(__func__, kGetEventSql, code);
    return ReadResult::kFailed;
  }
  *frequency = sqlite3_column_int(statement, 0);
  *last_sync = sqlite3_column_int64(statement, 1);
  return ReadResult::kFound;
}

bool ClientStore::PutEvent(uint32_t event_id, int32_t frequency, int64_t last_sync) {
  if (!UseSync(Sync::kNormal)) return false;
  sqlite3_stmt* statement = Prepared(kPutEventSql);
  if (statement == nullptr) return false;
  StatementUse use(statement);
  sqlite3_bind_int64(statement, 1, event_id);
  sqlite3_bind_int(statement, 2, frequency);
  sqlite3_bind_int64(statement, 3, last_sync);
  return StepDone(__func__, statement);
}

ReadResult ClientStore::GetValue(const std::string& name, std::vector<uint8_t>* bytes) {
  sqlite3_stmt* statement = Prepared(kGetValueSql);
  if (statement == nullptr) return ReadResult::kFailed;
  StatementUse use(statement);
  sqlite3_bind_text(statement, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  const int code = sqlite3_step(statement);
  if (code == SQLITE_DONE) return ReadResult::kMissing;
  if (code != SQLITE_ROW) {
    LogFailure(__func__, kGetValueSql, code);
    return ReadResult::kFailed;
  }
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 0));
  bytes->assign(data, data + sqlite3_column_bytes(statement, 0));
  return ReadResult::kFound;
}

bool ClientStore::SetValue(const std::string& name, const void* bytes, uint32_t size, bool synced) {
  if (!UseSync(synced ? Sync::kFull : Sync::kNormal)) return false;
  sqlite3_stmt* statement = Prepared(kSetValueSql);
  if (statement == nullptr) return false;
  StatementUse use(statement);
  sqlite3_bind_text(statement, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_blob(statement, 2, bytes, static_cast<int>(size), SQLITE_STATIC);
  return StepDone(__func__, statement);
}

void ClientStore::LimitPagesForTest(uint32_t max_pages) {
  const std::string pragma = "PRAGMA max_page_count=" + std::to_string(max_pages);
  static_cast<void>(Execute(pragma.c_str()));
}

}  // namespace agmisc
