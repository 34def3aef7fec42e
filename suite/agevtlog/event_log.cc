// The exported entry points of the event log and the one process-wide logger
// behind them.
//
// Lines at or below the maximum level go to the file sink (when open); every
// line goes to the capture sinks. Formatting happens outside the lock; the
// file write and the capture sinks run under it, so the lines of concurrent
// writers never interleave and a sink removed by AgEvtLogRemoveSink is never
// called afterwards. A sink must not log itself (it would wait on the lock).

#include <agsuite/agevtlog.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "file_sink.h"
#include "wide_format.h"

namespace {

// Failures and progress are written unless the host asks for more or less.
constexpr uint32_t kDefaultMaxLevel = AG_LOG_PROGRESS;

struct Sink {
  int id;
  AgEvtLogSinkFn fn;
  void* context;
};

class Logger {
 public:
  static Logger& Instance() {
    // Never destroyed: threads that outlive main() may still log.
    static Logger* logger = new Logger();
    return *logger;
  }

  [[nodiscard]] bool Wants(uint32_t level) const {
    return level <= max_level_.load(std::memory_order_relaxed) || sink_count_.load(std::memory_order_acquire) > 0;
  }

  void Emit(uint32_t level, const char* module, const char* routine, const char* file, int line,
            const std::string& message) {
    AgEvtLogRecord record{};
    record.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    record.threadId = ThreadId();
    record.level = level;
    record.module = module != nullptr ? module : "";
    record.routine = routine != nullptr ? routine : "";
    record.file = file != nullptr ? file : "";
    record.line = line;
    record.message = message.c_str();
    const bool to_file = level <= max_level_.load(std::memory_order_relaxed);
    std::string text = to_file ? FileLine(record) : std::string();

    std::lock_guard lock(mutex_);
    if (to_file) file_.Write(text);
    for (const Sink& sink : sinks_) sink.fn(sink.context, &record);
  }

  void SetMaxLevel(uint32_t level) { max_level_.store(level, std::memory_order_relaxed); }
  [[nodiscard]] uint32_t MaxLevel() const { return max_level_.load(std::memory_order_relaxed); }

  bool OpenFile(const char* folder, const char* name, uint64_t max_bytes, uint32_t keep_files) {
    if (folder == nullptr || name == nullptr || *name == '\0') return false;
    std::lock_guard lock(mutex_);
    return file_.Open(folder, name, max_bytes, keep_files);
  }

  void CloseFile() {
    std::lock_guard lock(mutex_);
    file_.Close();
  }

  int AddSink(AgEvtLogSinkFn fn, void* context) {
    if (fn == nullptr) return -1;
    std::lock_guard lock(mutex_);
    int id = next_sink_id_++;
    sinks_.push_back({id, fn, context});
    sink_count_.store(sinks_.size(), std::memory_order_release);
    return id;
  }

  void RemoveSink(int id) {
    std::lock_guard lock(mutex_);
    std::erase_if(sinks_, [id](const Sink& s) { return s.id == id; });
    sink_count_.store(sinks_.size(), std::memory_order_release);
  }

 private:
  static uint32_t ThreadId() {
    thread_local const uint32_t tid = static_cast<uint32_t>(::syscall(SYS_gettid));
    return tid;
  }

  // 2026-12-05T15:41:19.123Z [4711] L2 agcore.dll ClientAgentCoreStartUp: Entry
  static std::string FileLine(const AgEvtLogRecord& r) {
    const time_t seconds = static_cast<time_t>(r.timeMs / 1000);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    char head[96];
    std::snprintf(head, sizeof head, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ [%u] L%u ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(r.timeMs % 1000),
                  r.threadId, r.level);
    std::string line = head;
    line.append(r.module).append(" ").append(r.routine).append(": ").append(r.message);
    if (line.empty() || line.back() != '\n') line += '\n';
    return line;
  }

  std::atomic<uint32_t> max_level_{kDefaultMaxLevel};
  std::atomic<size_t> sink_count_{0};
  std::mutex mutex_;
  agevtlog::FileSink file_;     // guarded by mutex_
  std::vector<Sink> sinks_;     // guarded by mutex_
  int next_sink_id_ = 1;        // guarded by mutex_
};

std::string FormatNarrow(const char* format, va_list args) {
  if (format == nullptr) return {};
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, args);
  big.resize(static_cast<size_t>(n));
  return big;
}

}  // namespace

void AgEvtLogWrite(uint32_t level, const char* module, const char* routine, const char* file, int line,
                   const char* format, ...) {
  Logger& logger = Logger::Instance();
  if (!logger.Wants(level)) return;
  va_list args;
  va_start(args, format);
  std::string message = FormatNarrow(format, args);
  va_end(args);
  logger.Emit(level, module, routine, file, line, message);
}

void AgEvtLogWriteW(uint32_t level, const char* module, const char* routine, const char* file, int line,
                    const char16_t* format, ...) {
  Logger& logger = Logger::Instance();
  if (!logger.Wants(level)) return;
  va_list args;
  va_start(args, format);
  std::string message = agevtlog::FormatWide(format, args);
  va_end(args);
  logger.Emit(level, module, routine, file, line, message);
}

void AgEvtLogSetMaxLevel(uint32_t maxLevel) { Logger::Instance().SetMaxLevel(maxLevel); }

uint32_t AgEvtLogGetMaxLevel() { return Logger::Instance().MaxLevel(); }

uint8_t AgEvtLogOpenFile(const char* folderUtf8, const char* name, uint64_t maxBytes, uint32_t keepFiles) {
  return Logger::Instance().OpenFile(folderUtf8, name, maxBytes, keepFiles) ? 1 : 0;
}

void AgEvtLogCloseFile() { Logger::Instance().CloseFile(); }

int AgEvtLogAddSink(AgEvtLogSinkFn sink, void* context) { return Logger::Instance().AddSink(sink, context); }

void AgEvtLogRemoveSink(int sinkId) { Logger::Instance().RemoveSink(sinkId); }
