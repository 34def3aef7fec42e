#include <gtest/gtest.h>

#include "platform/event.h"

namespace platform {
namespace {

// Every wait of the agent (stop signals, the task queue, the heartbeat) is a
// WaitAny over events: a manual-reset event stays set, an auto-reset one is
// taken by one wait, and the lowest signalled index wins.
TEST(PlatformEvent, ResetModesAndTheLowestSignalledIndex) {
  auto manual = Event::Create(Event::Reset::kManual, false);
  auto automatic = Event::Create(Event::Reset::kAuto, true);
  auto late = Event::Create(Event::Reset::kManual, true);
  Waitable* handles[] = {manual.get(), automatic.get(), late.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 1);
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 2);  // the auto-reset event was taken
  ASSERT_TRUE(manual->Set());
  EXPECT_EQ(WaitAnyRealTime(handles, 0), 0);
  EXPECT_EQ(WaitAnyRealTime(handles, 0), 0);
  ASSERT_TRUE(manual->ResetEvent());
  ASSERT_TRUE(late->ResetEvent());
  EXPECT_EQ(WaitAnyRealTime(handles, 0), kWaitTimeout);
  EXPECT_EQ(WaitAnyRealTime({}, kInfinite), kWaitFailed);  // would never return
}

}  // namespace
}  // namespace platform
