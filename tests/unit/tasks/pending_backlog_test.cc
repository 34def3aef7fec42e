// A backlog of pending records: each heartbeat leases only what the task
// queue can take, and while the server fails the resends the performers give
// up on the batch after a few failures in a row, leaving the rest in the
// store as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "core/casupp/pending_leases.h"
#include "core/casupp/pending_records.h"
#include "core/rpclcore/heartbeat_followup.h"
#include "core/rpclcore/pending_send_backoff.h"
#include "tests/unit/tasks/pool_test_env.h"

namespace {

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

struct LeaseCase {
  const char* name;
  uint32_t pending;
  uint32_t capacity;
  uint32_t alreadyQueued;
  uint32_t leased;  // the oldest ones
};

class PendingLease : public PoolTest, public ::testing::WithParamInterface<LeaseCase> {};

TEST_P(PendingLease, TakesOnlyWhatTheQueueHasRoomFor) {
  const LeaseCase& c = GetParam();
  const std::vector<uint64_t> ids = AddPendingAcks(env.support, c.pending);
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(c.capacity));
  for (uint32_t i = 0; i < c.alreadyQueued; ++i) {
    ASSERT_TRUE(queue.append({CS_CLIENT_TASKQ_FETCH_AND_APPLY_POLICY, i}, true));
  }

  RequeuePendingTasksInto(&queue);

  EXPECT_EQ(queue.count(), c.alreadyQueued + c.leased);
  EXPECT_EQ(env.support.Pending().size(), c.pending);  // nothing completed, nothing added
  for (const auto& record : env.support.Pending()) {
    const bool oldest = record.id < ids[0] + c.leased;
    EXPECT_EQ(record.leased, oldest) << record.id;
  }
  TaskEntry entry{};
  while (queue.tryRemove(&entry)) {
    if (entry.taskId != CS_CLIENT_TASKQ_SEND_PENDING_COMMAND_ACK) continue;
    void* block = reinterpret_cast<void*>(static_cast<uintptr_t>(entry.argument));
    ReturnPendingLease(block);
    std::free(block);
  }
}

INSTANTIATE_TEST_SUITE_P(Backlogs, PendingLease,
                         ::testing::Values(LeaseCase{"MoreThanTheQueueHolds", 250, 200, 0, 200},
                                           LeaseCase{"PartlyFullQueue", 10, 8, 5, 3},
                                           LeaseCase{"FullQueue", 4, 4, 4, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

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
