// The task-performer pool and what it is given: the task queue, the
// performer's task table (what the server is sent for each task id), the
// uninstall task, the resend of pending records with their leases and its
// back-off while the server fails, and the core's notifications.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/agcore/core_state.h"
#include "core/casupp/pending_leases.h"
#include "core/casupp/pending_record_copy.h"
#include "core/casupp/pending_records.h"
#include "core/rpclcore/core_notification.h"
#include "core/rpclcore/heartbeat_followup.h"
#include "core/rpclcore/pending_send_backoff.h"
#include "core/siblings/client_store.h"
#include "platform/clock.h"
#include "platform/ini.h"
#include "platform/utf.h"
#include "tests/unit/tasks/pool_test_env.h"

namespace {

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

// The task queue's entries left at shutdown (waking consumers: every pool stop).
TEST(CTaskQueueTest, EntriesLeftAtShutdownAreDrainedNotHandedToConsumers) {
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(4));
  ASSERT_TRUE(queue.append({14, 0x1000}, true));
  ASSERT_TRUE(queue.shutdown());
  TaskEntry e{};
  EXPECT_FALSE(queue.waitAndRemove(&e));
  EXPECT_FALSE(queue.append({5, 0}, true));
  ASSERT_TRUE(queue.tryRemove(&e));
  EXPECT_EQ(e, (TaskEntry{14, 0x1000}));
  EXPECT_FALSE(queue.tryRemove(&e));
}

// The uninstall task acknowledges command 107 with the GUID it carries; an
// acknowledgement that cannot be sent is stored, with the uninstaller's failure.
TEST_F(PoolTest, UninstallTaskAcknowledgesCommand107AndStoresWhatCannotBeSent) {
  std::vector<uint32_t> sent;
  EXPECT_CALL(env.preinst, AGPreInstUninstall()).WillOnce(Return(0)).WillOnce(Return(1));
  EXPECT_CALL(env.rpClient, SendCommandAck(_, _))
      .WillOnce(Return(0))
      .WillOnce(Invoke([&](const CmdAck* ack, ServerResponse**) {
        sent = {ack->dwCmdId, ack->dwStatus, ack->byLeading, std::string(ack->szCmdGuid) == "cmd-guid"};
        return uint8_t{1};
      }));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(AddTaskWithBlockInQ(GetRpTaskQueue(), CS_CLIENT_TASKQ_UNINSTALL_CLIENT, strdup("cmd-guid")));
    WaitUntilIdle();
  }
  EXPECT_EQ(sent, (std::vector<uint32_t>{107, kCmdAckDone, 1, 1}));
  const auto stored = env.support.PendingInList(14);
  ASSERT_EQ(stored.size(), 1u);
  const auto ack = ParsePendingCommandAck(stored[0].data.data(), stored[0].data.size());
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->guid, "cmd-guid");
  EXPECT_EQ(ack->status, kCmdAckFailed);
}

// What the heartbeat's follow-up work does with a stored record: lease it and
// queue a heap copy.
static bool QueueStoredRecord(uint8_t taskId) {
  CLPendingTaskList* list = nullptr;
  if (!GetClientPendingTasks(&list) || list == nullptr || list->dwCount != 1) return false;
  void* block = CopyPendingRecord(list->pTasks[0].pData, list->pTasks[0].dwSize);
  RememberPendingLease(block, list->pTasks[0].qwRecordId);
  FreeClientPendingTasks(list);
  if (AddTaskWithBlockInQ(GetRpTaskQueue(), taskId, block)) return true;
  ReturnPendingLease(block);
  std::free(block);
  return false;
}

TEST_F(PoolTest, ResentNotificationCompletesItsLease) {
  const uint64_t id = env.support.AddPending(15, SerialisePendingNotification({28, 137, "{\"a\":1}"}));
  EXPECT_CALL(env.rpClient, SendNotification(28, 137, ::testing::StrEq("{\"a\":1}"), _)).WillOnce(Return(1));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  ASSERT_TRUE(QueueStoredRecord(CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION));
  WaitUntilIdle();
  EXPECT_TRUE(env.support.Pending().empty()) << id;
}

TEST_F(PoolTest, UnsentPendingAckIsStoredAgainAsANewRecord) {
  CmdAck ack{};
  ack.dwCmdId = 20;
  std::strcpy(ack.szCmdGuid, "g-20");
  ack.dwStatus = 1;
  char payload[] = "{\"r\":0}";
  ack.pszAckPayload = payload;
  const uint64_t id = env.support.AddPending(14, SerialisePendingCommandAck(ack));
  std::string sentPayload;
  std::string sentGuid;
  EXPECT_CALL(env.rpClient, SendCommandAck(_, _)).WillOnce(Invoke([&](const CmdAck* a, ServerResponse**) {
    sentPayload = a->pszAckPayload ? a->pszAckPayload : "";
    sentGuid = a->szCmdGuid;
    return uint8_t{0};
  }));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  ASSERT_TRUE(QueueStoredRecord(CS_CLIENT_TASKQ_SEND_PENDING_COMMAND_ACK));
  WaitUntilIdle();
  EXPECT_EQ(sentPayload, "{\"r\":0}");
  EXPECT_EQ(sentGuid, "g-20");
  const auto stored = env.support.Pending();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].id, id);
  EXPECT_FALSE(stored[0].leased);
}

