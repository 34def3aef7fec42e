// agentctl status and pending against stores written by the real support
// library: the store states a person meets, each with the status lines shown,
// the exit code, and the store's bytes unchanged by the reading.
#include <agsuite/agmisc.h>
#include <agsuite/agmisc_attempts.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "agent_status.h"
#include "core/casupp/pending_records.h"
#include "core/siblings/client_store.h"
#include "exit_codes.h"
#include "pending_view.h"
#include "platform/clock.h"
#include "status_report.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kEnrolledAt = 1'800'000'000;
constexpr int64_t kNow = kEnrolledAt + 3600;

// Size and hash of the store and its WAL: the bytes of the agent's data. Of
// the shared-memory index (-shm) only its presence counts: every reader marks
// its place there.
std::map<std::string, size_t> DataFiles(const std::string& root) {
  std::map<std::string, size_t> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root + "data", ec)) {
    const std::string name = entry.path().filename().string();
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    files[name] = name.ends_with("-shm") ? 0 : std::hash<std::string>{}(bytes) ^ bytes.size();
  }
  return files;
}

// The core's own pending records, through the library's C interface at `when`.
void Pend(platform::ManualClock& clock, int64_t when, uint32_t list, const std::vector<uint8_t>& block) {
  clock.SetNowSeconds(when);
  CLDBHANDLE db = nullptr;
  ASSERT_EQ(CLOpenDatabase(&db), 1);
  EXPECT_EQ(CLSetPendingCommand(db, list, CL_DATA_TYPE_BLOB, static_cast<uint32_t>(block.size()), block.data()), 1);
  CLCloseDatabase(db);
}
void PendAck(platform::ManualClock& clock, int64_t when, uint32_t command, const char* guid) {
  CmdAck ack{};
  ack.dwCmdId = command;
  std::strncpy(ack.szCmdGuid, guid, sizeof(ack.szCmdGuid) - 1);
  ack.dwStatus = 1;
  Pend(clock, when, CL_PENDING_LIST_COMMAND_ACK, SerialisePendingCommandAck(ack));
}
void PendNotification(platform::ManualClock& clock, int64_t when, uint32_t kind) {
  Pend(clock, when, CL_PENDING_LIST_CLIENT_NOTIFICATION, SerialisePendingNotification({kind, 118, "{}"}));
}
void Enrol(platform::ManualClock& clock) {
  clock.SetNowSeconds(kEnrolledAt);
  ASSERT_EQ(SetClientGUID("6f1c2a70-guid-4a1e"), 1);
  ASSERT_EQ(SetClientUDI("udi-0042"), 1);
  ASSERT_EQ(SetClientRegStatus(3, 0), 1);
  ASSERT_EQ(SetClientConnectionStatus(1), 1);
  ASSERT_EQ(SetLastConnectedTime(static_cast<uint64_t>(kNow - 180)), 1);
}

// A second connection in the middle of a write: the agent's own, or a copy
// or backup tool holding the file for itself. Its lock lasts until the
// object goes.
struct Writer {
  Writer(const std::string& path, bool exclusive) {
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const std::string sql = std::string(exclusive ? "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;" : "BEGIN;") +
                            "UPDATE client_values SET data = CAST('uncommitted' AS BLOB) WHERE name = 'client_guid'";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  }
  ~Writer() {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
  }
  sqlite3* db = nullptr;
};

struct StoreCase {
  const char* name;
  std::function<void(platform::ManualClock&, const std::string& root)> prepare;
  int writer;  // 0: none, 1: the agent writing, 2: another program holding the file exclusively
  int exit_code;
  std::vector<std::string> lines;  // each must appear in the text output
};

