// A wait for a logon follows utmp wherever it comes from: a login appended,
// a file that appears later, in a folder that appears later, or one replaced
// by rename. The wait is woken by the change itself, not by a periodic look.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmp.h>

#include <cstdio>
#include <cstring>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "platform/session_events.h"
#include "temp_folder.h"

namespace platform {
namespace {

std::future<uint32_t> WaitForLogon() {
  return std::async(std::launch::async, [] {
    uint32_t flags = 0xDEAD;
    EXPECT_TRUE(WaitForSessionEvent(kSessionEventLogon, &flags));
    return flags;
  });
}

void WriteLogin(const std::string& path, const char* line, int flags = O_APPEND, pid_t pid = getpid(),
                int32_t session = 0) {
  utmp record{};
  record.ut_type = USER_PROCESS;
  record.ut_pid = pid;
  record.ut_session = session;
  record.ut_tv.tv_sec = 1'700'000'000;
  std::strncpy(record.ut_line, line, sizeof record.ut_line);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, &record, sizeof record), static_cast<ssize_t>(sizeof record));
  close(fd);
}

class PlatformSessionEvents : public ::testing::Test {
 protected:
  void TearDown() override { SetUtmpPath(""); }
  platform_test::TempFolder folder_;
};

TEST_F(PlatformSessionEvents, FirstActiveSessionSkipsDeadLoginsAndIsMinusOneWithoutAny) {
  const std::string utmp = folder_.Path() + "utmp";
  SetUtmpPath(utmp);
  EXPECT_EQ(FirstActiveSession(), -1);  // no utmp file
  WriteLogin(utmp, "pts/4", O_APPEND, 0x3FFFFFF0, 3);  // a pid that cannot be alive
  EXPECT_EQ(FirstActiveSession(), -1);
  WriteLogin(utmp, "pts/5");
  EXPECT_EQ(FirstActiveSession(), getpid());  // no session id: the login process
}

struct UtmpChange {
  const char* name;
  const char* utmp;    // relative to the test's folder
  bool exists_before;  // a utmp with a login is there when the wait starts
  void (*change)(const std::string& folder, const std::string& utmp);
};

const UtmpChange kChanges[] = {
    {"LoginAppended", "utmp", true, [](const std::string&, const std::string& utmp) { WriteLogin(utmp, "pts/2"); }},
    {"FolderAndFileAppear", "run/sub/utmp", false,
     [](const std::string& folder, const std::string& utmp) {
       ASSERT_EQ(mkdir((folder + "run").c_str(), 0755), 0);
       ASSERT_EQ(mkdir((folder + "run/sub").c_str(), 0755), 0);
       WriteLogin(utmp, "pts/2");
     }},
    {"FileReplacedByRename", "utmp", true,
     [](const std::string& folder, const std::string& utmp) {
       WriteLogin(folder + "utmp.new", "pts/2", O_TRUNC);
       ASSERT_EQ(std::rename((folder + "utmp.new").c_str(), utmp.c_str()), 0);
     }},
};

class UtmpWatch : public PlatformSessionEvents, public ::testing::WithParamInterface<UtmpChange> {};

TEST_P(UtmpWatch, ALoginAfterTheChangeIsALogonEvent) {
  const UtmpChange& change = GetParam();
  const std::string utmp = folder_.Path() + change.utmp;
  if (change.exists_before) WriteLogin(utmp, "pts/1");
  SetUtmpPath(utmp);  // a login already there is known
  auto waiter = WaitForLogon();
  change.change(folder_.Path(), utmp);
  EXPECT_EQ(waiter.get(), kSessionEventLogon);
}

INSTANTIATE_TEST_SUITE_P(Changes, UtmpWatch, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace platform
