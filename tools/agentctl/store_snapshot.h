// A read-only look at the client data store (data/agclient.db under the
// agent root), taken while the agent may be running.
//
// The store is opened with SQLITE_OPEN_READONLY, never created, never
// checkpointed on close, and read in one snapshot transaction with a short,
// bounded busy wait: a writer holding the file is never blocked or changed,
// and the tool never waits on it for long. In WAL mode readers do not block
// the agent's writes; a reader sees the last committed state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace agentctl {

inline constexpr int kStoreBusyTimeoutMs = 250;

enum class StoreState { kRead, kMissing, kDamaged, kBusy };

struct StoredPending {
  uint64_t record_id = 0;
  uint32_t list = 0;
  std::vector<uint8_t> bytes;
  std::optional<std::string> lease_owner;
  std::optional<int64_t> stored_at;  // seconds since 1970; absent in older files
};

struct StoreSnapshot {
  // Registration status entries; absent means never written (not registered).
  std::optional<uint32_t> server_registration;
  std::optional<uint32_t> relay_registration;
  std::optional<std::string> client_guid;
  std::optional<std::string> client_udi;
  std::optional<uint32_t> heartbeat_interval_minutes;
  std::optional<uint32_t> registration_attempts;
  std::optional<int64_t> last_connected;  // last heartbeat the server answered
  std::optional<int64_t> last_attempt;    // last request sent, answered or not
  std::optional<uint32_t> connection_status;
  std::vector<StoredPending> pending;     // in arrival order
};

struct StoreReading {
  StoreState state = StoreState::kMissing;
  std::string message;  // why the store could not be read, for a person
  StoreSnapshot snapshot;
};

[[nodiscard]] StoreReading ReadStore(const std::string& path, int busy_timeout_ms = kStoreBusyTimeoutMs);

}  // namespace agentctl
