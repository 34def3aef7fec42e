// Pending records: durable when stored, leased to one process at a time,
// gone when completed, handed out again when returned or when the process
// that leased them ended - also when it was killed in the middle of storing;
// a limited lease takes the oldest first.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <optional>

#include "agmisc_test_env.h"
#include "lease_owner.h"

namespace {

using agmisc_test::AgentRootTest;
using agmisc_test::OpenStore;

class PendingTest : public AgentRootTest {
 protected:
  // Leases (at most `max_count` records, or all) with a fresh handle and
  // returns {record id -> text}.
  static std::map<uint64_t, std::string> Lease(std::optional<uint32_t> max_count = std::nullopt) {
    OpenStore db;
    CLPendingTaskList* list = nullptr;
    EXPECT_EQ(max_count ? CLGetPendingTasksUpTo(db.get(), *max_count, &list) : CLGetPendingTasks(db.get(), &list), 1);
    std::map<uint64_t, std::string> texts;
    if (list == nullptr) return texts;
    for (uint32_t i = 0; i < list->dwCount; ++i) {
      const CLPendingTask& task = list->pTasks[i];
      texts[task.qwRecordId] = std::string(reinterpret_cast<const char*>(task.pData), task.dwSize);
    }
    CLFreePendingTasks(list);
    return texts;
  }

  static bool Store(uint32_t list, const std::string& text) {
    OpenStore db;
    return CLSetPendingCommand(db.get(), list, CL_DATA_TYPE_BLOB, text.size(), text.data()) == 1;
  }

  static bool Complete(uint64_t id) {
    OpenStore db;
    return CLCompletePendingTask(db.get(), id) == 1;
  }

  static bool Return(uint64_t id) {
    OpenStore db;
    return CLReturnPendingTask(db.get(), id) == 1;
  }

  static std::vector<std::string> Texts(const std::map<uint64_t, std::string>& leased) {
    std::vector<std::string> texts;
    for (const auto& [id, text] : leased) texts.push_back(text);
    return texts;
  }
};

TEST_F(PendingTest, RecordsAreHandedOutOnceInArrivalOrderWithTheirList) {
  ASSERT_TRUE(Store(14, "ack-1"));
  ASSERT_TRUE(Store(15, "note-1"));
  ASSERT_TRUE(Store(14, "ack-2"));

  OpenStore db;
  CLPendingTaskList* list = nullptr;
  ASSERT_EQ(CLGetPendingTasks(db.get(), &list), 1);
  ASSERT_EQ(list->dwCount, 3u);
  EXPECT_EQ(list->pTasks[0].dwList, 14u);
  EXPECT_EQ(list->pTasks[1].dwList, 15u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list->pTasks[2].pData), list->pTasks[2].dwSize), "ack-2");
  EXPECT_LT(list->pTasks[0].qwRecordId, list->pTasks[1].qwRecordId);
  CLFreePendingTasks(list);

  // Leased by this process: not handed out a second time.
  EXPECT_TRUE(Lease().empty());
}

TEST_F(PendingTest, OnlyListsFourteenAndFifteenExist) {
  EXPECT_FALSE(Store(13, "x"));
  EXPECT_FALSE(Store(16, "x"));
  OpenStore db;
  EXPECT_EQ(CLSetPendingCommand(db.get(), 14, CL_DATA_TYPE_BLOB, 0, "x"), 0);
  EXPECT_EQ(CLSetPendingCommand(db.get(), 14, CL_DATA_TYPE_BLOB, 1, nullptr), 0);
  EXPECT_TRUE(Lease().empty());
}

TEST_F(PendingTest, CompletedRecordIsGoneForGoodReturnedRecordComesBack) {
  ASSERT_TRUE(Store(14, "sent"));
  ASSERT_TRUE(Store(15, "failed"));
  const auto leased = Lease();
  ASSERT_EQ(leased.size(), 2u);
  const uint64_t sent_id = leased.begin()->first;
  const uint64_t failed_id = std::next(leased.begin())->first;

  EXPECT_TRUE(Complete(sent_id));
  EXPECT_TRUE(Return(failed_id));
  EXPECT_EQ(Texts(Lease()), std::vector<std::string>{"failed"});

  EXPECT_FALSE(Complete(sent_id));  // already gone
  EXPECT_TRUE(Complete(failed_id));
  EXPECT_TRUE(Lease().empty());
  agmisc::DropIdleStores();
  EXPECT_TRUE(Lease().empty());
}

