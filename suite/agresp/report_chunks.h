// Reading a report database (one JSON object per line) in chunks for the
// client-report request (ids 106 and 103). The core asks for chunk after
// chunk with the same response generator until a request yields nothing, so
// each generator keeps how far it got in each database. The core uploads the
// old copy and then a fresh copy under the same path with one generator: a
// position is therefore forgotten once its database is exhausted, and when
// the file at the path is no longer the same file. One thread at a time (the
// generator's).
#pragma once

#include <json/json.h>

#include <cstdint>
#include <map>
#include <string>

namespace agresp {

struct ReportChunk {
  Json::Value records{Json::arrayValue};
  uint64_t first = 0;  // index of the first record in the database
};

class ReportCursor {
 public:
  // The next up to `count` records of `path` (count 0 means 100); an empty
  // chunk when the database is exhausted or unreadable.
  [[nodiscard]] ReportChunk Next(const std::string& path, uint32_t count);

 private:
  struct Position {
    uint64_t next_line = 0;
    uint64_t file_identity = 0;  // changes when the file is replaced or rewritten
  };
  std::map<std::string, Position> positions_;  // by database path
};

}  // namespace agresp
