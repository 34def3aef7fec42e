// CTaskQueue: capacity, duplicate suppression, FIFO order, and shutdown that
// wakes every blocked consumer.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "core/rpclcore/task_queue.h"

namespace {

void WaitForWaiters(const CTaskQueue& queue, uint32_t n) {
  while (queue.waiterCount() < n) std::this_thread::yield();
}

}  // namespace

TEST(CTaskQueueTest, DuplicateIsAcceptedButNotAdded) {
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(200));
  EXPECT_TRUE(queue.append({5, 0}, true));
  EXPECT_TRUE(queue.append({5, 0}, true));
  EXPECT_TRUE(queue.append({5, 1}, true));
  EXPECT_EQ(queue.count(), 2u);
  EXPECT_TRUE(queue.append({5, 0}, false));
  EXPECT_EQ(queue.count(), 3u);
}

TEST(CTaskQueueTest, RefusesThe201stEntryAndKeepsOrder) {
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(200));
  for (uint64_t i = 0; i < 200; ++i) ASSERT_TRUE(queue.append({8, i}, true));
  EXPECT_FALSE(queue.append({8, 200}, true));
  EXPECT_EQ(queue.count(), 200u);
  TaskEntry out{};
  ASSERT_TRUE(queue.waitAndRemove(&out));
  EXPECT_EQ(out, (TaskEntry{8, 0}));
  EXPECT_TRUE(queue.append({8, 200}, true));
  ASSERT_TRUE(queue.tryRemove(&out));
  EXPECT_EQ(uint64_t{out.argument}, 1u);
}

TEST(CTaskQueueTest, ShutdownWakesBothConsumersAndRefusesAppends) {
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(200));
  bool results[2] = {true, true};
  std::thread a([&] { TaskEntry e{}; results[0] = queue.waitAndRemove(&e); });
  std::thread b([&] { TaskEntry e{}; results[1] = queue.waitAndRemove(&e); });
  WaitForWaiters(queue, 2);
  EXPECT_TRUE(queue.shutdown());
  a.join();
  b.join();
  EXPECT_FALSE(results[0]);
  EXPECT_FALSE(results[1]);
  EXPECT_EQ(queue.waiterCount(), 0u);
  EXPECT_FALSE(queue.append({5, 0}, true));
  TaskEntry e{};
  EXPECT_FALSE(queue.waitAndRemove(&e));
}

TEST(CTaskQueueTest, EntriesLeftAtShutdownAreDrainedNotHandedToConsumers) {
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(4));
  ASSERT_TRUE(queue.append({14, 0x1000}, true));
  ASSERT_TRUE(queue.shutdown());
  TaskEntry e{};
  EXPECT_FALSE(queue.waitAndRemove(&e));
  ASSERT_TRUE(queue.tryRemove(&e));
  EXPECT_EQ(e, (TaskEntry{14, 0x1000}));
  EXPECT_FALSE(queue.tryRemove(&e));
}

TEST(CTaskQueueTest, EveryEntryIsTakenExactlyOnce) {
  CTaskQueue queue;
  ASSERT_TRUE(queue.create(200));
  constexpr uint64_t kEntries = 1000;
  std::vector<uint64_t> taken[2];
  auto consume = [&](int i) {
    TaskEntry e{};
    while (queue.waitAndRemove(&e)) taken[i].push_back(uint64_t{e.argument});
  };
  std::thread a(consume, 0);
  std::thread b(consume, 1);
  for (uint64_t i = 0; i < kEntries; ++i) {
    while (!queue.append({7, i}, true)) std::this_thread::yield();  // full: let consumers catch up
  }
  while (queue.count() != 0 || queue.waiterCount() != 2) std::this_thread::yield();
  queue.shutdown();
  a.join();
  b.join();
  std::vector<uint64_t> all = taken[0];
  all.insert(all.end(), taken[1].begin(), taken[1].end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), kEntries);
  for (uint64_t i = 0; i < kEntries; ++i) EXPECT_EQ(all[i], i);
}
