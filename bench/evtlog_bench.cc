// Cost of one line through the event log into its file sink, as the core's
// threads pay it on every AGLOG; and, for comparison, a line filtered out by
// the maximum level and a line through the UTF-16 twin. Each benchmark
// reports the median (and mean, spread) of its repetitions.
#include <agsuite/agevtlog.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

class FileSinkScope {
 public:
  FileSinkScope() {
    folder_ = std::filesystem::temp_directory_path() / ("evtlog_bench_" + std::to_string(::getpid()));
    // Rotation is part of the cost in service: 10 MiB files, 5 kept.
    ok_ = AgEvtLogOpenFile(folder_.c_str(), "bench.log", 10ull << 20, 5) == 1;
    AgEvtLogSetMaxLevel(AG_LOG_PROGRESS);
  }
  ~FileSinkScope() {
    AgEvtLogCloseFile();
    std::filesystem::remove_all(folder_);
  }
  [[nodiscard]] bool ok() const { return ok_; }

 private:
  std::filesystem::path folder_;
  bool ok_ = false;
};

void BM_LineToFile(benchmark::State& state) {
  FileSinkScope sink;
  if (!sink.ok()) {
    state.SkipWithError("cannot open the log file");
    return;
  }
  int n = 0;
  for (auto _ : state) {
    AgEvtLogWrite(AG_LOG_PROGRESS, "agcore.dll", "RpClientHeartbeatThread", __FILE__, __LINE__,
                  "Heartbeat sent, next in %u minutes (cycle %d)", 5u, ++n);
  }
  state.SetItemsProcessed(state.iterations());
}
// Nine repetitions; the aggregates include the median, the figure to compare
// between runs (the mean suffers from the odd disk stall).
BENCHMARK(BM_LineToFile)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_WideLineToFile(benchmark::State& state) {
  FileSinkScope sink;
  if (!sink.ok()) {
    state.SkipWithError("cannot open the log file");
    return;
  }
  for (auto _ : state) {
    AgEvtLogWriteW(AG_LOG_PROGRESS, "agcore.dll", "CheckAndSendAfterMinorRebootNotification", __FILE__, __LINE__,
                   u"RebootIni File Path(%s)", u"/opt/vornex/reboot.ini");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WideLineToFile)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_LineFilteredByLevel(benchmark::State& state) {
  FileSinkScope sink;
  for (auto _ : state) {
    AgEvtLogWrite(AG_LOG_VERBOSE, "agcore.dll", "GenerateAndSendStatusForReq", __FILE__, __LINE__, "payload %s",
                  "{\"state\":1}");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LineFilteredByLevel)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace
