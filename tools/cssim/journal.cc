#include "tools/cssim/journal.h"

#include <json/json.h>

#include <chrono>
#include <cstring>
#include <ctime>

namespace cssim {
namespace {

std::string IsoTime(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const size_t length = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof(text) - length, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

}  // namespace

bool Journal::Open(const std::string& path, std::string* error) {
  std::lock_guard lock(mutex_);
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) {
    *error = "cannot open journal " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

Journal::~Journal() {
  if (file_ != nullptr) std::fclose(file_);
}

void Journal::Append(Json::Value entry) {
  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  std::lock_guard lock(mutex_);
  entry["seq"] = static_cast<Json::UInt64>(next_seq_++);
  entry["time"] = IsoTime(now_ms);
  entry["timeMs"] = static_cast<Json::Int64>(now_ms);
  if (file_ != nullptr) {
    const std::string line = Json::writeString(builder, entry) + "\n";
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  }
  recent_.push_back(std::move(entry));
  if (recent_.size() > kMemoryEntries) recent_.pop_front();
}

Json::Value Journal::Read(const JournalFilter& filter) const {
  Json::Value entries(Json::arrayValue);
  std::lock_guard lock(mutex_);
  for (const Json::Value& entry : recent_) {
    if (entry["seq"].asUInt64() <= filter.since) continue;
    if (!filter.client.empty() && entry["clientGuid"].asString() != filter.client) continue;
    if (!filter.operation.empty() && entry["operation"].asString() != filter.operation) continue;
    entries.append(entry);
  }
  return entries;
}

}  // namespace cssim
