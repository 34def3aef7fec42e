// Pending records: leased to one process at a time, gone when completed,
// handed out again when returned or when the process that leased them ended
// (a child that ends without returning its lease). An entry kept together
// with a leased record is hidden while the keeping process lives and handed
// out, with its latest bytes, once it has ended.
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "agmisc_test_env.h"
#include "lease_owner.h"

namespace {

using agmisc_test::AgentRootTest;
using agmisc_test::Lease;
using agmisc_test::OpenStore;
using agmisc_test::Texts;
using Strings = std::vector<std::string>;

bool Store(uint32_t list, const std::string& text) {
  OpenStore db;
  return CLSetPendingCommand(db.get(), list, CL_DATA_TYPE_BLOB, text.size(), text.data()) == 1;
}

using PendingTest = AgentRootTest;

// A limited lease takes the oldest first and leaves the rest for the next call.
TEST_F(PendingTest, RecordsAreHandedOutOnceInArrivalOrderWithTheirList) {
  ASSERT_TRUE(Store(14, "ack-1"));
  ASSERT_TRUE(Store(15, "note-1"));
  for (const std::string text : {"c", "d", "e"}) ASSERT_TRUE(Store(14, text));
  EXPECT_FALSE(Store(16, "x"));
  OpenStore db;
  CLPendingTaskList* list = nullptr;
  ASSERT_EQ(CLGetPendingTasksUpTo(db.get(), 2, &list), 1);
  ASSERT_EQ(list->dwCount, 2u);
  EXPECT_EQ(list->pTasks[0].dwList, 14u);
  EXPECT_EQ(list->pTasks[1].dwList, 15u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list->pTasks[1].pData), list->pTasks[1].dwSize), "note-1");
  CLFreePendingTasks(list);
  EXPECT_EQ(Texts(Lease(1)), Strings{"c"});
  EXPECT_EQ(Texts(Lease()), (Strings{"d", "e"}));
  EXPECT_TRUE(Lease().empty());  // leased by this process: not handed out a second time
}

TEST_F(PendingTest, CompletedRecordIsGoneForGoodAndItsIdNeverReusedReturnedRecordComesBack) {
  ASSERT_TRUE(Store(14, "sent"));
  ASSERT_TRUE(Store(15, "failed"));
  const auto leased = Lease();
  ASSERT_EQ(leased.size(), 2u);
  const uint64_t sent_id = leased.begin()->first;
  const uint64_t failed_id = std::next(leased.begin())->first;
  {
    OpenStore db;
    EXPECT_EQ(CLCompletePendingTask(db.get(), sent_id), 1);
    EXPECT_EQ(CLReturnPendingTask(db.get(), failed_id), 1);
    EXPECT_EQ(Texts(Lease()), Strings{"failed"});
    EXPECT_EQ(CLCompletePendingTask(db.get(), sent_id), 0);  // already gone
    EXPECT_EQ(CLCompletePendingTask(db.get(), failed_id), 1);
  }
  agmisc::DropIdleStores();
  ASSERT_TRUE(Store(14, "second"));
  const auto next = Lease();
  ASSERT_EQ(next.size(), 1u);
  EXPECT_GT(next.begin()->first, failed_id);
}

TEST(LeaseOwnerTest, OwnTextIsAliveForeignOrDamagedTextIsNot) {
  const std::string own = agmisc::CurrentLeaseOwner();
  EXPECT_TRUE(agmisc::IsLeaseOwnerAlive(own));
  const size_t last = own.rfind('/');
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive(own.substr(0, last + 1) + "1"));  // same pid, other start time
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive("garbage"));
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive(own.substr(0, own.find('/')) + "/../self/1"));
}

constexpr uint32_t kEntryId = 1007;

// A process keeps an entry together with a leased record, updates the record
// and ends without returning its lease (as a kill leaves it).
TEST_F(PendingTest, NextProcessFindsTheEntryAndTheLatestRecordOfAProcessThatEnded) {
  { OpenStore create; }
  agmisc::DropIdleStores();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OpenStore db;
    uint64_t id = 0;
    const bool kept = CLSetDataWithLeasedPending(db.get(), kEntryId, CL_DATA_TYPE_BLOB, 6, "guid-a", 14, 8,
                                                 "stand-in", &id) == 1;
    const bool hidden = Lease().empty();
    const bool updated = CLUpdatePendingTask(db.get(), id, 4, "real") == 1;
    ::_exit(kept && hidden && updated ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "the keeping process must see neither failure nor its own record";
  OpenStore db;
  char entry[64] = {};
  EXPECT_EQ(CLGetDataByType(db.get(), kEntryId, CL_DATA_TYPE_BLOB, sizeof(entry) - 1, entry), 1);
  EXPECT_STREQ(entry, "guid-a");
  EXPECT_EQ(Texts(Lease()), Strings{"real"});
}

TEST_F(PendingTest, ReturnedLeasedRecordIsHandedOutAndOnlyItsHolderUpdatesIt) {
  uint64_t id = 0;
  {
    OpenStore db;
    ASSERT_EQ(CLSetDataWithLeasedPending(db.get(), kEntryId, CL_DATA_TYPE_BLOB, 1, "g", 14, 1, "s", &id), 1);
    ASSERT_EQ(CLUpdatePendingTask(db.get(), id, 4, "real"), 1);
    ASSERT_EQ(CLReturnPendingTask(db.get(), id), 1);
    EXPECT_EQ(CLUpdatePendingTask(db.get(), id, 5, "later"), 0) << "no longer leased by this process";
  }
  EXPECT_EQ(Texts(Lease()), Strings{"real"});
}

}  // namespace
