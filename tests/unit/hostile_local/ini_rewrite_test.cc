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

using hostile_test::Handshake;
using platform_test::TempFolder;

std::u16string Wide(const std::string& text) { return Utf8ToUtf16(text).value_or(u""); }

bool Write(const std::string& file, const std::string& key, const std::string& value) {
  return WritePrivateProfileStringW(u"Settings", Wide(key).c_str(), Wide(value).c_str(), Wide(file).c_str());
}

std::string Read(const std::string& file, const std::string& key) {
  char16_t buffer[64] = {};
  GetPrivateProfileStringW(u"Settings", Wide(key).c_str(), u"", buffer, 64, Wide(file).c_str());
  return Utf16ToUtf8(buffer).value_or("");
}

// Every name a rewrite could have used for its temporary file before: a
// symlink planted there must not be written through.
TEST(HostileLocalIni, PlantedSymlinkIsNeverWrittenThrough) {
  TempFolder folder;
  const std::string ini = folder.Path() + "agent.ini";
  const std::string victim = folder.Path() + "victim";
  std::ofstream(victim) << "precious\n";
  const std::string predictable = ini + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(CurrentThreadId());
  ASSERT_EQ(symlink(victim.c_str(), predictable.c_str()), 0);

  ASSERT_TRUE(Write(ini, "Interval", "30"));
  std::string victim_text;
  std::getline(std::ifstream(victim), victim_text);
  EXPECT_EQ(victim_text, "precious");
  EXPECT_EQ(Read(ini, "Interval"), "30");
}

TEST(HostileLocalIni, RewriteKeepsModeAndOwner) {
  TempFolder folder;
  const std::string ini = folder.Path() + "agent.ini";
  std::ofstream(ini) << "[Settings]\nA=1\n";
  ASSERT_EQ(chmod(ini.c_str(), 0604), 0);
  const bool other_owner = hostile_test::CanActAsAnotherUser();
  if (other_owner) {
    ASSERT_EQ(chown(ini.c_str(), hostile_test::kNobody, hostile_test::kNobody), 0);
  }
  ASSERT_TRUE(Write(ini, "B", "2"));
  struct stat info {};
  ASSERT_EQ(stat(ini.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  if (other_owner) {
    EXPECT_EQ(info.st_uid, hostile_test::kNobody);
    EXPECT_EQ(info.st_gid, hostile_test::kNobody);
  }
  EXPECT_EQ(Read(ini, "A"), "1");
}

// While another process of the agent's user holds the file's write lock, a
// write waits a bounded time and then fails, leaving the file as it was:
// going ahead would lose the other process's update.
TEST(HostileLocalIni, WriteGivesUpWhileAnotherProcessHoldsTheLock) {
  TempFolder folder;
  const std::string ini = folder.Path() + "agent.ini";
  ASSERT_TRUE(Write(ini, "A", "1"));
  Handshake handshake;
  const pid_t holder = hostile_test::Spawn(
      [&] {
        const int fd = open((ini + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
        if (fd < 0 || flock(fd, LOCK_EX) != 0) return 1;
        handshake.TellReady();
        handshake.AwaitFinish();
        return 0;
      },
      false);
  ASSERT_TRUE(handshake.AwaitReady());
  EXPECT_FALSE(Write(ini, "A", "2"));
  EXPECT_EQ(Read(ini, "A"), "1");
  handshake.TellFinish();
  EXPECT_EQ(hostile_test::Wait(holder), 0);
  EXPECT_TRUE(Write(ini, "A", "3"));
  EXPECT_EQ(Read(ini, "A"), "3");
}

// Two processes each add their own keys to one file: none is lost.
TEST(HostileLocalIni, TwoProcessesWritingOneFileKeepEachOthersUpdates) {
  TempFolder folder;
  const std::string ini = folder.Path() + "agent.ini";
  constexpr int kKeysEach = 30;
  auto writer = [&](const char* prefix) {
    return [&, prefix] {
      for (int i = 0; i < kKeysEach; ++i) {
        if (!Write(ini, prefix + std::to_string(i), "x")) return 1;
      }
      return 0;
    };
  };
  const pid_t first = hostile_test::Spawn(writer("a"), false);
  const pid_t second = hostile_test::Spawn(writer("b"), false);
  ASSERT_EQ(hostile_test::Wait(first), 0);
  ASSERT_EQ(hostile_test::Wait(second), 0);
  for (int i = 0; i < 2 * kKeysEach; ++i) {
    const std::string key = (i < kKeysEach ? "a" : "b") + std::to_string(i % kKeysEach);
    EXPECT_EQ(Read(ini, key), "x") << key;
  }
}

}  // namespace
}  // namespace platform
