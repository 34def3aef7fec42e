// The protection product's report database and the agent's copy of it
// (carpt.db), handed out in chunks for the client-report request (ids 106 and
// 103).
//
// A report database is an SQLite file with one table of event reports
// (kReportDbSchema). The product adds rows; a reset (action 11) empties the
// table. The core copies the file, then asks for chunk after chunk with one
// response generator until a request yields nothing, and stops at the first
// chunk it cannot send. So a request for the next chunk confirms the chunk
// before it: the confirmed position is kept inside the copy itself (table
// upload_progress), which lets the next upload of the same copy, with another
// generator, go on with the first chunk that did not go out, while a fresh
// copy (without that table) starts at its first record.
//
// One ReportCursor belongs to one response generator and its thread.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace agresp {

inline constexpr char kReportDbSchema[] =
    "CREATE TABLE IF NOT EXISTS reports(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, "
    "kind TEXT NOT NULL, detail TEXT NOT NULL)";

struct ReportChunk {
  Json::Value records{Json::arrayValue};  // {"id", "time", "kind", "detail"} each
  int64_t first_id = 0;                   // id of the first record
};

class ReportCursor {
 public:
  // The next up to `count` records of the database at `path` (0 means 100, at
  // most 10000), after confirming the chunk handed out before from the same
  // path. An empty chunk when the database is exhausted or unreadable.
  [[nodiscard]] ReportChunk Next(const std::string& path, uint32_t count);

 private:
  std::map<std::string, int64_t> handed_out_;  // last id handed out, by path, until confirmed
};

// The product hands out a consistent snapshot of its database rather than the
// live file: `source` is copied whole to `target` (replaced), and *last_id is
// the newest record in the snapshot (0 when it has none). False when either
// cannot be opened.
[[nodiscard]] bool ExportReportDatabase(const std::string& source, const std::string& target, int64_t* last_id);

// Deletes the records up to `up_to` (all records without it) from the
// database at `path`, creating the database when it does not exist yet.
// Records added after the snapshot that was handed out survive the reset.
// False when it cannot be opened or written.
[[nodiscard]] bool ResetReportDatabase(const std::string& path, std::optional<int64_t> up_to);

}  // namespace agresp
