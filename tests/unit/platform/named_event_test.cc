#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "temp_folder.h"

extern char** environ;

namespace platform {
namespace {

using platform_test::TempFolder;

constexpr const char* kName = "Global\\VXAV_Installation_Status";

std::unique_ptr<NamedEvent> Create(std::string_view name, bool manual, bool signalled, uint32_t* error = nullptr) {
  return NamedEvent::CreateOrOpen(name, manual, signalled, nullptr, error);
}

int Poll(Waitable* waitable) {
  Waitable* handles[] = {waitable};
  return WaitAnyRealTime(handles, 0);
}

TEST(PlatformNamedEvent, CreatingAHeldNameYieldsItWithItsCurrentState) {
  TempFolder root(true);
  uint32_t error = 99;
  auto first = Create(kName, true, true, &error);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(error, kErrorSuccess);
  EXPECT_FALSE(first->AlreadyExisted());
  EXPECT_EQ(first->Name(), "VXAV_Installation_Status");

  // The initial state of a second creation is ignored: the event is signalled.
  auto second = Create(kName, true, false, &error);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(error, kErrorAlreadyExists);
  EXPECT_TRUE(second->AlreadyExisted());
  EXPECT_EQ(Poll(second.get()), 0);

  second->Reset();
  EXPECT_EQ(Poll(first.get()), kWaitTimeout);
  second->Set();
  EXPECT_EQ(Poll(first.get()), 0);
}

TEST(PlatformNamedEvent, OpenForSetFailsWithNotFoundWhenNobodyHoldsIt) {
  TempFolder root(true);
  uint32_t error = 0;
  EXPECT_EQ(NamedEvent::OpenExisting(kName, &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);

  auto holder = Create(kName, true, false);
  ASSERT_NE(holder, nullptr);
  auto opened = NamedEvent::OpenExisting(kName, &error);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(error, kErrorSuccess);
  opened->Set();
  EXPECT_EQ(Poll(holder.get()), 0);

  // The FIFO stays on disk, but once every holder is gone nobody holds the event.
  holder.reset();
  opened.reset();
  error = 0;
  EXPECT_EQ(NamedEvent::OpenExisting(kName, &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
  // ...and a new creator starts from its own initial state, not the old signal.
  auto fresh = Create(kName, true, false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(fresh->AlreadyExisted());
  EXPECT_EQ(Poll(fresh.get()), kWaitTimeout);
}

TEST(PlatformNamedEvent, InvalidNamesFailCleanly) {
  TempFolder root(true);
  for (const std::string& name : {std::string(), std::string("Global\\"), std::string("a/b"),
                                  std::string("Global\\a\\b"), std::string(".."), std::string(201, 'x'),
                                  std::string("nul\0byte", 8)}) {
    uint32_t error = 0;
    EXPECT_EQ(Create(name, true, false, &error), nullptr) << name;
    EXPECT_EQ(error, kErrorInvalidName) << name;
    EXPECT_EQ(NamedEvent::OpenExisting(name, &error), nullptr) << name;
    EXPECT_EQ(error, kErrorInvalidName) << name;
  }
  EXPECT_NE(Create("Local\\agbldn_1.0 7.60", true, false), nullptr);  // blanks and dots are fine
}

TEST(PlatformNamedEvent, NameTakenByAnotherKindOfFileIsRefused) {
  TempFolder root(true);
  ASSERT_TRUE(EnsureFolder(NamedEvent::Folder()));
  std::ofstream(NamedEvent::Folder() + "plain") << "not a fifo";
  uint32_t error = 0;
  EXPECT_EQ(Create("Global\\plain", true, false, &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidHandle);
}

TEST(PlatformNamedEvent, AutoResetIsConsumedByOneWaitAndOpenersKeepTheMode) {
  TempFolder root(true);
  auto event = Create("auto", false, false);
  ASSERT_NE(event, nullptr);
  auto opener = NamedEvent::OpenExisting("auto");
  ASSERT_NE(opener, nullptr);
  opener->Set();
  opener->Set();
  EXPECT_EQ(Poll(opener.get()), 0);  // the opener waits with the creator's auto reset
  EXPECT_EQ(Poll(event.get()), kWaitTimeout);
  opener->Set();
  EXPECT_EQ(Poll(event.get()), 0);
  EXPECT_EQ(Poll(opener.get()), kWaitTimeout);
}

TEST(PlatformNamedEvent, JoinsWaitAnyWithUnnamedEventsLowestIndexFirst) {
  TempFolder root(true);
  auto named = Create(kName, true, false);
  auto cleanup = Event::Create(Event::Reset::kManual, true);
  ASSERT_NE(named, nullptr);
  Waitable* handles[] = {named.get(), cleanup.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, 0), 1);
  named->Set();
  EXPECT_EQ(WaitAnyRealTime(handles, 0), 0);  // a pending status is served before clean-up
}

TEST(PlatformNamedEvent, EveryoneAttributesMakeTheEventWorldSettable) {
  TempFolder root(true);
  EveryoneSecurityAttributes holder;
  const SecurityAttributes* attributes = nullptr;
  ASSERT_TRUE(holder.Build(kEventModifyState, &attributes));
  auto world = NamedEvent::CreateOrOpen("world", true, false, attributes, nullptr);
  holder.Release();
  auto own = Create("own", true, false);
  ASSERT_NE(world, nullptr);
  ASSERT_NE(own, nullptr);
  struct stat info {};
  ASSERT_EQ(stat((NamedEvent::Folder() + "world").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0622u);  // others set it, but cannot read or reset it
  ASSERT_EQ(stat((NamedEvent::Folder() + "own").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(NamedEvent::Folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);  // only the agent's user creates events
}

#ifdef AGEVENT_PATH
TEST(PlatformNamedEvent, AnotherProcessSetsTheEventWhileWeWait) {
  TempFolder root(true);
  auto event = Create(kName, true, false);
  ASSERT_NE(event, nullptr);
  const std::string parameters = "--machine-root " + root.Path() + " set Global\\VXAV_Installation_Status";
  const ShellStartResult started = ShellStart(AGEVENT_PATH, nullptr, parameters.c_str(), false, false, nullptr);
  ASSERT_TRUE(started.ok) << started.error;
  Waitable* handles[] = {event.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, 30'000), 0);
}

// An `agevent create` child whose stdout we read; killed (SIGTERM ends its
// wait cleanly) if the test ends before the child does.
class AgeventChild {
 public:
  AgeventChild(const std::string& root, const char* name) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const char* argv[] = {AGEVENT_PATH, "--machine-root", root.c_str(), "create", "--auto", name, nullptr};
    EXPECT_EQ(posix_spawn(&pid_, AGEVENT_PATH, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    output_ = fdopen(fds[0], "r");
  }
  ~AgeventChild() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      Wait();
    }
    fclose(output_);
  }
  std::string ReadLine() {
    char line[256] = {};
    return fgets(line, sizeof line, output_) != nullptr ? line : "";
  }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return status;
  }

 private:
  pid_t pid_ = 0;
  FILE* output_ = nullptr;
};

TEST(PlatformNamedEvent, WeSetAnEventThatAnotherProcessHolds) {
  TempFolder root(true);
  AgeventChild child(root.Path(), "Global\\agbldn_1.0");
  // The child prints its first line once the event exists.
  EXPECT_EQ(child.ReadLine(), "waiting Global\\agbldn_1.0\n");
  auto opened = NamedEvent::OpenExisting("Global\\agbldn_1.0");
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(opened->Set());
  EXPECT_EQ(child.ReadLine(), "signalled\n");
  const int status = child.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The child took the auto-reset signal; ours stays unsignalled.
  EXPECT_EQ(Poll(opened.get()), kWaitTimeout);
}

TEST(PlatformNamedEvent, AgeventReportsAMissingEventWithExitCodeOne) {
  TempFolder root(true);
  const std::string parameters = "--machine-root " + root.Path() + " open Global\\nobody";
  const ShellStartResult result = ShellStart(AGEVENT_PATH, "open", parameters.c_str(), true, false, nullptr);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.exit_code, 1u);
}
#endif

}  // namespace
}  // namespace platform
