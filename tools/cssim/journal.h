// The simulator's journal: one JSON line per request received, appended to a
// file and kept in memory (the most recent entries) for the admin API.
// Thread-safe: handlers of every listener append concurrently.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace cssim {

struct JournalFilter {
  uint64_t since = 0;     // entries with a larger sequence number
  std::string client;     // empty: every client
  std::string operation;  // empty: every operation
};

class Journal {
 public:
  // Opens `path` for appending; false when it cannot be opened.
  [[nodiscard]] bool Open(const std::string& path, std::string* error);
  ~Journal();

  // Stamps `entry` with "seq", "time" and "timeMs", writes and flushes it.
  void Append(Json::Value entry);
  [[nodiscard]] Json::Value Read(const JournalFilter& filter) const;

 private:
  static constexpr size_t kMemoryEntries = 100'000;

  mutable std::mutex mutex_;
  FILE* file_ = nullptr;             // guarded by mutex_
  uint64_t next_seq_ = 1;            // guarded by mutex_
  std::deque<Json::Value> recent_;   // guarded by mutex_
};

}  // namespace cssim