class CoreNotificationTest : public PoolTest {
 protected:
  CoreNotificationTest() : scopedClock(&clock) {}
  ~CoreNotificationTest() override { GetCoreState().rpClient.Exchange(nullptr); }

  platform::ManualClock clock{1'700'000'000};
  platform::ScopedClock scopedClock;
};

TEST_F(CoreNotificationTest, PassiveEventsPostBitsToRegisteredThreads) {
  ASSERT_TRUE(RpRegisterThreadForPassiveNotification(nullptr));
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_CLIENT_UNREGISTER, 0), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_HEARTBEAT_INTERVAL_CHANGED, 0), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_REACTIVATE_CLIENT, 0), 1);
  uint32_t bits = 0;
  ASSERT_TRUE(RpGetThreadPassiveNotification(&bits));
  EXPECT_EQ(bits, 7u);
}

// Status 13 sends an empty OTP, kept in the store while there is no shared RP
// object; 14 without a stored OTP sends nothing.
TEST_F(CoreNotificationTest, OtpStatus13IsSentOrStoredAnd14WithoutStoredOtpSendsNothing) {
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_OTP_STATUS, 13), 1);
  const auto stored = env.support.PendingInList(15);
  ASSERT_EQ(stored.size(), 1u);
  const auto parsed = ParsePendingNotification(stored[0].data.data(), stored[0].data.size()).value();
  EXPECT_EQ(std::make_pair(parsed.kind, parsed.dataId), std::make_pair(29u, 144u));

  GetCoreState().rpClient.Exchange(&env.rpClient);
  EXPECT_CALL(env.rpClient,
              SendNotification(29, 144, ::testing::StrEq("{\"cdt\":1700000000000,\"otp\":\"\",\"scd\":0}\n"), _))
      .WillOnce(Return(1));
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_OTP_STATUS, 13), 1);
  EXPECT_EQ(NotifyClientCoreForRpTask(CA_NOTIFY_EVENT_ID_OTP_STATUS, 14), 1);
  EXPECT_EQ(env.support.Pending().size(), 1u);
}

struct TaskCase {
  const char* name;
  uint8_t taskId;
  uint32_t argument;
  std::vector<std::string> sent;  // the RP client's exchanges, in order
  std::set<std::string> failing;  // exchanges that fail on the wire
  bool installed = false;  // the installer's status file and result in the agent root
  int runs = 1;            // the task queued this many times
};

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

std::vector<uint64_t> AddPendingAcks(InMemorySupportLibrary& support, uint32_t count) {
  std::vector<uint64_t> ids;
  for (uint32_t i = 0; i < count; ++i) {
    CmdAck ack{};
    ack.dwCmdId = 57;
    std::snprintf(ack.szCmdGuid, sizeof(ack.szCmdGuid), "g-%u", i);
    ack.dwStatus = 1;
    ids.push_back(support.AddPending(14, SerialisePendingCommandAck(ack)));
  }
  return ids;
}

struct BackOffCase {
  const char* name;
  uint32_t pending;
  uint32_t heartbeats;
  bool serverAccepts;
  uint32_t sends;      // acknowledgement requests the server sees
  uint32_t untouched;  // original records still in the store, not leased
};

class PendingBackOff : public PoolTest, public ::testing::WithParamInterface<BackOffCase> {};

TEST_P(PendingBackOff, FailedResendsInARowLeaveTheRestOfTheBatchUntouched) {
  const BackOffCase& c = GetParam();
  const std::vector<uint64_t> ids = AddPendingAcks(env.support, c.pending);
  std::atomic<uint32_t> sends{0};
  EXPECT_CALL(env.rpClient, SendCommandAck(::testing::_, ::testing::_))
      .WillRepeatedly(::testing::Invoke([&](const CmdAck*, ServerResponse**) {
        ++sends;
        return static_cast<uint8_t>(c.serverAccepts ? 1 : 0);
      }));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  for (uint32_t beat = 0; beat < c.heartbeats; ++beat) {
    RequeuePendingTasks();
    WaitUntilIdle();
  }
  EXPECT_EQ(sends.load(), c.sends);
  const std::set<uint64_t> original(ids.begin(), ids.end());
  uint32_t untouched = 0;
  for (const auto& record : env.support.Pending()) {
    EXPECT_FALSE(record.leased);
    untouched += original.count(record.id) != 0 ? 1 : 0;
  }
  EXPECT_EQ(untouched, c.untouched);
  // A failed resend is stored again: nothing is lost.
  EXPECT_EQ(env.support.Pending().size(), c.serverAccepts ? 0u : c.pending);
}

INSTANTIATE_TEST_SUITE_P(
    Outages, PendingBackOff,
    ::testing::Values(BackOffCase{"ServerDownStopsAfterThree", 10, 1, false, kPendingSendFailureLimit, 7},
                      BackOffCase{"NextHeartbeatTriesThreeMore", 10, 2, false, 2 * kPendingSendFailureLimit, 4},
                      BackOffCase{"ServerUpSendsEverything", 10, 1, true, 10, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
