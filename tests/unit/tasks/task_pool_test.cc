// The task-performer pool: the uninstall task, the resend of pending records
// with their leases, and a clean stop that loses nothing still queued.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/casupp/pending_leases.h"
#include "core/casupp/pending_record_copy.h"
#include "core/casupp/pending_records.h"
#include "core/siblings/client_store.h"
#include "tests/unit/tasks/pool_test_env.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

// The uninstall task acknowledges command 107 with the GUID it carries.
TEST_F(PoolTest, UninstallTaskAcknowledgesCommand107) {
  std::vector<uint32_t> sent;
  EXPECT_CALL(env.preinst, AGPreInstUninstall()).WillOnce(Return(1));
  EXPECT_CALL(env.rpClient, SendCommandAck(_, _)).WillOnce(Invoke([&](const CmdAck* ack, ServerResponse**) {
    sent = {ack->dwCmdId, ack->dwStatus, ack->byLeading, std::string(ack->szCmdGuid) == "cmd-guid"};
    return uint8_t{1};
  }));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  ASSERT_TRUE(AddTaskWithBlockInQ(GetRpTaskQueue(), CS_CLIENT_TASKQ_UNINSTALL_CLIENT, strdup("cmd-guid")));
  WaitUntilIdle();
  EXPECT_EQ(sent, (std::vector<uint32_t>{107, kCmdAckDone, 1, 1}));
  EXPECT_TRUE(env.support.Pending().empty());
}

TEST_F(PoolTest, UnsentUninstallAckIsStoredWithFailedStatus) {
  EXPECT_CALL(env.preinst, AGPreInstUninstall()).WillOnce(Return(0));
  EXPECT_CALL(env.rpClient, SendCommandAck(_, _)).WillOnce(Return(0));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  ASSERT_TRUE(AddTaskWithBlockInQ(GetRpTaskQueue(), CS_CLIENT_TASKQ_UNINSTALL_CLIENT, strdup("cmd-guid")));
  WaitUntilIdle();
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

TEST_F(PoolTest, StopReleasesQueuedBlocksAndReturnsTheirLeases) {
  Gate gate;
  EXPECT_CALL(env.preinst, AGPreInstUninstall()).Times(2).WillRepeatedly(Invoke([&] {
    gate.Wait();
    return uint8_t{1};
  }));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  // Both performers busy, so the next entry stays queued.
  ASSERT_TRUE(AddTaskInQ(GetRpTaskQueue(), 0, CS_CLIENT_TASKQ_UNINSTALL_CLIENT_SILENTLY));
  ASSERT_TRUE(AddTaskInQ(GetRpTaskQueue(), 1, CS_CLIENT_TASKQ_UNINSTALL_CLIENT_SILENTLY));
  gate.WaitForWaiting(2);
  env.support.AddPending(15, SerialisePendingNotification({28, 16, "{}"}));
  ASSERT_TRUE(QueueStoredRecord(CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION));
  EXPECT_EQ(env.support.LeasedCount(), 1u);

  std::thread stopper([] { StopRpTaskPerformerThreadPool(); });
  while (env.support.LeasedCount() != 0) std::this_thread::yield();
  gate.Open();
  stopper.join();
  // Kept, unleased, for the next heartbeat to queue again.
  ASSERT_EQ(env.support.PendingInList(15).size(), 1u);
  EXPECT_FALSE(env.support.PendingInList(15)[0].leased);
}
