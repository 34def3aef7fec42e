#include <sys/stat.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "temp_folder.h"

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

TEST(PlatformNamedEvent, HoldersShareOneStateAndANameNobodyHoldsIsNotFound) {
  TempFolder root(true);
  uint32_t error = 99;
  EXPECT_EQ(NamedEvent::OpenExisting(kName, &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
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
  auto opened = NamedEvent::OpenExisting(kName, &error);
  ASSERT_NE(opened, nullptr);
  opened->Set();
  EXPECT_EQ(Poll(first.get()), 0);

  // The FIFO stays on disk, but once every holder is gone nobody holds the
  // event, and a new creator starts from its own initial state.
  first.reset();
  second.reset();
  opened.reset();
  EXPECT_EQ(NamedEvent::OpenExisting(kName, &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
  auto fresh = Create(kName, true, false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(fresh->AlreadyExisted());
  EXPECT_EQ(Poll(fresh.get()), kWaitTimeout);
}

TEST(PlatformNamedEvent, InvalidNamesAndNamesTakenByOtherFilesFailCleanly) {
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
  const auto mode = [](const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  };
  EXPECT_EQ(mode(NamedEvent::Folder() + "world"), 0622u);  // others set it, but cannot read or reset it
  EXPECT_EQ(mode(NamedEvent::Folder() + "own"), 0600u);
  EXPECT_EQ(mode(NamedEvent::Folder()), 0755u);  // only the agent's user creates events
}

#ifdef AGEVENT_PATH
TEST(PlatformNamedEvent, AnotherProcessSetsTheEventWhileWeWaitAndReportsAMissingOne) {
  TempFolder root(true);
  auto event = Create(kName, true, false);
  ASSERT_NE(event, nullptr);
  const std::string set = "--machine-root " + root.Path() + " set Global\\VXAV_Installation_Status";
  const ShellStartResult started = ShellStart(AGEVENT_PATH, nullptr, set.c_str(), false, false, nullptr);
  ASSERT_TRUE(started.ok) << started.error;
  Waitable* handles[] = {event.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, 30'000), 0);

  const std::string open = "--machine-root " + root.Path() + " open Global\\nobody";
  const ShellStartResult missing = ShellStart(AGEVENT_PATH, "open", open.c_str(), true, false, nullptr);
  ASSERT_TRUE(missing.ok);
  EXPECT_EQ(missing.exit_code, 1u);
}
#endif

}  // namespace
}  // namespace platform
