// Throughput of the RP task queue: one producer appends entries that two
// consumer threads take off, as the two task performers do. Each iteration
// moves a batch through the queue; the benchmark repeats and reports the
// median so that one noisy run on a shared machine does not decide.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "core/rpclcore/task_queue.h"

namespace {

constexpr uint64_t kBatch = 10'000;
constexpr uint32_t kCapacity = 200;

void BM_TaskQueueAppendAndRemove(benchmark::State& state) {
  const bool checkDuplicate = state.range(0) != 0;
  for (auto _ : state) {
    CTaskQueue queue;
    queue.create(kCapacity);
    std::atomic<uint64_t> taken{0};
    auto consume = [&] {
      TaskEntry entry{};
      while (queue.waitAndRemove(&entry)) taken.fetch_add(1, std::memory_order_relaxed);
    };
    std::thread a(consume);
    std::thread b(consume);
    for (uint64_t i = 0; i < kBatch; ++i) {
      // A full queue is the producer's cue to let the consumers run.
      while (!queue.append(TaskEntry{8, i}, checkDuplicate)) std::this_thread::yield();
    }
    while (taken.load(std::memory_order_relaxed) != kBatch) std::this_thread::yield();
    queue.shutdown();
    a.join();
    b.join();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatch));
}

BENCHMARK(BM_TaskQueueAppendAndRemove)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("checkDuplicate")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->DisplayAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
