// INI rewrites against planted files and against other writers: the
// temporary file cannot be redirected, the file keeps its owner and mode, and
// two processes writing one file keep each other's updates.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "other_process.h"
#include "platform/ini.h"
#include "platform/thread.h"
#include "platform/utf.h"
#include "temp_folder.h"

namespace platform {
namespace {

class HostileLocalIni : public ::testing::Test {
 protected:
  bool Write(const std::string& key, const std::string& value) const {
    return WritePrivateProfileStringW(u"Settings", Wide(key).c_str(), Wide(value).c_str(), Wide(ini_).c_str());
  }
  std::string Read(const std::string& key) const {
    char16_t buffer[64] = {};
    GetPrivateProfileStringW(u"Settings", Wide(key).c_str(), u"", buffer, 64, Wide(ini_).c_str());
    return Utf16ToUtf8(buffer).value_or("");
  }
  static std::u16string Wide(const std::string& text) { return Utf8ToUtf16(text).value_or(u""); }

  platform_test::TempFolder folder_;
  std::string ini_ = folder_.Path() + "agent.ini";
};

// The rewrite keeps the file's owner and mode, and goes through a file of its
// own: a symlink planted under every name its temporary file could have had
// before is never written through.
TEST_F(HostileLocalIni, RewriteKeepsModeAndOwnerAndNeverWritesThroughAPlantedSymlink) {
  std::ofstream(ini_) << "[Settings]\nA=1\n";
  ASSERT_EQ(chmod(ini_.c_str(), 0604), 0);
  const bool other_owner = hostile_test::CanActAsAnotherUser();
  if (other_owner) {
    ASSERT_EQ(chown(ini_.c_str(), hostile_test::kNobody, hostile_test::kNobody), 0);
  }
  const std::string victim = folder_.Path() + "victim";
  std::ofstream(victim) << "precious\n";
  const std::string predictable = ini_ + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(CurrentThreadId());
  ASSERT_EQ(symlink(victim.c_str(), predictable.c_str()), 0);
  ASSERT_TRUE(Write("B", "2"));
  std::string victim_text;
  std::getline(std::ifstream(victim), victim_text);
  EXPECT_EQ(victim_text, "precious");
  struct stat info {};
  ASSERT_EQ(stat(ini_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  if (other_owner) {
    EXPECT_EQ(info.st_uid, hostile_test::kNobody);
  }
  EXPECT_EQ(Read("A") + Read("B"), "12");
}

// While another process of the agent's user holds the file's write lock, a
// write waits a bounded time and then fails, leaving the file as it was:
// going ahead would lose the other process's update.
TEST_F(HostileLocalIni, WriteGivesUpWhileAnotherProcessHoldsTheLock) {
  ASSERT_TRUE(Write("A", "1"));
  hostile_test::Holder holder(
      [&] {
        const int fd = open((ini_ + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
        return fd >= 0 && flock(fd, LOCK_EX) == 0 ? 0 : 1;
      },
      false);
  ASSERT_TRUE(holder.holding());
  EXPECT_FALSE(Write("A", "2"));
  EXPECT_EQ(Read("A"), "1");
  EXPECT_EQ(holder.Release(), 0);
  EXPECT_TRUE(Write("A", "3"));
  EXPECT_EQ(Read("A"), "3");
}

// Two processes each add their own keys to one file: none is lost.
TEST_F(HostileLocalIni, TwoProcessesWritingOneFileKeepEachOthersUpdates) {
  constexpr int kKeysEach = 30;
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = hostile_test::Spawn(
        [&, w] {
          for (int i = 0; i < kKeysEach; ++i) {
            if (!Write(std::to_string(w * kKeysEach + i), "x")) return 1;
          }
          return 0;
        },
        false);
  }
  for (const pid_t writer : writers) ASSERT_EQ(hostile_test::Wait(writer), 0);
  for (int i = 0; i < 2 * kKeysEach; ++i) EXPECT_EQ(Read(std::to_string(i)), "x") << i;
}

}  // namespace
}  // namespace platform
