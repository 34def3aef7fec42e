// The core's client-store wrappers: one open / operation / close per call,
// failures as false, and the counter increment that holds the client-store
// counter lock.
#include "core/siblings/client_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>

#include "core/siblings/siblings.h"
#include "tests/unit/mocks/fake_support_library.h"
#include "tests/unit/mocks/log_capture.h"

namespace {

constexpr uint32_t kCounterId = DB_ID_SEND_INSTALL_NOTIFICATION_RETRY_COUNT;
using Op = InMemorySupportLibrary::Op;

class ClientStoreWrapperTest : public ::testing::Test {
 protected:
  InMemorySupportLibrary fake_;
  ScopedSiblings siblings_{SiblingSet{.support = &fake_}};
  LogCapture log_;
};

TEST_F(ClientStoreWrapperTest, EveryCallClosesTheHandleItOpenedAndPendingRecordsAreCompletedOrReturned) {
  const uint32_t value = 5;
  uint32_t back = 0;
  EXPECT_TRUE(SetClientBlobData(27, sizeof(value), &value));
  EXPECT_TRUE(GetClientBlobData(27, sizeof(back), &back));
  EXPECT_EQ(back, 5u);
  EXPECT_TRUE(DeleteClientBlobData(27));
  EXPECT_FALSE(GetClientBlobData(27, sizeof(back), &back));  // a failed operation closes too

  ASSERT_TRUE(SetClientPendingCommands(14, 3, "ack"));
  ASSERT_TRUE(SetClientPendingCommands(15, 4, "note"));
  CLPendingTaskList* list = nullptr;
  ASSERT_TRUE(GetClientPendingTasks(&list));
  ASSERT_EQ(list->dwCount, 2u);
  const uint64_t ack_id = list->pTasks[0].qwRecordId;
  const uint64_t note_id = list->pTasks[1].qwRecordId;
  FreeClientPendingTasks(list);
  EXPECT_TRUE(CompleteClientPendingTask(ack_id));
  EXPECT_TRUE(ReturnClientPendingTask(note_id));
  ASSERT_EQ(fake_.Pending().size(), 1u);
  EXPECT_EQ(fake_.Pending()[0].list, 15u);
  EXPECT_FALSE(fake_.Pending()[0].leased);
  EXPECT_EQ(fake_.OpenHandles(), 0);
}

TEST_F(ClientStoreWrapperTest, BadArgumentsFailWithoutOpeningAndAStoreThatCannotBeOpenedFailsWithALogLine) {
  fake_.Fail(Op::kOpen);
  uint32_t value = 1;
  EXPECT_FALSE(GetClientBlobData(27, sizeof(value), nullptr));
  EXPECT_FALSE(SetClientBlobData(27, 0, &value));
  EXPECT_FALSE(GetClientPendingTasks(nullptr));
  EXPECT_FALSE(log_.Contains("CLOpenDatabase failed"));
  EXPECT_FALSE(SetClientPendingCommands(14, sizeof(value), &value));
  EXPECT_FALSE(IncrementClientCounter(kCounterId, &value));
  EXPECT_TRUE(log_.Contains("CLOpenDatabase failed"));
  EXPECT_TRUE(fake_.Pending().empty());
}

TEST_F(ClientStoreWrapperTest, CounterStartsAtOneWhenUnreadable) {
  uint32_t value = 0;
  ASSERT_TRUE(IncrementClientCounter(kCounterId, &value));
  EXPECT_EQ(value, 1u);
  fake_.Fail(Op::kGet);
  ASSERT_TRUE(IncrementClientCounter(kCounterId, &value));
  EXPECT_EQ(value, 1u);
  fake_.Fail(Op::kGet, false);
  fake_.Fail(Op::kSet);
  EXPECT_FALSE(IncrementClientCounter(kCounterId, &value));
  EXPECT_EQ(fake_.Value<uint32_t>(kCounterId), 1u);
}

// Two threads of 1000 increments each through the real support library and
// its SQLite store (on a memory file system when there is one: 2000 durable
// commits): without the lock the read-add-write steps interleave and
// increments are lost.
TEST(ClientStoreRealLibraryTest, ConcurrentIncrementsAreNotLost) {
  const std::filesystem::path base =
      std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  std::string root = (base / "agcore-client-store-XXXXXX").string();
  ASSERT_NE(::mkdtemp(root.data()), nullptr);
  ASSERT_EQ(AGMiscSetAgentRoot(root.c_str()), 1);
  auto work = [] {
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(IncrementClientCounter(kCounterId, nullptr));
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();
  uint32_t value = 0;
  ASSERT_TRUE(GetClientBlobData(kCounterId, sizeof(value), &value));
  EXPECT_EQ(value, 2000u);
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

}  // namespace
