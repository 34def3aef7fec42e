// The event log as its users see it: which lines reach the file and the
// capture sinks, the file's line format, rotation, and concurrent writers.
#include <agsuite/agevtlog.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
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
  void SetUp() override { saved_level_ = AgEvtLogGetMaxLevel(); }
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
  uint32_t saved_level_ = 0;
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

TEST_F(EventLogTest, ConcurrentWritersNeverInterleaveLines) {
  ASSERT_TRUE(Open(64ull << 20, 1));
  constexpr int kThreads = 8;
  constexpr int kLines = 300;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        AgEvtLogWrite(AG_LOG_FAILURE, "m", "writer", __FILE__, __LINE__, "thread %d line %d end", t, i);
      }
    });
  }
  for (auto& w : writers) w.join();
  const auto lines = ReadLines(LogPath());
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (const auto& line : lines) ASSERT_THAT(line, ::testing::MatchesRegex(".* L1 m writer: thread [0-9] line [0-9]+ end"));
}

}  // namespace
