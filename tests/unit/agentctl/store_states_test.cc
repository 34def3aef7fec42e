// agentctl status and pending against stores written by the real support
// library: one table of store states, each with the status lines a person
// sees, the exit code, and the store's bytes unchanged by the reading.
#include <agsuite/agmisc.h>
#include <agsuite/agmisc_attempts.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
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
#include "tests/unit/mocks/scratch_folder.h"
#include "status_report.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kEnrolledAt = 1'800'000'000;
constexpr int64_t kNow = kEnrolledAt + 3600;

// Size and hash of the store and its WAL: the bytes of the agent's data. Of
// the shared-memory index (-shm) only its presence counts: every reader marks
// its place there.
std::map<std::string, std::pair<size_t, size_t>> DataFiles(const std::string& root) {
  std::map<std::string, std::pair<size_t, size_t>> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root + "data", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with("-shm")) {
      files[name] = {0, 0};
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    files[name] = {bytes.size(), std::hash<std::string>{}(bytes)};
  }
  return files;
}

// The core's own stores, through the library's C interface at `when`.
class Agent {
 public:
  explicit Agent(platform::ManualClock* clock) : clock_(clock) {}

  void At(int64_t when) { clock_->SetNowSeconds(when); }
  void Enrol() {
    At(kEnrolledAt);
    ASSERT_EQ(SetClientGUID("6f1c2a70-guid-4a1e"), 1);
    ASSERT_EQ(SetClientUDI("udi-0042"), 1);
    ASSERT_EQ(SetClientRegStatus(3, 0), 1);
    ASSERT_EQ(SetClientConnectionStatus(1), 1);
    Put(DB_ID_CLIENT_HEARTBEAT_INTERVAL, uint32_t{5});
    ASSERT_EQ(SetLastConnectedTime(static_cast<uint64_t>(kNow - 180)), 1);
    ASSERT_EQ(SetLastAttemptTime(static_cast<uint64_t>(kNow - 60)), 1);
  }
  void Ack(int64_t when, uint32_t command, const char* guid) {
    At(when);
    CmdAck ack{};
    ack.dwCmdId = command;
    std::strncpy(ack.szCmdGuid, guid, sizeof(ack.szCmdGuid) - 1);
    ack.dwStatus = 1;
    Pend(CL_PENDING_LIST_COMMAND_ACK, SerialisePendingCommandAck(ack));
  }
  void Notify(int64_t when, uint32_t kind) {
    At(when);
    Pend(CL_PENDING_LIST_CLIENT_NOTIFICATION, SerialisePendingNotification({kind, 118, "{}"}));
  }

 private:
  template <typename T>
  void Put(uint32_t id, T value) {
    CLDBHANDLE db = nullptr;
    ASSERT_EQ(CLOpenDatabase(&db), 1);
    EXPECT_EQ(CLSetDataByType(db, id, CL_DATA_TYPE_BLOB, sizeof(value), &value), 1);
    CLCloseDatabase(db);
  }
  void Pend(uint32_t list, const std::vector<uint8_t>& block) {
    CLDBHANDLE db = nullptr;
    ASSERT_EQ(CLOpenDatabase(&db), 1);
    EXPECT_EQ(CLSetPendingCommand(db, list, CL_DATA_TYPE_BLOB, static_cast<uint32_t>(block.size()), block.data()), 1);
    CLCloseDatabase(db);
  }
  platform::ManualClock* clock_;
};

// The library keeps idle connections to its store open; using a store under
// another root closes them, as stopping the agent does.
void CloseIdleConnections(const std::string& root) {
  const std::string elsewhere = root + "elsewhere/";
  ASSERT_EQ(AGMiscSetAgentRoot(elsewhere.c_str()), 1);
  CLDBHANDLE db = nullptr;
  ASSERT_EQ(CLOpenDatabase(&db), 1);
  CLCloseDatabase(db);
  ASSERT_EQ(AGMiscSetAgentRoot(root.c_str()), 1);
}

// A second connection standing for an agent in the middle of a write. Its
// lock lasts until the object goes.
class Writer {
 public:
  Writer(const std::string& path, bool exclusive) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    if (exclusive) Run("PRAGMA locking_mode=EXCLUSIVE");
    Run(exclusive ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE");
    Run("UPDATE client_values SET data = CAST('uncommitted' AS BLOB) WHERE name = 'client_guid'");
  }
  ~Writer() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

 private:
  void Run(const char* sql) { EXPECT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql; }
  sqlite3* db_ = nullptr;
};

