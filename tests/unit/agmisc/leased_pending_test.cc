// An entry kept together with a pending record leased to the keeping process:
// hidden while that process lives, handed out - with its latest bytes - once
// it has ended, whatever step it was killed after.
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "agmisc_test_env.h"

namespace {

using agmisc_test::AgentRootTest;
using agmisc_test::OpenStore;

constexpr uint32_t kEntryId = 1007;

enum class LastStep { kKept, kUpdated, kCompleted };

struct KillCase {
  const char* name;
  LastStep last;
  const char* handedOut;  // what the next process leases; "" for nothing
};

class LeasedPendingTest : public AgentRootTest, public ::testing::WithParamInterface<KillCase> {
 protected:
  static uint64_t Keep(const std::string& entry, const std::string& record) {
    OpenStore db;
    uint64_t id = 0;
    EXPECT_EQ(CLSetDataWithLeasedPending(db.get(), kEntryId, CL_DATA_TYPE_BLOB, entry.size(), entry.data(), 14,
                                         record.size(), record.data(), &id),
              1);
    return id;
  }
  static bool Update(uint64_t id, const std::string& record) {
    OpenStore db;
    return CLUpdatePendingTask(db.get(), id, record.size(), record.data()) == 1;
  }
  static std::string Entry() {
    OpenStore db;
    char buffer[64] = {};
    return CLGetDataByType(db.get(), kEntryId, CL_DATA_TYPE_BLOB, sizeof(buffer) - 1, buffer) == 1 ? buffer : "";
  }
  // Leases everything leasable and returns the texts, joined.
  static std::string LeaseAll() {
    OpenStore db;
    CLPendingTaskList* list = nullptr;
    EXPECT_EQ(CLGetPendingTasks(db.get(), &list), 1);
    std::string texts;
    for (uint32_t i = 0; list != nullptr && i < list->dwCount; ++i) {
      texts.append(reinterpret_cast<const char*>(list->pTasks[i].pData), list->pTasks[i].dwSize);
    }
    CLFreePendingTasks(list);
    return texts;
  }
};

TEST_P(LeasedPendingTest, NextProcessFindsTheEntryAndTheLatestRecord) {
  { OpenStore create; }
  agmisc::DropIdleStores();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const uint64_t id = Keep("guid-a", "stand-in");
    const bool hidden = LeaseAll().empty();
    if (GetParam().last != LastStep::kKept) static_cast<void>(Update(id, "real"));
    if (GetParam().last == LastStep::kCompleted) {
      OpenStore db;
      static_cast<void>(CLCompletePendingTask(db.get(), id));
    }
    ::_exit(hidden && id != 0 ? 0 : 1);  // ends without returning the lease
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "the keeping process must see neither failure nor its own record";
  EXPECT_EQ(Entry(), "guid-a");
  EXPECT_EQ(LeaseAll(), GetParam().handedOut);
}

INSTANTIATE_TEST_SUITE_P(KilledAfter, LeasedPendingTest,
                         ::testing::Values(KillCase{"Keeping", LastStep::kKept, "stand-in"},
                                           KillCase{"Updating", LastStep::kUpdated, "real"},
                                           KillCase{"Completing", LastStep::kCompleted, ""}),
                         [](const ::testing::TestParamInfo<KillCase>& info) { return info.param.name; });

TEST_F(AgentRootTest, ReturnedLeasedRecordIsHandedOutAndOnlyItsHolderUpdatesIt) {
  uint64_t id = 0;
  {
    OpenStore db;
    ASSERT_EQ(CLSetDataWithLeasedPending(db.get(), kEntryId, CL_DATA_TYPE_BLOB, 1, "g", 14, 1, "s", &id), 1);
    EXPECT_EQ(CLSetDataWithLeasedPending(db.get(), kEntryId, CL_DATA_TYPE_BLOB, 1, "g", 16, 1, "s", &id), 0)
        << "list 16 does not exist";
    ASSERT_EQ(CLUpdatePendingTask(db.get(), id, 4, "real"), 1);
    ASSERT_EQ(CLReturnPendingTask(db.get(), id), 1);
    EXPECT_EQ(CLUpdatePendingTask(db.get(), id, 5, "later"), 0) << "no longer leased by this process";
  }
  OpenStore db;
  CLPendingTaskList* list = nullptr;
  ASSERT_EQ(CLGetPendingTasks(db.get(), &list), 1);
  ASSERT_EQ(list->dwCount, 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(list->pTasks[0].pData), list->pTasks[0].dwSize), "real");
  CLFreePendingTasks(list);
}

}  // namespace