const StoreCase kCases[] = {
    {"NeverStarted", [](platform::ManualClock&, const std::string&) {}, 0, agentctl::kExitMissing,
     {"not running", "no client data store at "}},
    {"NotADatabase",
     [](platform::ManualClock&, const std::string& root) {
       fs::create_directories(root + "data");
       std::ofstream(root + "data/agclient.db", std::ios::binary) << std::string(4096, 'x');
     },
     0, agentctl::kExitDamaged, {"cannot be read: file is not a database"}},
    {"EnrolledWithPendingRecords",
     [](platform::ManualClock& clock, const std::string&) {
       Enrol(clock);
       PendAck(clock, kNow - 600, 49, "cmd-guid-1");
       PendNotification(clock, kNow - 120, 2);
     },
     0, agentctl::kExitOk,
     {"Server registration    registered", "Client GUID            6f1c2a70-guid-4a1e",
      "Device id (UDI)        udi-0042", "Last contact           2027-01-15 08:57:00 UTC (3 min ago)",
      "Connection             direct to the server", "Pending acks           1 (oldest 10 min ago)",
      "Pending notifications  1 (oldest 2 min ago)"}},
    {"AgentInTheMiddleOfAWrite", [](platform::ManualClock& clock, const std::string&) { Enrol(clock); }, 1,
     agentctl::kExitOk, {"Client GUID            6f1c2a70-guid-4a1e"}},
    // Another program while the agent is stopped: the library's idle
    // connections go first, as a stop closes them.
    {"OtherProgramHoldsTheFileExclusively",
     [](platform::ManualClock& clock, const std::string& root) {
       Enrol(clock);
       ASSERT_EQ(AGMiscSetAgentRoot((root + "elsewhere/").c_str()), 1);
       CLDBHANDLE db = nullptr;
       ASSERT_EQ(CLOpenDatabase(&db), 1);
       CLCloseDatabase(db);
       ASSERT_EQ(AGMiscSetAgentRoot(root.c_str()), 1);
     },
     2, agentctl::kExitBusy, {"is locked by another process (still locked after 250 ms); try again"}},
};

class StoreStateTest : public ::testing::TestWithParam<StoreCase> {
 protected:
  void SetUp() override { ASSERT_EQ(AGMiscSetAgentRoot(root_.c_str()), 1); }

  test_support::ScratchFolder folder_{"agentctl-"};
  std::string root_ = folder_.path() + "/";
  platform::ManualClock clock_{kEnrolledAt};
  platform::ScopedClock scoped_clock_{&clock_};
};

TEST_P(StoreStateTest, StatusShowsTheStoreStateAndLeavesItsBytesAlone) {
  const StoreCase& c = GetParam();
  c.prepare(clock_, root_);
  const std::string store = agentctl::StorePathOf(root_);
  const auto writer = c.writer != 0 ? std::make_unique<Writer>(store, c.writer == 2) : nullptr;
  const auto before = DataFiles(root_);

  agentctl::StatusSources sources;
  sources.agent_root = root_;
  sources.machine_root = root_ + "machine";
  const agentctl::AgentStatus status = agentctl::CollectStatus(sources);
  const std::string text = agentctl::StatusText(status, kNow);

  EXPECT_EQ(agentctl::ExitCodeFor(status.store.state), c.exit_code) << text;
  for (const auto& line : c.lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  EXPECT_EQ(text.find("uncommitted"), std::string::npos) << text;
  EXPECT_EQ(agentctl::StatusJson(status, kNow)["store"]["message"].asString(), status.store.message);
  EXPECT_EQ(DataFiles(root_), before);
  EXPECT_EQ(fs::exists(store), !before.empty());
}

INSTANTIATE_TEST_SUITE_P(StoreStates, StoreStateTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class PendingListTest : public StoreStateTest {};

TEST_F(PendingListTest, ListsEveryRecordWithItsListKindGuidAgeAndLease) {
  PendAck(clock_, kNow - 600, 49, "cmd-guid-1");
  PendNotification(clock_, kNow - 120, 2);
  // A lease taken by this process, as a task performer would.
  CLDBHANDLE db = nullptr;
  ASSERT_EQ(CLOpenDatabase(&db), 1);
  CLPendingTaskList* leased = nullptr;
  ASSERT_EQ(CLGetPendingTasks(db, &leased), 1);
  CLFreePendingTasks(leased);
  CLCloseDatabase(db);
  PendAck(clock_, kNow - 30, 1, "cmd-guid-2");

  const agentctl::StoreReading reading = agentctl::ReadStore(agentctl::StorePathOf(root_));
  ASSERT_EQ(reading.state, agentctl::StoreState::kRead) << reading.message;
  const std::string pid = "pid " + std::to_string(::getpid());
  EXPECT_EQ(agentctl::PendingText(reading.snapshot.pending, kNow),
            "LIST          ID  KIND                  GUID        AGE         LEASE\n"
            "ack           1   command 49, status 1  cmd-guid-1  10 min ago  " + pid + "\n"
            "notification  2   kind 2, data 118      -           2 min ago   " + pid + "\n"
            "ack           3   command 1, status 1   cmd-guid-2  30 s ago    none\n");
}

}  // namespace
