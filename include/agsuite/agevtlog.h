// The event-log library (libagevtlog). Every component logs through
// AgEvtLogWrite: level, module, routine, source file, line and a printf-style
// message. Levels: 1 failure, 2 progress, 4 failure passed over, 8 verbose.
// A line is written when its level is at most the configured maximum level.
// Sinks: a size-rotated file (configured by the service host) and capture
// sinks (tests). Thread-safe.
#pragma once

#include <cstdint>

#define AG_SUITE_EXPORT __attribute__((visibility("default")))

inline constexpr uint32_t AG_LOG_FAILURE = 1;
inline constexpr uint32_t AG_LOG_PROGRESS = 2;
inline constexpr uint32_t AG_LOG_PASSED_OVER = 4;
inline constexpr uint32_t AG_LOG_VERBOSE = 8;

struct AgEvtLogRecord {
  int64_t timeMs;        // milliseconds since 1970, UTC
  uint32_t threadId;
  uint32_t level;
  const char* module;
  const char* routine;
  const char* file;
  int line;
  const char* message;   // formatted, UTF-8
};

using AgEvtLogSinkFn = void (*)(void* context, const AgEvtLogRecord* record);

extern "C" {
AG_SUITE_EXPORT void AgEvtLogWrite(uint32_t level, const char* module, const char* routine, const char* file,
                                   int line, const char* format, ...) __attribute__((format(printf, 6, 7)));
// UTF-16 twin: %s and %ls take char16_t* arguments; other conversions as printf.
AG_SUITE_EXPORT void AgEvtLogWriteW(uint32_t level, const char* module, const char* routine, const char* file,
                                    int line, const char16_t* format, ...);
AG_SUITE_EXPORT void AgEvtLogSetMaxLevel(uint32_t maxLevel);
AG_SUITE_EXPORT uint32_t AgEvtLogGetMaxLevel();
// Opens (or switches to) the log file `folder/name`, rotated at `maxBytes`
// keeping `keepFiles` older files. Returns 1 when the file could be opened.
AG_SUITE_EXPORT uint8_t AgEvtLogOpenFile(const char* folderUtf8, const char* name, uint64_t maxBytes, uint32_t keepFiles);
AG_SUITE_EXPORT void AgEvtLogCloseFile();
// Capture sinks receive every record regardless of the maximum level.
AG_SUITE_EXPORT int AgEvtLogAddSink(AgEvtLogSinkFn sink, void* context);
AG_SUITE_EXPORT void AgEvtLogRemoveSink(int sinkId);
}
