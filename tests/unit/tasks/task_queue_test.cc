// CTaskQueue: duplicate suppression and the entries left at shutdown (capacity
// and order: PendingLease; waking consumers: every pool stop).
#include <gtest/gtest.h>

#include "core/rpclcore/task_queue.h"

TEST(CTaskQueueTest, DuplicateIsAcceptedButNotAdded) {
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(200));
  EXPECT_TRUE(queue.append({5, 0}, true));
  EXPECT_TRUE(queue.append({5, 0}, true));
  EXPECT_TRUE(queue.append({5, 1}, true));
  EXPECT_EQ(queue.count(), 2u);
}

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
