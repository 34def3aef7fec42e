#include "report_chunks.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "json_text.h"
#include "resp_log.h"

namespace agresp {
namespace {

constexpr uint32_t kDefaultChunk = 100;
constexpr uint32_t kMaxChunk = 10000;

uint64_t FileIdentity(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  uint64_t identity = static_cast<uint64_t>(st.st_ino);
  identity = identity * 1000003u ^ static_cast<uint64_t>(st.st_size);
  identity = identity * 1000003u ^ static_cast<uint64_t>(st.st_mtim.tv_sec);
  return identity * 1000003u ^ static_cast<uint64_t>(st.st_mtim.tv_nsec);
}

}  // namespace

ReportChunk ReportCursor::Next(const std::string& path, uint32_t count) {
  count = count == 0 ? kDefaultChunk : std::min(count, kMaxChunk);
  ReportChunk chunk;
  Position& position = positions_[path];
  const uint64_t identity = FileIdentity(path);
  if (identity != position.file_identity) position = Position{0, identity};
  uint64_t& next = position.next_line;
  chunk.first = next;
  std::ifstream db(path, std::ios::binary);
  if (!db) {
    RESPLOG(AG_LOG_FAILURE, "Report database %s cannot be opened", path.c_str());
    positions_.erase(path);
    return chunk;
  }
  std::string line;
  for (uint64_t skipped = 0; skipped < next && std::getline(db, line); ++skipped) {
  }
  // Lines that are not records are consumed but do not count, so a chunk is
  // empty only at the end of the database.
  uint64_t taken = 0;
  while (chunk.records.size() < count && std::getline(db, line)) {
    ++taken;
    Json::Value record;
    if (!ParseJson(line, &record) || !record.isObject()) {
      RESPLOG(AG_LOG_PASSED_OVER, "Report record %ju is not a JSON object; skipped.", next + taken - 1);
      continue;
    }
    chunk.records.append(std::move(record));
  }
  next += taken;
  if (chunk.records.empty()) positions_.erase(path);  // exhausted: the next upload starts over
  return chunk;
}

}  // namespace agresp
