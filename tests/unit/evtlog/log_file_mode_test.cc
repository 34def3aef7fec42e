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

TEST(LogFileModeTest, WiderModesLeftByAnOlderVersionAreNarrowedAndRotationKeepsThem) {
  test_support::ScratchFolder scratch("evtlog-mode-");
  const fs::path folder = fs::path(scratch.path()) / "logs";
  fs::create_directories(folder);
  ::chmod(folder.c_str(), 0755);
  for (const char* name : {"agent.log", "agent.log.1"}) {
    std::ofstream(folder / name) << "old line\n";
    ::chmod((folder / name).c_str(), 0644);
  }
  ASSERT_EQ(AgEvtLogOpenFile(folder.c_str(), "agent.log", 64, 2), 1);
  EXPECT_EQ(ModeOf(folder), 0750u);
  // Past 64 bytes the file rotates: the fresh file and the moved ones stay closed.
  for (int i = 0; i < 4; ++i) AgEvtLogWrite(AG_LOG_FAILURE, "test", "Routine", __FILE__, __LINE__, "line %d", i);
  AgEvtLogCloseFile();
  for (const char* name : {"agent.log", "agent.log.1", "agent.log.2"}) EXPECT_EQ(ModeOf(folder / name), 0640u) << name;
}

}  // namespace