struct StoreCase {
  const char* name;
  std::function<void(Agent&, const std::string& root)> prepare;
  // Held while agentctl reads (a writer's lock); may be empty.
  std::function<std::unique_ptr<Writer>(const std::string& store)> during;
  int exit_code;
  std::vector<std::string> lines;  // each must appear in the text output
  std::vector<std::string> absent;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A store as the first version of the library left it: no time on pending
// records. Holds one acknowledgement.
void WriteVersionOneStore(const std::string& root) {
  fs::create_directories(root + "data");
  sqlite3* db = nullptr;
  sqlite3_open((root + "data/agclient.db").c_str(), &db);
  EXPECT_EQ(sqlite3_exec(db,
                         "PRAGMA journal_mode=WAL;"
                         "CREATE TABLE entries(id INTEGER PRIMARY KEY, type INTEGER NOT NULL, data BLOB NOT NULL);"
                         "CREATE TABLE pending(record_id INTEGER PRIMARY KEY AUTOINCREMENT, list INTEGER NOT NULL,"
                         "  type INTEGER NOT NULL, data BLOB NOT NULL, lease_owner TEXT);"
                         "CREATE TABLE events(event_id INTEGER PRIMARY KEY, frequency INTEGER NOT NULL,"
                         "  last_sync INTEGER NOT NULL);"
                         "CREATE TABLE client_values(name TEXT PRIMARY KEY, data BLOB NOT NULL);"
                         "PRAGMA user_version=1;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  CmdAck ack{};
  ack.dwCmdId = 7;
  const std::vector<uint8_t> block = SerialisePendingCommandAck(ack);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO pending(list, type, data) VALUES(14, 3, ?1)", -1, &insert, nullptr);
  sqlite3_bind_blob(insert, 1, block.data(), static_cast<int>(block.size()), SQLITE_STATIC);
  EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
  sqlite3_finalize(insert);
  sqlite3_close(db);
}

const StoreCase kCases[] = {
    {"NeverStarted", [](Agent&, const std::string&) {}, nullptr, agentctl::kExitMissing,
     {"not running", "no client data store at "},
     {"Server registration"}},
    {"NotADatabase",
     [](Agent&, const std::string& root) { WriteFile(root + "data/agclient.db", std::string(4096, 'x')); },
     nullptr, agentctl::kExitDamaged, {"cannot be read: file is not a database"}, {"Client GUID"}},
    {"OtherSqliteFile",
     [](Agent&, const std::string& root) {
       fs::create_directories(root + "data");
       sqlite3* db = nullptr;
       sqlite3_open((root + "data/agclient.db").c_str(), &db);
       sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
       sqlite3_close(db);
     },
     nullptr, agentctl::kExitDamaged, {"is a SQLite file, but not a client data store"}, {}},
    {"OpenedButNotEnrolled",
     [](Agent&, const std::string&) {
       CLDBHANDLE db = nullptr;
       ASSERT_EQ(CLOpenDatabase(&db), 1);
       CLCloseDatabase(db);
     },
     nullptr, agentctl::kExitOk,
     {"Server registration    not registered", "Client GUID            none yet", "Last contact           never",
      "Pending acks           none"},
     {}},
    {"Enrolled", [](Agent& agent, const std::string&) { agent.Enrol(); }, nullptr, agentctl::kExitOk,
     {"Server registration    registered", "Relay registration     not registered",
      "Client GUID            6f1c2a70-guid-4a1e", "Device id (UDI)        udi-0042", "Heartbeat interval     5 min",
      "Last contact           2027-01-15 08:57:00 UTC (3 min ago)", "Last attempt           2027-01-15 08:59:00 UTC (1 min ago)",
      "Connection             direct to the server", "Pending acks           none", "Pending notifications  none"},
     {}},
    {"PendingInBothLists",
     [](Agent& agent, const std::string&) {
       agent.Enrol();
       agent.Ack(kNow - 600, 49, "cmd-guid-1");
       agent.Notify(kNow - 120, 2);
       agent.Ack(kNow - 30, 1, "cmd-guid-2");
     },
     nullptr, agentctl::kExitOk,
     {"Pending acks           2 (oldest 10 min ago)", "Pending notifications  1 (oldest 2 min ago)"}, {}},
    {"WrittenByTheFirstVersion", [](Agent&, const std::string& root) { WriteVersionOneStore(root); }, nullptr,
     agentctl::kExitOk, {"Pending acks           1\n"}, {"oldest"}},
    {"FirstVersionUpgradedByTheLibrary",
     [](Agent& agent, const std::string& root) {
       WriteVersionOneStore(root);
       agent.Ack(kNow - 300, 49, "cmd-guid-1");
     },
     nullptr, agentctl::kExitOk, {"Pending acks           2 (oldest 5 min ago)"}, {}},
    {"WriterHoldsTheWriteLock", [](Agent& agent, const std::string&) { agent.Enrol(); },
     [](const std::string& store) { return std::make_unique<Writer>(store, false); }, agentctl::kExitOk,
     {"Server registration    registered", "Client GUID            6f1c2a70-guid-4a1e"}, {"uncommitted"}},
    // Another program (a copy or backup tool) holding the file for itself
    // while the agent is stopped.
    {"OtherProgramHoldsTheFileExclusively",
     [](Agent& agent, const std::string& root) {
       agent.Enrol();
       CloseIdleConnections(root);
     },
     [](const std::string& store) { return std::make_unique<Writer>(store, true); }, agentctl::kExitBusy,
     {"is locked by another process (still locked after 250 ms); try again"}, {"Client GUID"}},
};

void PrintTo(const StoreCase& c, std::ostream* out) { *out << c.name; }

class StoreStateTest : public ::testing::TestWithParam<StoreCase> {
 protected:
  void SetUp() override {
    ASSERT_EQ(AGMiscSetAgentRoot(root_.c_str()), 1);
    fs::create_directories(root_ + "machine");
  }

  test_support::ScratchFolder folder_{"agentctl-"};
  std::string root_ = folder_.path() + "/";
  platform::ManualClock clock_{kEnrolledAt};
  platform::ScopedClock scoped_clock_{&clock_};
};

TEST_P(StoreStateTest, StatusShowsTheStoreStateAndLeavesItsBytesAlone) {
  const StoreCase& c = GetParam();
  Agent agent(&clock_);
  c.prepare(agent, root_);
  const std::string store = agentctl::StorePathOf(root_);
  const auto writer = c.during ? c.during(store) : nullptr;
  const auto before = DataFiles(root_);

  agentctl::StatusSources sources;
  sources.agent_root = root_;
  sources.machine_root = root_ + "machine";
  const auto started = std::chrono::steady_clock::now();
  const agentctl::AgentStatus status = agentctl::CollectStatus(sources);
  const auto waited = std::chrono::steady_clock::now() - started;
  const std::string text = agentctl::StatusText(status, kNow);

  EXPECT_EQ(agentctl::ExitCodeFor(status.store.state), c.exit_code) << text;
  for (const auto& line : c.lines) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  for (const auto& word : c.absent) EXPECT_EQ(text.find(word), std::string::npos) << word << "\n" << text;
  // The JSON document says the same.
  const Json::Value json = agentctl::StatusJson(status, kNow);
  EXPECT_EQ(json["store"]["message"].asString(), status.store.message);
  EXPECT_EQ(json["store"]["state"].asString() == "read", c.exit_code == agentctl::kExitOk);
  // Bounded: a locked store costs the busy wait, never the writer's whole transaction.
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(DataFiles(root_), before);
  if (before.empty()) {
    EXPECT_FALSE(fs::exists(store));
  }
}

INSTANTIATE_TEST_SUITE_P(StoreStates, StoreStateTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class PendingListTest : public StoreStateTest {};

TEST_F(PendingListTest, ListsEveryRecordWithItsListKindGuidAgeAndLease) {
  Agent agent(&clock_);
  agent.Ack(kNow - 600, 49, "cmd-guid-1");
  agent.Notify(kNow - 120, 2);
  // A lease taken by this process, as a task performer would.
  CLDBHANDLE db = nullptr;
  ASSERT_EQ(CLOpenDatabase(&db), 1);
  CLPendingTaskList* leased = nullptr;
  ASSERT_EQ(CLGetPendingTasks(db, &leased), 1);
  CLFreePendingTasks(leased);
  CLCloseDatabase(db);
  agent.Ack(kNow - 30, 1, "cmd-guid-2");

  const agentctl::StoreReading reading = agentctl::ReadStore(agentctl::StorePathOf(root_));
  ASSERT_EQ(reading.state, agentctl::StoreState::kRead) << reading.message;
  const std::string pid = "pid " + std::to_string(::getpid());
  EXPECT_EQ(agentctl::PendingText(reading.snapshot.pending, kNow),
            "LIST          ID  KIND                  GUID        AGE         LEASE\n"
            "ack           1   command 49, status 1  cmd-guid-1  10 min ago  " + pid + "\n"
            "notification  2   kind 2, data 118      -           2 min ago   " + pid + "\n"
            "ack           3   command 1, status 1   cmd-guid-2  30 s ago    none\n");
  const Json::Value json = agentctl::PendingJson(reading.snapshot.pending, kNow);
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[0]["guid"].asString(), "cmd-guid-1");
  EXPECT_EQ(json[0]["ageSeconds"].asInt64(), 600);
  EXPECT_EQ(json[0]["leasePid"].asInt(), ::getpid());
  EXPECT_TRUE(json[1]["guid"].isNull());
  EXPECT_TRUE(json[2]["leaseOwner"].isNull());
}

}  // namespace
