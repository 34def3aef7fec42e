// The task-performer pool across a clean-up and with performers that could
// not make their RP object: a closed pool stays stopped, a dead pool comes
// back, and a reactivation posted while one is being acted on is not lost.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/casupp/pending_records.h"
#include "core/rpclcore/heartbeat_followup.h"
#include "tests/unit/tasks/pool_test_env.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgPointee;

TEST_F(PoolTest, APoolClosedByCleanUpIsNotStartedAgainByTheHeartbeatThread) {
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  ASSERT_TRUE(StopRpTaskPerformerThreadPool(PoolStop::kClose));
  // The heartbeat thread finishing its set-up after clean-up's stop.
  EXPECT_FALSE(StartRpTaskPerformerThreadPool(PoolStart::kUnlessClosed));
  EXPECT_EQ(GetRpTaskQueue(), nullptr);
  // The next start-up opens it again.
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  EXPECT_NE(GetRpTaskQueue(), nullptr);
  EXPECT_TRUE(StartRpTaskPerformerThreadPool(PoolStart::kUnlessClosed));
}

TEST_F(PoolTest, PerformersWithoutRpObjectsHandRecordsBackAndComeBackOnceTheObjectCanBeMade) {
  std::atomic<bool> tenantReadable{false};
  ON_CALL(env.transport, CreateRPClientObject(_, _, _, _))
      .WillByDefault(Invoke([&](ICSClient*, IRPClient** out, uint32_t*, uint8_t) {
        if (!tenantReadable) return uint8_t{0};
        *out = &env.rpClient;
        return uint8_t{1};
      }));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  WaitUntilIdle();

  // Neither performer can send: the record is handed back, not kept leased.
  env.support.AddPending(15, SerialisePendingNotification({28, 137, "{\"a\":1}"}));
  RequeuePendingTasks();
  WaitUntilIdle();
  ASSERT_EQ(env.support.PendingInList(15).size(), 1u);
  EXPECT_FALSE(env.support.PendingInList(15)[0].leased);

  tenantReadable = true;
  EXPECT_CALL(env.rpClient, SendNotification(28, 137, ::testing::StrEq("{\"a\":1}"), _)).WillOnce(Return(1));
  RequeuePendingTasks();
  WaitUntilIdle();
  EXPECT_TRUE(env.support.Pending().empty());
}

TEST_F(PoolTest, AReactivationPostedWhileTheLastOneIsActedOnIsActedOnAgain) {
  ::testing::NiceMock<MockRpClient> rebuilt;
  ON_CALL(rebuilt, InitCSClient(_)).WillByDefault(Return(1));
  // One performer on a queue of the test's own, so that every task goes to it.
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(4));
  std::thread performer([&queue] { RpTaskPerformerThread(&queue); });
  const auto waitUntilIdle = [&queue] {
    while (queue.count() != 0 || queue.waiterCount() != 1) std::this_thread::yield();
  };
  waitUntilIdle();
  std::atomic<int> rebuilds{0};
  const uint32_t reactivate = CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT;
  ON_CALL(env.transport, CreateRPClientObject(_, _, _, _))
      .WillByDefault(Invoke([&](ICSClient*, IRPClient** out, uint32_t*, uint8_t) {
        // The first rebuild is overtaken by a second reactivation.
        if (rebuilds++ == 0) RpUpdatePassiveNotificationForAllThreads(&reactivate, false);
        *out = &rebuilt;
        return uint8_t{1};
      }));
  ASSERT_TRUE(RpUpdatePassiveNotificationForAllThreads(&reactivate, false));
  constexpr uint8_t kIgnoredTask = 99;
  for (int task = 0; task < 3; ++task) {
    ASSERT_TRUE(AddTaskInQ(&queue, 0, kIgnoredTask));
    waitUntilIdle();
  }
  queue.shutdown();
  performer.join();
  EXPECT_EQ(rebuilds.load(), 2);
}

}  // namespace
