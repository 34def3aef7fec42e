// Collects the event-log records written while it lives, so a test can assert
// the system's own log texts and their levels.
//
// RAII: the constructor adds a capture sink, the destructor removes it. The
// sink is called from whichever thread logs; the record list is guarded by a
// mutex, so core threads may log while the test thread asserts.
#pragma once

#include <agsuite/agevtlog.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct CapturedLogRecord {
  uint32_t level;
  std::string routine;
  std::string message;
};

class LogCapture {
 public:
  LogCapture() { sink_id_ = AgEvtLogAddSink(&LogCapture::Sink, this); }
  ~LogCapture() { AgEvtLogRemoveSink(sink_id_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // True when some record's message contains `text`.
  bool Contains(const std::string& text) const { return Count(text) > 0; }

  // True when some record at exactly `level` contains `text`.
  bool ContainsAtLevel(uint32_t level, const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& r : records_) {
      if (r.level == level && r.message.find(text) != std::string::npos) return true;
    }
    return false;
  }

  // Number of records whose message contains `text`.
  size_t Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& r : records_) {
      if (r.message.find(text) != std::string::npos) ++n;
    }
    return n;
  }

  std::vector<CapturedLogRecord> Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }

  // Every message, one a line: handy in a failure message.
  std::string Dump() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    for (const auto& r : records_) {
      out += std::to_string(r.level) + " " + r.routine + ": " + r.message + "\n";
    }
    return out;
  }

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
  }

 private:
  static void Sink(void* context, const AgEvtLogRecord* record) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->records_.push_back({record->level, record->routine ? record->routine : "",
                              record->message ? record->message : ""});
  }

  int sink_id_ = -1;
  mutable std::mutex mutex_;
  std::vector<CapturedLogRecord> records_;
};
