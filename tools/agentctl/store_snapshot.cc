#include "store_snapshot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "client_value_names.h"
#include "core/siblings/client_store.h"
#include "sqlite_handle.h"

namespace agentctl {
namespace {

using agmisc::SqliteConnection;
using agmisc::SqliteStatement;

// Thrown inside the snapshot only; turned into a StoreReading at the edge.
struct StoreFailure {
  int code;
  std::string what;
};

bool IsBusy(int code) { return (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED; }

class Reader {
 public:
  explicit Reader(sqlite3* db) : db_(db) {}

  void Execute(const char* sql) {
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) throw StoreFailure{code, sql};
  }

  // Runs `sql` (with one optional text or integer parameter) and hands every
  // row to `row`.
  template <typename Row>
  void Query(const char* sql, Row&& row, const char* text = nullptr, std::optional<int64_t> number = {}) {
    sqlite3_stmt* raw = nullptr;
    int code = sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr);
    SqliteStatement statement(raw);
    if (code != SQLITE_OK) throw StoreFailure{code, sql};
    if (text != nullptr) sqlite3_bind_text(raw, 1, text, -1, SQLITE_STATIC);
    if (number) sqlite3_bind_int64(raw, 1, *number);
    while ((code = sqlite3_step(raw)) == SQLITE_ROW) row(raw);
    if (code != SQLITE_DONE) throw StoreFailure{code, sql};
  }

  std::optional<std::vector<uint8_t>> Value(const char* name) {
    std::optional<std::vector<uint8_t>> found;
    Query("SELECT data FROM client_values WHERE name = ?1", [&](sqlite3_stmt* row) { found = Blob(row, 0); },
          name);
    return found;
  }

  std::optional<std::vector<uint8_t>> Entry(uint32_t id) {
    std::optional<std::vector<uint8_t>> found;
    Query("SELECT data FROM entries WHERE id = ?1", [&](sqlite3_stmt* row) { found = Blob(row, 0); },
          nullptr, id);
    return found;
  }

  static std::vector<uint8_t> Blob(sqlite3_stmt* row, int column) {
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(row, column));
    return data != nullptr ? std::vector<uint8_t>(data, data + sqlite3_column_bytes(row, column))
                           : std::vector<uint8_t>{};
  }

 private:
  sqlite3* db_;
};

// A number stored as its native bytes; a row of another size reads as absent.
template <typename T>
std::optional<T> AsNumber(const std::optional<std::vector<uint8_t>>& bytes) {
  if (!bytes || bytes->size() != sizeof(T)) return std::nullopt;
  T value{};
  std::memcpy(&value, bytes->data(), sizeof(T));
  return value;
}

