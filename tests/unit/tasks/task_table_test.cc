// The performer's task table, one queued task at a time: what the server is
// sent for each task id. A case mixed up, dropped or cut short in the table
// shows as a different list of exchanges.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/siblings/client_store.h"
#include "platform/clock.h"
#include "platform/ini.h"
#include "platform/utf.h"
#include "tests/unit/tasks/pool_test_env.h"

namespace {

using ::testing::_;
using ::testing::Invoke;

struct TaskCase {
  const char* name;
  uint8_t taskId;
  uint32_t argument;
  std::vector<std::string> sent;  // the RP client's exchanges, in order
  std::set<std::string> failing;  // exchanges that fail on the wire
  bool installed = false;  // the installer's status file and result in the agent root
  int runs = 1;            // the task queued this many times
};
void PrintTo(const TaskCase& c, std::ostream* os) { *os << c.name; }

class TaskTableTest : public PoolTest, public ::testing::WithParamInterface<TaskCase> {
 protected:
  TaskTableTest() : clockScope_(&clock) {
    ON_CALL(env.rpClient, SendNotification(_, _, _, _))
        .WillByDefault(Invoke([this](uint32_t kind, uint32_t id, const char*, ServerResponse**) {
          return Exchange("notification " + std::to_string(kind) + "/" + std::to_string(id));
        }));
    ON_CALL(env.rpClient, SetClientData(_, _, _, _))
        .WillByDefault(Invoke([this](const ClientDataRecord*, uint32_t id, ServerResponse**, uint8_t) {
          return Exchange("data " + std::to_string(id));
        }));
    ON_CALL(env.rpClient, SendCommandAck(_, _)).WillByDefault(Invoke([this](const CmdAck* ack, ServerResponse**) {
      return Exchange("ack " + std::to_string(ack->dwCmdId) + " " + ack->szCmdGuid);
    }));
    // An upgrade that finished: its command record and its result file.
    char16_t folder[260] = {};
    env.support.GetModulePathW(folder, 260);
    for (const auto& [recordId, file, guid] : {std::tuple{51u, u"SPResult.ini", "sp-guid"},
                                               std::tuple{52u, u"UPResult.ini", "up-guid"}}) {
      AgUpgradeCmdRecord record{};
      std::strcpy(record.szCmdGuid, guid);
      env.support.PutValue(recordId, record);
      platform::WritePrivateProfileStringW(u"UPGRD_RESULT_INFO", u"InstallResult", u"0",
                                           (std::u16string(folder) + file).c_str());
    }
  }

  uint8_t Exchange(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back(what);
    return GetParam().failing.count(what) != 0 ? 0 : 1;
  }
  std::vector<std::string> Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

  platform::ManualClock clock;

 private:
  platform::ScopedClock clockScope_;
  std::mutex mutex_;
  std::vector<std::string> sent_;  // guarded by mutex_
};

TEST_P(TaskTableTest, SendsWhatTheTaskStandsFor) {
  if (GetParam().installed) {
    // A finished installation whose result asks to be reported every time.
    char16_t root[260] = {};
    env.support.GetClientAgentRootDir(root, 260);
    std::ofstream(*platform::Utf16ToUtf8(root) + "INSTSTS.JSON") << R"({"app":1,"ecd":1})";
    std::ofstream(*platform::Utf16ToUtf8(root) + "agbldn.ini") << "[INSTALL]\nRESULT=1\n";
  }
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  for (int run = 0; run < GetParam().runs; ++run) {
    ASSERT_TRUE(AddTaskInQ(GetRpTaskQueue(), GetParam().argument, GetParam().taskId));
    WaitUntilIdle();
  }
  EXPECT_EQ(Sent(), GetParam().sent) << env.log.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, TaskTableTest,
    ::testing::Values(
        TaskCase{"PolicyFetch5", 5, 0, {"data 14"}, {}},
        TaskCase{"Reports7WithNoReportsSendNothing", 7, 0, {}, {}},
        TaskCase{"InstallationStatus8", 8, 44, {"notification 25/114"}, {}},
        // The install notification goes out once per installation, even when
        // the status task runs again.
        TaskCase{"InstalledProductIsAnnouncedOnce8", 8, 44,
                 {"notification 25/114", "notification 28/139", "notification 25/114"}, {}, true, 2},
        TaskCase{"DownloadInfo10", 10, 45, {"notification 27/45"}, {}},
        TaskCase{"DownloadUrls13", 13, 46, {"notification 28/46"}, {}},
        TaskCase{"RecoveryReports16WithNoReportsSendNothing", 16, 0, {}, {}},
        TaskCase{"SpUpgradeStatus116", 116, 0, {"ack 116 sp-guid"}, {}},
        TaskCase{"UpUpgradeStatus120", 120, 0, {"ack 117 up-guid"}, {}},
        TaskCase{"Disconnect30", 30, 30, {"notification 28/137", "notification 28/16"}, {}},
        TaskCase{"Disconnect30GoesOnAfterItsFirstSendFails", 30, 30,
                 {"notification 28/137", "notification 28/16"}, {"notification 28/137"}}),
    [](const ::testing::TestParamInfo<TaskCase>& info) { return std::string(info.param.name); });

}  // namespace
