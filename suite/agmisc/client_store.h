// One connection to the client data store "agclient.db", a SQLite database
// in the agent's data folder (WAL journal, full sync, file mode 0600). It
// holds four tables:
//   entries      numbered entries: id -> (type, bytes)
//   pending      pending records of lists 14 and 15, in arrival order, with
//                the lease owner of the process that currently sends them
//                and the time (seconds since 1970) each was stored
//   events       send-frequency rows: event id -> (frequency, last sync)
//   client_values named values of the library itself (GUID, UDI, connection
//                state, last connected time)
// Several processes may use the file at once: SQLite's file locks serialise
// writers; a writer waits up to the busy time-out and then fails cleanly.
//
// Durability: adding a pending record and setting the client's identities
// are synced to disk before they return. The other writes (numbered entries,
// events, leases, completions, the connection figures) survive a crash of the
// process at once, and a power cut once the next synced write or checkpoint
// is done; since the journal keeps commits in order, a power cut only ever
// loses the newest of them, never one older than a synced write.
// One ClientStore is used by one thread at a time; every failure is logged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sqlite_handle.h"

namespace agmisc {

inline constexpr const char* kClientStoreFileName = "agclient.db";
inline constexpr uint32_t kMaxStoredRecordSize = 16u * 1024u * 1024u;

enum class ReadResult { kFound, kMissing, kFailed };

struct PendingRecord {
  uint64_t record_id = 0;
  uint32_t list = 0;
  std::vector<uint8_t> bytes;
};

class ClientStore {
 public:
  // Opens (creating when missing) the store at `path`. nullopt, logged, when
  // the file is not a database, is locked beyond the busy time-out or cannot
  // be created.
  [[nodiscard]] static std::optional<ClientStore> Open(const std::string& path, int busy_timeout_ms);

  ClientStore(ClientStore&&) noexcept = default;
  ClientStore& operator=(ClientStore&&) noexcept = default;

  void SetBusyTimeout(int busy_timeout_ms);
  [[nodiscard]] const std::string& path() const { return path_; }

  // Numbered entries. A read succeeds when the entry exists with `type` and
  // at most `size` bytes; the rest of the buffer is zeroed.
  [[nodiscard]] ReadResult GetEntry(uint32_t id, uint32_t type, uint32_t size, void* buffer);
  [[nodiscard]] bool SetEntry(uint32_t id, uint32_t type, uint32_t size, const void* buffer);
  [[nodiscard]] bool DeleteEntry(uint32_t id);

  // Pending records; see lease_owner.h for who holds a lease.
  [[nodiscard]] bool AddPending(uint32_t list, uint32_t type, uint32_t size, const void* record);
  // Leases to `owner` at most `max_count` of the records that are not leased
  // or whose lease holder has ended, the oldest first, and returns them in
  // arrival order.
  [[nodiscard]] std::optional<std::vector<PendingRecord>> LeasePending(const std::string& owner, uint32_t max_count);
  [[nodiscard]] bool CompletePending(uint64_t record_id);
  [[nodiscard]] bool ReturnPending(uint64_t record_id, const std::string& owner);
  // Sets entry `id` and adds a pending record leased to `owner` in one
  // commit, so that a fact and the record that reports it are kept together
  // or not at all. Gives the record's id.
  [[nodiscard]] std::optional<uint64_t> SetEntryWithLeasedPending(uint32_t id, uint32_t type, uint32_t size,
                                                                  const void* buffer, uint32_t list,
                                                                  uint32_t record_size, const void* record,
                                                                  const std::string& owner);
  // Replaces the bytes of a record leased to `owner`.
  [[nodiscard]] bool UpdatePending(uint64_t record_id, uint32_t size, const void* record, const std::string& owner);

  [[nodiscard]] ReadResult GetEvent(uint32_t event_id, int32_t* frequency, int64_t* last_sync);
  [[nodiscard]] bool PutEvent(uint32_t event_id, int32_t frequency, int64_t last_sync);

  [[nodiscard]] ReadResult GetValue(const std::string& name, std::vector<uint8_t>* bytes);
  // `synced`: on disk before it returns (the client's identities); otherwise
  // like a numbered entry (the connection figures shown to operators).
  [[nodiscard]] bool SetValue(const std::string& name, const void* bytes, uint32_t size, bool synced);

  // Caps the file size in pages; lets tests reach the "disk full" path.
  void LimitPagesForTest(uint32_t max_pages);

 private:
  ClientStore(SqliteConnection db, std::string path) : db_(std::move(db)), path_(std::move(path)) {}
  // Makes a complete, empty store at `path` when there is none yet; false
  // (nothing changed) when another process got there first or it failed.
  static bool CreateNew(const std::string& path);

  [[nodiscard]] sqlite3_stmt* Prepared(const char* sql);
  [[nodiscard]] bool Execute(const char* sql);
  // Brings an older file (or a new, empty one) to the current tables in one
  // write transaction; false leaves the transaction open for Rollback.
  [[nodiscard]] bool UpgradeSchema();
  // Ends an open transaction without its changes; no-op outside one.
  void Rollback();
  // Logs a failed SQLite call with the store's own error text.
  void LogFailure(const char* routine, const char* what, int code) const;
  [[nodiscard]] bool StepDone(const char* routine, sqlite3_stmt* statement);
  // True when the last statement changed the record; logs when it did not
  // (the record is gone or not leased by this process).
  [[nodiscard]] bool ChangedLeasedRecord(uint64_t record_id);
  // Sets how the next commits reach the disk (a no-op when already so).
  enum class Sync { kFull, kNormal };
  [[nodiscard]] bool UseSync(Sync sync);

  SqliteConnection db_;
  std::string path_;
  Sync sync_ = Sync::kFull;
  // Statements prepared once per connection, keyed by their SQL text address.
  std::vector<std::pair<const char*, SqliteStatement>> statements_;
};

}  // namespace agmisc