std::optional<std::string> AsText(const std::optional<std::vector<uint8_t>>& bytes) {
  if (!bytes || bytes->empty()) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

// The pending table of files written before records carried their time has
// no created_at column.
bool PendingHasStoredAt(Reader& reader) {
  bool present = false;
  reader.Query("SELECT 1 FROM pragma_table_info('pending') WHERE name = 'created_at'",
               [&](sqlite3_stmt*) { present = true; });
  return present;
}

StoreSnapshot Snapshot(Reader& reader) {
  StoreSnapshot snapshot;
  snapshot.server_registration = AsNumber<uint32_t>(reader.Entry(DB_ID_CLIENT_REG_STATUS));
  snapshot.relay_registration = AsNumber<uint32_t>(reader.Entry(DB_ID_CLIENT_RP_REG_STATUS));
  snapshot.heartbeat_interval_minutes = AsNumber<uint32_t>(reader.Entry(DB_ID_CLIENT_HEARTBEAT_INTERVAL));
  snapshot.registration_attempts = AsNumber<uint32_t>(reader.Entry(DB_ID_CLIENT_REG_ATTEMPT));
  snapshot.client_guid = AsText(reader.Value(agmisc::kGuidValue));
  snapshot.client_udi = AsText(reader.Value(agmisc::kUdiValue));
  snapshot.connection_status = AsNumber<uint32_t>(reader.Value(agmisc::kConnectionStatusValue));
  // The core and the library each keep the time; the later one wins.
  const auto core_time = AsNumber<uint64_t>(reader.Entry(DB_ID_CLIENT_LAST_CONNECTED_TIME));
  const auto library_time = AsNumber<uint64_t>(reader.Value(agmisc::kLastConnectedValue));
  const uint64_t last = std::max(core_time.value_or(0), library_time.value_or(0));
  if (last != 0) snapshot.last_connected = static_cast<int64_t>(last);
  if (const auto attempt = AsNumber<uint64_t>(reader.Value(agmisc::kLastAttemptValue))) {
    snapshot.last_attempt = static_cast<int64_t>(*attempt);
  }

  const char* pending_sql = PendingHasStoredAt(reader)
                                ? "SELECT record_id, list, data, lease_owner, created_at FROM pending ORDER BY record_id"
                                : "SELECT record_id, list, data, lease_owner, NULL FROM pending ORDER BY record_id";
  reader.Query(pending_sql, [&](sqlite3_stmt* row) {
    StoredPending record;
    record.record_id = static_cast<uint64_t>(sqlite3_column_int64(row, 0));
    record.list = static_cast<uint32_t>(sqlite3_column_int64(row, 1));
    record.bytes = Reader::Blob(row, 2);
    if (sqlite3_column_type(row, 3) != SQLITE_NULL) {
      record.lease_owner = reinterpret_cast<const char*>(sqlite3_column_text(row, 3));
    }
    if (sqlite3_column_type(row, 4) != SQLITE_NULL) record.stored_at = sqlite3_column_int64(row, 4);
    snapshot.pending.push_back(std::move(record));
  });
  return snapshot;
}

// Only root and the agent's account may read the store; say so to others.
std::string ErrorText(int error) {
  return std::string(std::strerror(error)) + (error == EACCES ? " (run as root or as the agent's user)" : "");
}

// A read-only connection to a WAL database creates the -wal and -shm files
// when they are missing. They are missing only when no agent has the store
// open (its last connection folds the WAL back in and removes it); then
// nothing can change the file under us, and it is read as immutable: no
// locks, no files beside it.
std::string StoreUri(const std::string& path) {
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '?' || c == '#' || c == '%') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[static_cast<unsigned char>(c) >> 4];
      uri += kHex[static_cast<unsigned char>(c) & 0x0F];
    } else {
      uri += c;
    }
  }
  struct stat wal {};
  if (::stat((path + "-wal").c_str(), &wal) != 0 && errno == ENOENT) uri += "?immutable=1";
  return uri;
}

StoreReading Failed(StoreState state, std::string message) {
  StoreReading reading;
  reading.state = state;
  reading.message = std::move(message);
  return reading;
}

}  // namespace

StoreReading ReadStore(const std::string& path, int busy_timeout_ms) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    if (error == ENOENT) return Failed(StoreState::kMissing, "no client data store at " + path);
    return Failed(StoreState::kDamaged, "cannot reach " + path + ": " + ErrorText(error));
  }
  if (!S_ISREG(info.st_mode)) return Failed(StoreState::kDamaged, path + " is not a regular file");
  if (::access(path.c_str(), R_OK) != 0) {
    const int error = errno;
    return Failed(StoreState::kDamaged, "cannot read " + path + ": " + ErrorText(error));
  }

  sqlite3* raw = nullptr;
  const int code =
      sqlite3_open_v2(StoreUri(path).c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteConnection db(raw);
  if (code != SQLITE_OK) {
    return Failed(StoreState::kDamaged, "cannot open " + path + ": " + sqlite3_errstr(code));
  }
  sqlite3_extended_result_codes(raw, 1);
  // The agent owns the WAL: closing this connection must never fold it into
  // the main file, even when it is the last connection.
  sqlite3_db_config(raw, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_busy_timeout(raw, busy_timeout_ms);

  Reader reader(raw);
  StoreReading reading;
  try {
    reader.Execute("PRAGMA query_only=1");
    int version = 0;
    reader.Query("PRAGMA user_version", [&](sqlite3_stmt* row) { version = sqlite3_column_int(row, 0); });
    if (version == 0) return Failed(StoreState::kDamaged, path + " is a SQLite file, but not a client data store");
    // One read transaction: every value comes from the same committed state.
    reader.Execute("BEGIN");
    reading.snapshot = Snapshot(reader);
    reader.Execute("COMMIT");
  } catch (const StoreFailure& failure) {
    if (sqlite3_get_autocommit(raw) == 0) sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
    if (IsBusy(failure.code)) {
      return Failed(StoreState::kBusy, path + " is locked by another process (still locked after " +
                                           std::to_string(busy_timeout_ms) + " ms); try again");
    }
    return Failed(StoreState::kDamaged, path + " cannot be read: " + sqlite3_errstr(failure.code) + " (code " +
                                            std::to_string(failure.code) + ")");
  }
  reading.state = StoreState::kRead;
  return reading;
}

}  // namespace agentctl
