// A wait for a logon follows utmp: a login appended, or the file replaced by
// rename. The wait is woken by the change itself, not by a periodic look.
#include <fcntl.h>
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

void WriteLogin(const std::string& path, const char* line, int flags = O_APPEND) {
  utmp record{};
  record.ut_type = USER_PROCESS;
  record.ut_pid = getpid();
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
  std::string utmp_ = folder_.Path() + "utmp";
};

TEST_F(PlatformSessionEvents, LoginAppendedOrFileReplacedByRenameIsALogon) {
  WriteLogin(utmp_, "pts/1");
  SetUtmpPath(utmp_);  // a login already there is known
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced by rename" : "appended");
    auto waiter = std::async(std::launch::async, [] {
      uint32_t flags = 0xDEAD;
      EXPECT_TRUE(WaitForSessionEvent(kSessionEventLogon, &flags));
      return flags;
    });
    if (replace) {
      WriteLogin(utmp_ + ".new", "pts/3", O_TRUNC);
      ASSERT_EQ(std::rename((utmp_ + ".new").c_str(), utmp_.c_str()), 0);
    } else {
      WriteLogin(utmp_, "pts/2");
    }
    EXPECT_EQ(waiter.get(), kSessionEventLogon);
  }
}

}  // namespace
}  // namespace platform
