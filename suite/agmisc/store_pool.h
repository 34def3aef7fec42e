// Hands out client-store connections for CLOpenDatabase / CLCloseDatabase.
// Closed handles go back to a small pool of idle connections, so the usual
// open / one operation / close round trip does not reopen the file and
// re-prepare statements each time. The pool is dropped when the agent root
// changes, and a forked child never reuses its parent's connections (SQLite
// connections must not cross fork). Thread-safe.
#pragma once

#include <agsuite/agmisc.h>

#include <string>

#include "client_store.h"

// The object behind a CLDBHANDLE.
struct CLDatabase {
  uint32_t magic;
  agmisc::ClientStore store;
};

namespace agmisc {

inline constexpr int kDefaultBusyTimeoutMs = 5000;

// Opens (or reuses) a connection to the store under the current agent root.
// Null, logged, when the store cannot be opened.
[[nodiscard]] CLDatabase* AcquireStore();
// Gives the connection back; false for a null or foreign handle.
[[nodiscard]] bool ReleaseStore(CLDatabase* db);
// True when `db` is a handle handed out by AcquireStore and not yet released.
[[nodiscard]] bool IsValidStore(const CLDatabase* db);

// Runs `operation(ClientStore&)` on a pooled connection: the library's own
// open / one operation / close round trip.
template <typename Operation>
[[nodiscard]] bool WithStore(Operation&& operation) {
  CLDatabase* db = AcquireStore();
  if (db == nullptr) return false;
  const bool done = operation(db->store);
  static_cast<void>(ReleaseStore(db));
  return done;
}

// Writes client value `name` (not synced) unless this process already wrote
// the same bytes to the same store: for figures written around nearly every
// request with the value they already hold, which would each cost a write
// transaction. Only this library writes those values, so the bytes it wrote
// last are the ones stored; a new connection, a dropped pool, a new root and
// a fork forget what was written.
[[nodiscard]] bool SetValueUnlessWritten(const char* name, const void* bytes, uint32_t size);

// How long a writer waits for another connection's lock before failing.
void SetStoreBusyTimeoutMs(int busy_timeout_ms);
// Closes every idle connection (tests switch roots and delete files).
void DropIdleStores();

}  // namespace agmisc
