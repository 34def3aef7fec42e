#include <sys/stat.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/named_event.h"
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
  EXPECT_FALSE(first->AlreadyExisted());

  // The initial state of a second creation is ignored: the event is signalled.
  auto second = Create(kName, true, false, &error);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(error, kErrorAlreadyExists);
  EXPECT_EQ(Poll(second.get()), 0);
  second->Reset();
  EXPECT_EQ(Poll(first.get()), kWaitTimeout);

  // Once every holder is gone nobody holds the event, and a new creator
  // starts from its own initial state.
  first.reset();
  second.reset();
  EXPECT_EQ(NamedEvent::OpenExisting(kName, &error), nullptr);
  auto fresh = Create(kName, true, false);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(Poll(fresh.get()), kWaitTimeout);
}

TEST(PlatformNamedEvent, InvalidNamesAndNamesTakenByOtherFilesFailCleanly) {
  TempFolder root(true);
  for (const std::string& name : {std::string("Global\\"), std::string("Global\\a\\b"), std::string(".."),
                                  std::string(201, 'x')}) {
    uint32_t error = 0;
    EXPECT_EQ(Create(name, true, false, &error), nullptr) << name;
    EXPECT_EQ(error, kErrorInvalidName) << name;
  }
  EXPECT_NE(Create("Local\\agbldn_1.0 7.60", true, false), nullptr);  // blanks and dots are fine
  std::ofstream(NamedEvent::Folder() + "plain") << "not a fifo";
  uint32_t error = 0;
  EXPECT_EQ(Create("Global\\plain", true, false, &error), nullptr);
  EXPECT_EQ(error, kErrorInvalidHandle);
}

}  // namespace
}  // namespace platform
