// Pending records: durable when stored, leased to one process at a time,
// gone when completed, handed out again when returned or when the process
// that leased them ended - also when it was killed in the middle of storing;
// a limited lease takes the oldest first. An entry kept together with a
// leased record is hidden while the keeping process lives and handed out,
// with its latest bytes, once it has ended.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
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
  EXPECT_FALSE(Store(13, "x"));
  EXPECT_FALSE(Store(16, "x"));

  OpenStore db;
  EXPECT_EQ(CLSetPendingCommand(db.get(), 14, CL_DATA_TYPE_BLOB, 0, "x"), 0);
  CLPendingTaskList* list = nullptr;
  ASSERT_EQ(CLGetPendingTasks(db.get(), &list), 1);
  ASSERT_EQ(list->dwCount, 3u);
  EXPECT_EQ(list->pTasks[0].dwList, 14u);
  EXPECT_EQ(list->pTasks[1].dwList, 15u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list->pTasks[2].pData), list->pTasks[2].dwSize), "ack-2");
  EXPECT_LT(list->pTasks[0].qwRecordId, list->pTasks[1].qwRecordId);
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
  EXPECT_TRUE(Lease().empty());

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
  } kCalls[] = {{0, {}}, {2, {"a", "b"}}, {1, {"c"}}, {9, {"d", "e"}}, {9, {}}};
  for (const auto& call : kCalls) EXPECT_EQ(Texts(Lease(call.max_count)), call.leased) << call.max_count;
}

// A child process that leases every free record, reports how many, and holds
// the lease until its end (it never completes or returns them).
struct LeasingChild {
  LeasingChild() {
    agmisc::DropIdleStores();
    EXPECT_EQ(::pipe(leased), 0);
    EXPECT_EQ(::pipe(release), 0);
    pid = ::fork();
    if (pid == 0) {
      ::close(release[1]);  // the parent's end: its close is the release
      uint32_t count = static_cast<uint32_t>(Lease().size());
      static_cast<void>(::write(leased[1], &count, sizeof(count)));
      char byte;
      static_cast<void>(::read(release[0], &byte, 1));
      ::_exit(0);
    }
    EXPECT_EQ(::read(leased[0], &count, sizeof(count)), static_cast<ssize_t>(sizeof(count)));
  }
  ~LeasingChild() {
    for (int fd : {leased[0], leased[1], release[0], release[1]}) ::close(fd);
    ::waitpid(pid, nullptr, 0);
  }
  int leased[2];
  int release[2];
  pid_t pid = -1;
  uint32_t count = 0;
};

TEST_F(PendingTest, RecordLeasedByLiveProcessWaitsAndReturnsWhenItEndsOrIsKilled) {
  ASSERT_TRUE(Store(14, "a"));
  ASSERT_TRUE(Store(15, "b"));
  {
    LeasingChild child;
    EXPECT_EQ(child.count, 2u);
    EXPECT_TRUE(Lease().empty());
    ::close(child.release[1]);
    child.release[1] = -1;
    ASSERT_EQ(::waitpid(child.pid, nullptr, 0), child.pid);
    EXPECT_EQ(Texts(Lease()), (Strings{"a", "b"}));
  }
  agmisc::DropIdleStores();
  ASSERT_TRUE(Store(14, "z"));
  LeasingChild child;
  ASSERT_EQ(child.count, 1u);
  ::kill(child.pid, SIGKILL);
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOWAIT), 0);  // now a zombie
  EXPECT_EQ(Texts(Lease()), Strings{"z"});
}

TEST(LeaseOwnerTest, OwnTextIsAliveForeignOrDamagedTextIsNot) {
  const std::string own = agmisc::CurrentLeaseOwner();
  EXPECT_TRUE(agmisc::IsLeaseOwnerAlive(own));
  const size_t last = own.rfind('/');
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive(own.substr(0, last + 1) + "1"));  // same pid, other start time
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive("another-boot" + own.substr(own.find('/'))));
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive("garbage"));
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive(own.substr(0, own.find('/')) + "/../self/1"));
}

// The record a child stores in round `i`: its number and a pattern derived
// from it, with a size that varies from round to round.
std::string CrashRecord(uint32_t i) {
  std::string text(64 + (i * 97) % 3000, '\0');
  std::memcpy(text.data(), &i, sizeof(i));
  for (size_t k = sizeof(i); k < text.size(); ++k) text[k] = static_cast<char>((i * 31 + k) & 0xFF);
  return text;
}

// A child stores pending records in a loop and reports each store that
// returned 1; it is killed mid-loop. Every reported record must be there,
// intact, and nothing may be there twice.
TEST_F(PendingTest, RecordsStoredBeforeKillSurviveIntact) {
  { OpenStore create; }  // the child only appends
  agmisc::DropIdleStores();
  int done_pipe[2];
  ASSERT_EQ(::pipe(done_pipe), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(done_pipe[0]);
    for (uint32_t i = 0;; ++i) {
      const bool stored = Store(14 + i % 2, CrashRecord(i));
      if (stored && ::write(done_pipe[1], &i, sizeof(i)) != static_cast<ssize_t>(sizeof(i))) ::_exit(3);
    }
  }
  ::close(done_pipe[1]);
  std::vector<uint32_t> confirmed;
  constexpr size_t kKillAfter = 40;
  uint32_t round = 0;
  while (confirmed.size() < kKillAfter && ::read(done_pipe[0], &round, sizeof(round)) == sizeof(round)) {
    confirmed.push_back(round);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "child ended on its own with " << status;
  while (::read(done_pipe[0], &round, sizeof(round)) == sizeof(round)) confirmed.push_back(round);
  ::close(done_pipe[0]);
  ASSERT_GE(confirmed.size(), kKillAfter);

  agmisc::DropIdleStores();
  std::map<uint32_t, int> seen;
  for (const auto& [id, text] : Lease()) {
    ASSERT_GE(text.size(), sizeof(uint32_t));
    uint32_t i = 0;
    std::memcpy(&i, text.data(), sizeof(i));
    EXPECT_EQ(text, CrashRecord(i)) << "record of round " << i << " is damaged";
    ++seen[i];
  }
  for (const uint32_t i : confirmed) EXPECT_EQ(seen[i], 1) << "round " << i;
  // At most the one store in flight at the kill may be there unreported.
  EXPECT_LE(seen.size(), confirmed.size() + 1);
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
    EXPECT_EQ(CLSetDataWithLeasedPending(db.get(), kEntryId, CL_DATA_TYPE_BLOB, 1, "g", 16, 1, "s", &id), 0)
        << "list 16 does not exist";
    ASSERT_EQ(CLUpdatePendingTask(db.get(), id, 4, "real"), 1);
    ASSERT_EQ(CLReturnPendingTask(db.get(), id), 1);
    EXPECT_EQ(CLUpdatePendingTask(db.get(), id, 5, "later"), 0) << "no longer leased by this process";
  }
  EXPECT_EQ(Texts(Lease()), Strings{"real"});
}

}  // namespace
