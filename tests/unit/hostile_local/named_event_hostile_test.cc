// Named events: their holders share one state, and local users who are not
// the agent cannot hold up the agent with locks, cannot create or squat a
// name, and may set (only) an event the agent made settable by everyone.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "other_process.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "temp_folder.h"

namespace platform {
namespace {

using hostile_test::CanActAsAnotherUser;
using platform_test::TempFolder;

constexpr const char* kStatusEvent = "Global\\VXAV_Installation_Status";

int Poll(Waitable* waitable) {
  Waitable* handles[] = {waitable};
  return WaitAnyRealTime(handles, 0);
}

std::unique_ptr<NamedEvent> CreateSettableByEveryone(std::string_view name) {
  EveryoneSecurityAttributes everyone;
  const SecurityAttributes* attributes = nullptr;
  if (!everyone.Build(kEventModifyState, &attributes)) return nullptr;
  auto event = NamedEvent::CreateOrOpen(name, true, false, attributes, nullptr);
  everyone.Release();
  return event;
}

class HostileLocalNamedEvent : public ::testing::Test {
 protected:
  HostileLocalNamedEvent() { chmod(root_.Path().c_str(), 0755); }  // reachable by the other user
  TempFolder root_{true};
};

// The build launcher's check and the installation-status signal ask whether
// anybody holds a name: holders share one state, and once every holder is
// gone the name is not found.
TEST_F(HostileLocalNamedEvent, HoldersShareOneStateAndANameNobodyHoldsIsNotFound) {
  uint32_t error = 99;
  EXPECT_EQ(NamedEvent::OpenExisting(kStatusEvent, &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
  auto first = NamedEvent::CreateOrOpen(kStatusEvent, true, true, nullptr, &error);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->AlreadyExisted());
  auto second = NamedEvent::CreateOrOpen(kStatusEvent, true, false, nullptr, &error);  // its initial state is ignored
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(error, kErrorAlreadyExists);
  EXPECT_EQ(Poll(second.get()), 0);
  second->Reset();
  EXPECT_EQ(Poll(first.get()), kWaitTimeout);
  first.reset();
  second.reset();
  EXPECT_EQ(NamedEvent::OpenExisting(kStatusEvent, &error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
}

// Another process (of another user when we can) holds exclusive flocks on
// the events folder and on the event's FIFO, as `flock <folder> sleep` would:
// creating, setting and resetting events still completes.
TEST_F(HostileLocalNamedEvent, LocksHeldByAnotherProcessDoNotHoldUpTheAgent) {
  auto status = CreateSettableByEveryone(kStatusEvent);
  ASSERT_NE(status, nullptr);
  const std::string folder = NamedEvent::Folder();
  hostile_test::Holder holder(
      [&] {
        const int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        const int fifo_fd = open((folder + "VXAV_Installation_Status").c_str(), O_WRONLY | O_NONBLOCK);
        return folder_fd >= 0 && fifo_fd >= 0 && flock(folder_fd, LOCK_EX) == 0 && flock(fifo_fd, LOCK_EX) == 0 ? 0
                                                                                                              : 1;
      },
      CanActAsAnotherUser());
  ASSERT_TRUE(holder.holding());
  // The agent's side runs in a child of its own, so that a hang fails the
  // test instead of stalling it.
  const int agent = hostile_test::Run(
      [&] {
        auto other = NamedEvent::CreateOrOpen("Global\\agbldn_1.0", true, false, nullptr, nullptr);
        if (other == nullptr || !status->Set() || Poll(status.get()) != 0 || !status->Reset()) return 1;
        return Poll(status.get()) == kWaitTimeout ? 0 : 2;
      },
      false);
  EXPECT_EQ(agent, 0);
  EXPECT_EQ(holder.Release(), 0);
}

// Another user may set the status event, which the agent made for that; it
// may neither reset it, nor open the agent's private events, nor create a
// name of its own. When an older version left the folder world-writable and
// another user planted and holds a FIFO under the name of the build
// launcher's event, the agent closes the folder and neither opens nor adopts
// the impostor.
TEST_F(HostileLocalNamedEvent, AnotherUserSetsOnlyWhatIsSettableAndItsNamesAreRefused) {
  if (!CanActAsAnotherUser()) GTEST_SKIP() << "needs to run as the superuser to act as another user";
  auto status = CreateSettableByEveryone(kStatusEvent);
  auto own = NamedEvent::CreateOrOpen("Global\\agent_only", true, false, nullptr, nullptr);
  ASSERT_NE(status, nullptr);
  ASSERT_NE(own, nullptr);
  const int other_user = hostile_test::Run(
      [] {
        uint32_t error = 0;
        auto settable = NamedEvent::OpenExisting(kStatusEvent, &error);
        if (settable == nullptr || !settable->Set()) return 1;
        if (settable->Reset()) return 2;
        if (NamedEvent::OpenExisting("Global\\agent_only", &error) != nullptr || error != kErrorAccessDenied) return 3;
        if (NamedEvent::CreateOrOpen("Global\\squatted", true, true, nullptr, &error) != nullptr) return 4;
        return access((NamedEvent::Folder() + "squatted").c_str(), F_OK) == 0 ? 5 : 0;
      },
      true);
  EXPECT_EQ(other_user, 0);
  EXPECT_EQ(Poll(status.get()), 0);

  const std::string folder = NamedEvent::Folder();
  ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
  hostile_test::Holder squatter(
      [&] {
        const std::string path = folder + "agbldn_1.0";
        return mkfifo(path.c_str(), 0666) == 0 && open(path.c_str(), O_RDONLY | O_NONBLOCK) >= 0 ? 0 : 1;
      },
      true);
  ASSERT_TRUE(squatter.holding());
  uint32_t error = 0;
  EXPECT_EQ(NamedEvent::OpenExisting("Global\\agbldn_1.0", &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidOwner);
  EXPECT_EQ(NamedEvent::CreateOrOpen("Global\\agbldn_1.0", true, false, nullptr, &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidOwner);
  struct stat info {};
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  EXPECT_EQ(squatter.Release(), 0);
}

}  // namespace
}  // namespace platform
