// A wait for a logon follows utmp wherever it comes from: a file that
// appears later, in a folder that appears later, or one replaced by rename.
// The wait is woken by the change itself, not by a periodic look.
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

void WriteLogin(const std::string& path, int flags) {
  utmp record{};
  record.ut_type = USER_PROCESS;
  record.ut_pid = getpid();
  record.ut_tv.tv_sec = 1'700'000'123;
  std::strncpy(record.ut_line, "pts/9", sizeof record.ut_line);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, &record, sizeof record), static_cast<ssize_t>(sizeof record));
  close(fd);
}

struct UtmpChange {
  const char* name;
  const char* utmp;     // relative to the test's folder
  bool exists_before;   // an empty utmp is there when the wait starts
  void (*change)(const std::string& folder, const std::string& utmp);
};

const UtmpChange kChanges[] = {
    {"FileAppears", "utmp", false, [](const std::string&, const std::string& utmp) { WriteLogin(utmp, O_APPEND); }},
    {"FolderAndFileAppear", "run/sub/utmp", false,
     [](const std::string& folder, const std::string& utmp) {
       ASSERT_EQ(mkdir((folder + "run").c_str(), 0755), 0);
       ASSERT_EQ(mkdir((folder + "run/sub").c_str(), 0755), 0);
       WriteLogin(utmp, O_APPEND);
     }},
    {"FileReplacedByRename", "utmp", true,
     [](const std::string& folder, const std::string& utmp) {
       WriteLogin(folder + "utmp.new", O_TRUNC);
       ASSERT_EQ(std::rename((folder + "utmp.new").c_str(), utmp.c_str()), 0);
     }},
};

class UtmpWatch : public ::testing::TestWithParam<UtmpChange> {
 protected:
  void TearDown() override { SetUtmpPath(""); }
  platform_test::TempFolder folder_;
};

TEST_P(UtmpWatch, ALoginAfterTheChangeIsALogonEvent) {
  const UtmpChange& change = GetParam();
  const std::string utmp = folder_.Path() + change.utmp;
  if (change.exists_before) close(open(utmp.c_str(), O_WRONLY | O_CREAT, 0644));
  SetUtmpPath(utmp);
  auto waiter = std::async(std::launch::async, [] {
    uint32_t flags = 0;
    EXPECT_TRUE(WaitForSessionEvent(kSessionEventLogon, &flags));
    return flags;
  });
  change.change(folder_.Path(), utmp);
  EXPECT_EQ(waiter.get(), kSessionEventLogon);
}

INSTANTIATE_TEST_SUITE_P(Changes, UtmpWatch, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace platform