TEST_F(PendingTest, RecordIdsAreNeverReused) {
  ASSERT_TRUE(Store(14, "first"));
  const uint64_t first = Lease().begin()->first;
  ASSERT_TRUE(Complete(first));
  ASSERT_TRUE(Store(14, "second"));
  const auto leased = Lease();
  ASSERT_EQ(leased.size(), 1u);
  EXPECT_GT(leased.begin()->first, first);
  // A late completion of the old id leaves the new record alone.
  EXPECT_FALSE(Complete(first));
  EXPECT_TRUE(Return(leased.begin()->first));
  EXPECT_EQ(Texts(Lease()), std::vector<std::string>{"second"});
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
      CLDBHANDLE db = nullptr;
      CLPendingTaskList* list = nullptr;
      uint32_t count = 0;
      if (CLOpenDatabase(&db) == 1 && CLGetPendingTasks(db, &list) == 1) count = list->dwCount;
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

TEST_F(PendingTest, RecordLeasedByLiveProcessWaitsAndReturnsWhenItEnds) {
  ASSERT_TRUE(Store(14, "a"));
  ASSERT_TRUE(Store(15, "b"));
  LeasingChild child;
  EXPECT_EQ(child.count, 2u);
  EXPECT_TRUE(Lease().empty());

  ::close(child.release[1]);
  child.release[1] = -1;
  ASSERT_EQ(::waitpid(child.pid, nullptr, 0), child.pid);
  EXPECT_EQ(Texts(Lease()), (std::vector<std::string>{"a", "b"}));
}

TEST_F(PendingTest, LeaseOfKilledButUnreapedProcessIsAbandoned) {
  ASSERT_TRUE(Store(14, "z"));
  LeasingChild child;
  ASSERT_EQ(child.count, 1u);
  ::kill(child.pid, SIGKILL);
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOWAIT), 0);  // now a zombie
  EXPECT_EQ(Texts(Lease()), std::vector<std::string>{"z"});
}

TEST_F(PendingTest, LeaseUpToTakesTheOldestFirstAndLeavesTheRestForTheNextCall) {
  for (const std::string text : {"a", "b", "c", "d", "e"}) ASSERT_TRUE(Store(14, text));
  const struct {
    uint32_t max_count;
    std::vector<std::string> leased;
  } kCalls[] = {{0, {}}, {2, {"a", "b"}}, {1, {"c"}}, {9, {"d", "e"}}, {9, {}}};
  for (const auto& call : kCalls) EXPECT_EQ(Texts(Lease(call.max_count)), call.leased) << call.max_count;
}

TEST(LeaseOwnerTest, OwnTextIsAliveForeignOrDamagedTextIsNot) {
  const std::string own = agmisc::CurrentLeaseOwner();
  EXPECT_TRUE(agmisc::IsLeaseOwnerAlive(own));
  const size_t last = own.rfind('/');
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive(own.substr(0, last + 1) + "1"));  // same pid, other start time
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive("another-boot" + own.substr(own.find('/'))));
  EXPECT_FALSE(agmisc::IsLeaseOwnerAlive(""));
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
  // Create the store first so the child only appends.
  { OpenStore create; }
  agmisc::DropIdleStores();
  int done_pipe[2];
  ASSERT_EQ(::pipe(done_pipe), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(done_pipe[0]);
    for (uint32_t i = 0;; ++i) {
      const std::string record = CrashRecord(i);
      CLDBHANDLE db = nullptr;
      if (CLOpenDatabase(&db) != 1) ::_exit(2);
      const bool stored = CLSetPendingCommand(db, 14 + i % 2, CL_DATA_TYPE_BLOB, record.size(), record.data()) == 1;
      CLCloseDatabase(db);
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

}  // namespace
