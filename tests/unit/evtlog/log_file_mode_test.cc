// Who may read the agent's log: the file is 0640 in a 0750 folder, also when
// an older version left them wider or rotation creates the file afresh.
#include <agsuite/agevtlog.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/unit/mocks/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

unsigned ModeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class LogFileModeTest : public ::testing::Test {
 protected:
  void TearDown() override { AgEvtLogCloseFile(); }
  test_support::ScratchFolder scratch_{"evtlog-mode-"};
  fs::path folder_ = fs::path(scratch_.path()) / "logs";  // made by the log itself
};

TEST_F(LogFileModeTest, NewFileAndFolderAreClosedToOtherUsers) {
  ASSERT_EQ(AgEvtLogOpenFile(folder_.c_str(), "agent.log", 1 << 20, 2), 1);
  EXPECT_EQ(ModeOf(folder_), 0750u);
  EXPECT_EQ(ModeOf(folder_ / "agent.log"), 0640u);
}

TEST_F(LogFileModeTest, WiderModesLeftByAnOlderVersionAreNarrowedAndRotationKeepsThem) {
  fs::create_directories(folder_);
  ::chmod(folder_.c_str(), 0755);
  for (const char* name : {"agent.log", "agent.log.1"}) {
    std::ofstream(folder_ / name) << "old line\n";
    ::chmod((folder_ / name).c_str(), 0644);
  }
  ASSERT_EQ(AgEvtLogOpenFile(folder_.c_str(), "agent.log", 64, 2), 1);
  EXPECT_EQ(ModeOf(folder_), 0750u);
  EXPECT_EQ(ModeOf(folder_ / "agent.log"), 0640u);
  EXPECT_EQ(ModeOf(folder_ / "agent.log.1"), 0640u);

  // Past 64 bytes the file rotates: the fresh file and the moved one stay closed.
  for (int i = 0; i < 4; ++i) AgEvtLogWrite(AG_LOG_FAILURE, "test", "Routine", __FILE__, __LINE__, "line %d", i);
  ASSERT_TRUE(fs::exists(folder_ / "agent.log.2"));
  for (const char* name : {"agent.log", "agent.log.1", "agent.log.2"}) EXPECT_EQ(ModeOf(folder_ / name), 0640u) << name;
}

}  // namespace
