// Pending records: leased to one process at a time, gone when completed,
// handed out again when returned or when the process that leased them ended
// (a child that ends without returning its lease); a limited lease takes the
// oldest first. An entry kept together with a
// leased record is hidden while the keeping process lives and handed out,
// with its latest bytes, once it has ended.
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

bool Complete(uint64_t id) {
  OpenStore db;
  return CLCompletePendingTask(db.get(), id) == 1;
}

bool Return(uint64_t id) {
  OpenStore db;
  return CLReturnPendingTask(db.get(), id) == 1;
}

using PendingTest = AgentRootTest;

TEST_F(PendingTest, RecordsAreHandedOutOnceInArrivalOrderWithTheirList) {
  ASSERT_TRUE(Store(14, "ack-1"));
  ASSERT_TRUE(Store(15, "note-1"));
  ASSERT_TRUE(Store(14, "ack-2"));
  EXPECT_FALSE(Store(16, "x"));

  OpenStore db;
  CLPendingTaskList* list = nullptr;
  ASSERT_EQ(CLGetPendingTasks(db.get(), &list), 1);
  ASSERT_EQ(list->dwCount, 3u);
  EXPECT_EQ(list->pTasks[0].dwList, 14u);
  EXPECT_EQ(list->pTasks[1].dwList, 15u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list->pTasks[2].pData), list->pTasks[2].dwSize), "ack-2");
  CLFreePendingTasks(list);
  EXPECT_TRUE(Lease().empty());  // leased by this process: not handed out a second time
}

TEST_F(PendingTest, CompletedRecordIsGoneForGoodAndItsIdNeverReusedReturnedRecordComesBack) {
  ASSERT_TRUE(Store(14, "sent"));
  ASSERT_TRUE(Store(15, "failed"));
  const auto leased = Lease();
  ASSERT_EQ(leased.size(), 2u);
  const uint64_t sent_id = leased.begin()->first;
  const uint64_t failed_id = std::next(leased.begin())->first;
  EXPECT_TRUE(Complete(sent_id));
  EXPECT_TRUE(Return(failed_id));
  EXPECT_EQ(Texts(Lease()), Strings{"failed"});
  EXPECT_FALSE(Complete(sent_id));  // already gone
  EXPECT_TRUE(Complete(failed_id));
  agmisc::DropIdleStores();
  ASSERT_TRUE(Store(14, "second"));
  const auto next = Lease();
  ASSERT_EQ(next.size(), 1u);
  EXPECT_GT(next.begin()->first, failed_id);
}

TEST_F(PendingTest, LeaseUpToTakesTheOldestFirstAndLeavesTheRestForTheNextCall) {
  for (const std::string text : {"a", "b", "c", "d", "e"}) ASSERT_TRUE(Store(14, text));
  const struct {
    uint32_t max_count;
    Strings leased;
  } kCalls[] = {{2, {"a", "b"}}, {1, {"c"}}, {9, {"d", "e"}}};
  for (const auto& call : kCalls) EXPECT_EQ(Texts(Lease(call.max_count)), call.leased) << call.max_count;
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

enum class LastStep { kKept, kUpdated, kCompleted };

struct KillCase {
  const char* name;
  LastStep last;
  const char* handedOut;  // what the next process leases; "" for nothing
};

class LeasedPendingTest : public AgentRootTest, public ::testing::WithParamInterface<KillCase> {};

TEST_P(LeasedPendingTest, NextProcessFindsTheEntryAndTheLatestRecord) {
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
    if (GetParam().last != LastStep::kKept) static_cast<void>(CLUpdatePendingTask(db.get(), id, 4, "real"));
    if (GetParam().last == LastStep::kCompleted) static_cast<void>(CLCompletePendingTask(db.get(), id));
    ::_exit(kept && hidden ? 0 : 1);  // ends without returning the lease
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "the keeping process must see neither failure nor its own record";
  OpenStore db;
  char entry[64] = {};
  EXPECT_EQ(CLGetDataByType(db.get(), kEntryId, CL_DATA_TYPE_BLOB, sizeof(entry) - 1, entry), 1);
  EXPECT_STREQ(entry, "guid-a");
  const Strings texts = Texts(Lease());
  EXPECT_EQ(texts, *GetParam().handedOut != '\0' ? Strings{GetParam().handedOut} : Strings{});
}

INSTANTIATE_TEST_SUITE_P(KilledAfter, LeasedPendingTest,
                         ::testing::Values(KillCase{"Keeping", LastStep::kKept, "stand-in"},
                                           KillCase{"Updating", LastStep::kUpdated, "real"},
                                           KillCase{"Completing", LastStep::kCompleted, ""}),
                         [](const ::testing::TestParamInfo<KillCase>& info) { return info.param.name; });

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
