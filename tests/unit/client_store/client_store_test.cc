// The core's client-store wrappers: failures as false, and the counter
// increment that holds the client-store counter lock.
#include "core/siblings/client_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <thread>

#include "core/siblings/siblings.h"
#include "tests/unit/mocks/fake_support_library.h"

namespace {

constexpr uint32_t kCounterId = DB_ID_SEND_INSTALL_NOTIFICATION_RETRY_COUNT;
using Op = InMemorySupportLibrary::Op;

// A counter that cannot be read starts again at one; one that cannot be
// written keeps its stored value.
TEST(ClientStoreWrapperTest, CounterStartsAtOneWhenUnreadable) {
  InMemorySupportLibrary fake;
  ScopedSiblings siblings{SiblingSet{.support = &fake}};
  uint32_t value = 0;
  ASSERT_TRUE(IncrementClientCounter(kCounterId, &value));
  EXPECT_EQ(value, 1u);
  fake.Fail(Op::kGet);
  ASSERT_TRUE(IncrementClientCounter(kCounterId, &value));
  EXPECT_EQ(value, 1u);
  fake.Fail(Op::kGet, false);
  fake.Fail(Op::kSet);
  EXPECT_FALSE(IncrementClientCounter(kCounterId, &value));
  EXPECT_EQ(fake.Value<uint32_t>(kCounterId), 1u);
  fake.Fail(Op::kOpen);
  EXPECT_FALSE(SetClientPendingCommands(14, sizeof(value), &value));
  EXPECT_TRUE(fake.Pending().empty());
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
