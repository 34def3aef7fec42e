// The event log as its users see it: which lines reach the file and the
// capture sinks, the file's line format, rotation and modes, and the UTF-16
// twin of the writer (UTF-16 format and text arguments come out as UTF-8,
// every other conversion as printf would write it).
#include <agsuite/agevtlog.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../mocks/log_capture.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class EventLogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    AgEvtLogCloseFile();
    AgEvtLogSetMaxLevel(saved_level_);
  }
  bool Open(uint64_t max_bytes = 1 << 20, uint32_t keep = 3) {
    return AgEvtLogOpenFile(folder_.c_str(), "test.log", max_bytes, keep) == 1;
  }
  fs::path LogPath(const std::string& suffix = "") const { return folder_ / ("test.log" + suffix); }

  test_support::ScratchFolder scratch_{"evtlog-"};
  fs::path folder_ = fs::path(scratch_.path()) / "logs";  // made by the log itself
  uint32_t saved_level_ = AgEvtLogGetMaxLevel();
};

TEST_F(EventLogTest, FileGetsLinesUpToMaxLevelInItsFormatWhileSinksGetAllAndReopeningAppends) {
  ASSERT_TRUE(Open());
  AgEvtLogSetMaxLevel(AG_LOG_PROGRESS);
  LogCapture capture;
  AgEvtLogWrite(AG_LOG_FAILURE, "agcore.dll", "ClientAgentCoreStartUp", __FILE__, __LINE__, "Invalid %s", "type");
  AgEvtLogWrite(AG_LOG_PROGRESS, "mod", "Routine", __FILE__, __LINE__, "progress");
  AgEvtLogWrite(AG_LOG_VERBOSE, "mod", "Routine", __FILE__, __LINE__, "verbose %s", std::string(5000, 'x').c_str());
  AgEvtLogCloseFile();
  ASSERT_TRUE(Open());
  AgEvtLogWrite(AG_LOG_FAILURE, "m", "r", __FILE__, __LINE__, "after reopening");

  const auto lines = ReadLines(LogPath());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z "
                                                 "\\[[0-9]+\\] L1 agcore\\.dll ClientAgentCoreStartUp: "
                                                 "Invalid type"));
  EXPECT_THAT(lines[1], ::testing::EndsWith("mod Routine: progress"));
  EXPECT_THAT(lines[2], ::testing::EndsWith("after reopening"));
  ASSERT_EQ(capture.Records().size(), 4u);
  EXPECT_EQ(capture.Records()[2].message, "verbose " + std::string(5000, 'x'));  // long lines are not cut
}

TEST_F(EventLogTest, RotationKeepsTheNewestLinesInBoundedFiles) {
  constexpr uint64_t kMaxBytes = 400;
  ASSERT_TRUE(Open(kMaxBytes, 2));
  for (int i = 0; i < 40; ++i) AgEvtLogWrite(AG_LOG_FAILURE, "m", "r", __FILE__, __LINE__, "line %02d", i);
  EXPECT_FALSE(fs::exists(LogPath(".3")));
  // Oldest kept file first, live file last: the lines run on without a gap
  // and end with the last line written.
  std::vector<std::string> all;
  for (const char* suffix : {".2", ".1", ""}) {
    ASSERT_TRUE(fs::exists(LogPath(suffix))) << suffix;
    EXPECT_LE(fs::file_size(LogPath(suffix)), kMaxBytes) << suffix;
    for (auto& line : ReadLines(LogPath(suffix))) all.push_back(line.substr(line.size() - 2));
  }
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back(), "39");
  for (size_t i = 1; i < all.size(); ++i) EXPECT_EQ(std::stoi(all[i]), std::stoi(all[i - 1]) + 1);
}

// Who may read the agent's log: the file is 0640 in a 0750 folder, also when
// an older version left them wider or rotation creates the file afresh.
TEST_F(EventLogTest, WiderModesLeftByAnOlderVersionAreNarrowedAndRotationKeepsThem) {
  const auto mode = [](const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  fs::create_directories(folder_);
  ::chmod(folder_.c_str(), 0755);
  for (const char* suffix : {"", ".1"}) {
    std::ofstream(LogPath(suffix)) << "old line\n";
    ::chmod(LogPath(suffix).c_str(), 0644);
  }
  ASSERT_TRUE(Open(64, 2));
  EXPECT_EQ(mode(folder_), 0750u);
  // Past 64 bytes the file rotates: the fresh file and the moved ones stay closed.
  for (int i = 0; i < 4; ++i) AgEvtLogWrite(AG_LOG_FAILURE, "test", "Routine", __FILE__, __LINE__, "line %d", i);
  AgEvtLogCloseFile();
  for (const char* suffix : {"", ".1", ".2"}) EXPECT_EQ(mode(LogPath(suffix)), 0640u) << suffix;
}

template <typename... Args>
std::string FormatW(const char16_t* format, Args... args) {
  LogCapture capture;
  AgEvtLogWriteW(AG_LOG_VERBOSE, "m", "r", __FILE__, __LINE__, format, args...);
  const auto records = capture.Records();
  return records.empty() ? std::string("<none>") : records[0].message;
}

TEST(WideFormat, TextArgumentsAndFormatTextAreUtf16) {
  EXPECT_EQ(FormatW(u"[%ls|%S]", u"caf\u00e9", u"x"), "[caf\xc3\xa9|x]");
  EXPECT_EQ(FormatW(u"[%-4s|%4s|%.2s]", u"ab", u"cd", u"abcdef"), "[ab  |  cd|ab]");
  EXPECT_EQ(FormatW(u"[%s]", static_cast<const char16_t*>(nullptr)), "[(null)]");
  // An unpaired surrogate cannot be encoded; the line stays readable.
  const char16_t broken[] = {u'a', static_cast<char16_t>(0xD800), u'b', 0};
  EXPECT_EQ(FormatW(u"%s", broken), "a\xef\xbf\xbd" "b");
}

TEST(WideFormat, ArgumentsStayAlignedAfterMixedConversions) {
  // A wrong guess of one argument's size would shift every later argument;
  // a malformed conversion consumes none.
  EXPECT_EQ(FormatW(u"%*d|%.*f %c%lc %y %d%%", 4, 7, 2, 3.14159, u'A', u'\u00e9', 5), "   7|3.14 A\xc3\xa9 %y 5%");
  EXPECT_EQ(FormatW(u"%hd %s %lld %s %f %s", static_cast<short>(3), u"a", 5ll, u"b", 0.5, u"c"),
            "3 a 5 b 0.500000 c");
  EXPECT_EQ(FormatW(u"%td %s %ju", static_cast<ptrdiff_t>(-5000000000), u"a", static_cast<uintmax_t>(7)),
            "-5000000000 a 7");
}

}  // namespace
