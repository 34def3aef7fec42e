#include <fcntl.h>
#include <unistd.h>
#include <utmp.h>

#include <cstring>
#include <future>

#include <gtest/gtest.h>

#include "platform/session_events.h"
#include "temp_folder.h"

namespace platform {
namespace {

using platform_test::TempFolder;

constexpr uint32_t kLogonOrConnect = kSessionEventLogon | kSessionEventConnect;

std::future<uint32_t> WaitInBackground(uint32_t mask) {
  return std::async(std::launch::async, [mask] {
    uint32_t flags = 0xDEAD;
    EXPECT_TRUE(WaitForSessionEvent(mask, &flags));
    return flags;
  });
}

void AppendLogin(const std::string& path, pid_t pid, int32_t session, const char* line) {
  utmp record{};
  record.ut_type = USER_PROCESS;
  record.ut_pid = pid;
  record.ut_session = session;
  record.ut_tv.tv_sec = 1'700'000'000;
  std::strncpy(record.ut_line, line, sizeof record.ut_line);
  std::strncpy(record.ut_user, "tester", sizeof record.ut_user);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, &record, sizeof record), static_cast<ssize_t>(sizeof record));
  close(fd);
}

class PlatformSessionEvents : public ::testing::Test {
 protected:
  void SetUp() override { SetUtmpPath(folder_.Path() + "utmp"); }
  void TearDown() override { SetUtmpPath(""); }
  std::string Utmp() const { return folder_.Path() + "utmp"; }

  TempFolder folder_;
};

TEST_F(PlatformSessionEvents, FlushWakesAWaiterWithFlagsZero) {
  auto waiter = WaitInBackground(kLogonOrConnect);
  // Whether the flush finds the waiter blocked or not yet waiting, it ends
  // that one wait.
  FlushSessionEventWaits();
  EXPECT_EQ(waiter.get(), 0u);
}

TEST_F(PlatformSessionEvents, InjectedEventsReachTheWaiterWhoseMaskMatches) {
  auto waiter = WaitInBackground(kLogonOrConnect);
  InjectSessionEvent(kSessionEventLogon);
  EXPECT_EQ(waiter.get(), kSessionEventLogon);

  // An event outside the mask does not end the wait; it is kept for a wait
  // that asks for it.
  InjectSessionEvent(0x01);
  auto connect_waiter = WaitInBackground(kLogonOrConnect);
  InjectSessionEvent(kSessionEventConnect);
  EXPECT_EQ(connect_waiter.get(), kSessionEventConnect);
  uint32_t flags = 0;
  ASSERT_TRUE(WaitForSessionEvent(0x01, &flags));
  EXPECT_EQ(flags, 0x01u);
  EXPECT_FALSE(WaitForSessionEvent(kLogonOrConnect, nullptr));
}

TEST_F(PlatformSessionEvents, NewLoginInUtmpIsALogonEvent) {
  AppendLogin(Utmp(), getpid(), 7, "pts/1");
  SetUtmpPath(Utmp());  // the login above is already known
  auto waiter = WaitInBackground(kLogonOrConnect);
  AppendLogin(Utmp(), getpid(), 8, "pts/2");
  EXPECT_EQ(waiter.get(), kSessionEventLogon);
}

TEST_F(PlatformSessionEvents, LoginsWithoutAWatcherAreSeenByTheNextWait) {
  // No utmp file at first: the wait falls back to injected events and flushes,
  // and still notices the file once it appears.
  auto waiter = WaitInBackground(kSessionEventLogon);
  FlushSessionEventWaits();
  EXPECT_EQ(waiter.get(), 0u);
  AppendLogin(Utmp(), getpid(), 9, "pts/3");
  uint32_t flags = 0;
  ASSERT_TRUE(WaitForSessionEvent(kSessionEventLogon, &flags));
  EXPECT_EQ(flags, kSessionEventLogon);
}

TEST_F(PlatformSessionEvents, FirstActiveSessionSkipsDeadLoginsAndIsMinusOneWithoutAny) {
  EXPECT_EQ(FirstActiveSession(), -1);  // no utmp file
  AppendLogin(Utmp(), 0x3FFFFFF0, 3, "pts/4");  // a pid that cannot be alive
  EXPECT_EQ(FirstActiveSession(), -1);
  AppendLogin(Utmp(), getpid(), 0, "pts/5");
  EXPECT_EQ(FirstActiveSession(), getpid());  // no session id: the login process
  AppendLogin(Utmp(), getpid(), 42, "pts/6");
  EXPECT_EQ(FirstActiveSession(), getpid());  // the first live one wins
}

}  // namespace
}  // namespace platform
