// Speed of the client data store through libagmisc's C interface, used the
// way the core uses it (open / one operation / close per call):
//   - reading and writing a 16-byte entry (a status digest);
//   - storing 1,000 pending records, and leasing them all back.
// The store lives in a fresh agent root under the temporary folder, so the
// numbers include the durable commit (fsync) of every write.
#include <agsuite/agmisc.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class BenchRoot {
 public:
  BenchRoot() {
    path_ = (std::filesystem::temp_directory_path() / "agmisc-bench-XXXXXX").string();
    if (::mkdtemp(path_.data()) == nullptr) std::abort();
    AGMiscSetAgentRoot(path_.c_str());
  }
  ~BenchRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

 private:
  std::string path_;
};

BenchRoot& Root() {
  static BenchRoot root;
  return root;
}

constexpr uint32_t kDigestId = 42;
constexpr int kPendingRecords = 1000;

void SetEntry16(benchmark::State& state) {
  Root();
  std::array<uint8_t, 16> digest{};
  for (auto _ : state) {
    digest[0]++;
    CLDBHANDLE db = nullptr;
    if (!CLOpenDatabase(&db) || !CLSetDataByType(db, kDigestId, CL_DATA_TYPE_BLOB, digest.size(), digest.data())) {
      state.SkipWithError("store write failed");
    }
    CLCloseDatabase(db);
  }
}

void GetEntry16(benchmark::State& state) {
  Root();
  std::array<uint8_t, 16> digest{};
  CLDBHANDLE db = nullptr;
  CLOpenDatabase(&db);
  CLSetDataByType(db, kDigestId, CL_DATA_TYPE_BLOB, digest.size(), digest.data());
  CLCloseDatabase(db);
  for (auto _ : state) {
    if (!CLOpenDatabase(&db) || !CLGetDataByType(db, kDigestId, CL_DATA_TYPE_BLOB, digest.size(), digest.data())) {
      state.SkipWithError("store read failed");
    }
    CLCloseDatabase(db);
    benchmark::DoNotOptimize(digest);
  }
}

// A pending acknowledgement of typical size (114-byte header + payload).
std::vector<uint8_t> PendingRecord(int i) {
  std::vector<uint8_t> record(114 + 200, static_cast<uint8_t>(i));
  return record;
}

void StorePending(int count) {
  for (int i = 0; i < count; ++i) {
    const auto record = PendingRecord(i);
    CLDBHANDLE db = nullptr;
    CLOpenDatabase(&db);
    CLSetPendingCommand(db, 14 + i % 2, CL_DATA_TYPE_BLOB, record.size(), record.data());
    CLCloseDatabase(db);
  }
}

// Leases every record that is not leased yet; returns their ids.
std::vector<uint64_t> LeaseAll() {
  std::vector<uint64_t> ids;
  CLDBHANDLE db = nullptr;
  CLOpenDatabase(&db);
  CLPendingTaskList* list = nullptr;
  if (CLGetPendingTasks(db, &list) && list != nullptr) {
    for (uint32_t i = 0; i < list->dwCount; ++i) ids.push_back(list->pTasks[i].qwRecordId);
    CLFreePendingTasks(list);
  }
  CLCloseDatabase(db);
  return ids;
}

void CompleteAll(const std::vector<uint64_t>& ids) {
  CLDBHANDLE db = nullptr;
  CLOpenDatabase(&db);
  for (const uint64_t id : ids) CLCompletePendingTask(db, id);
  CLCloseDatabase(db);
}

void StoreThousandPending(benchmark::State& state) {
  Root();
  for (auto _ : state) {
    StorePending(kPendingRecords);
    state.PauseTiming();
    CompleteAll(LeaseAll());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kPendingRecords);
}

void LeaseThousandPending(benchmark::State& state) {
  Root();
  for (auto _ : state) {
    state.PauseTiming();
    StorePending(kPendingRecords);
    state.ResumeTiming();
    const std::vector<uint64_t> ids = LeaseAll();
    state.PauseTiming();
    if (ids.size() != kPendingRecords) state.SkipWithError("records missing");
    CompleteAll(ids);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kPendingRecords);
}

BENCHMARK(SetEntry16)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(GetEntry16)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(StoreThousandPending)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(LeaseThousandPending)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
