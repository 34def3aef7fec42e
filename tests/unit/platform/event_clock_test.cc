#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace platform {
namespace {

int Poll(Event& event) {
  Waitable* handles[] = {&event};
  return WaitAnyRealTime(handles, 0);
}

TEST(PlatformEvent, ManualResetStaysSetAutoResetIsConsumedOnce) {
  auto manual = Event::Create(Event::Reset::kManual, false);
  auto automatic = Event::Create(Event::Reset::kAuto, true);
  ASSERT_NE(manual, nullptr);
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(Poll(*manual), kWaitTimeout);
  ASSERT_TRUE(manual->Set());
  EXPECT_EQ(Poll(*manual), 0);
  EXPECT_EQ(Poll(*manual), 0);
  ASSERT_TRUE(manual->ResetEvent());
  EXPECT_EQ(Poll(*manual), kWaitTimeout);

  EXPECT_EQ(Poll(*automatic), 0);
  EXPECT_EQ(Poll(*automatic), kWaitTimeout);
  automatic->Set();
  automatic->Set();  // several sets count as one
  EXPECT_EQ(Poll(*automatic), 0);
  EXPECT_EQ(Poll(*automatic), kWaitTimeout);
}

TEST(PlatformEvent, WaitAnyReturnsTheLowestSignalledIndexAndRefusesWhatNeverWakes) {
  auto a = Event::Create(Event::Reset::kManual, false);
  auto b = Event::Create(Event::Reset::kAuto, true);
  auto c = Event::Create(Event::Reset::kManual, true);
  Waitable* handles[] = {a.get(), b.get(), c.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 1);
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 2);  // b was consumed
  a->Set();
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 0);
  EXPECT_EQ(WaitAnyRealTime({}, kInfinite), kWaitFailed);  // would never return
  EXPECT_EQ(WaitAnyRealTime({}, 0), kWaitTimeout);
  Waitable* null_handle[] = {nullptr};
  EXPECT_EQ(WaitAnyRealTime(null_handle, 0), kWaitFailed);
}

TEST(PlatformEvent, AutoResetWakesOnlyOneOfTwoWaiters) {
  auto event = Event::Create(Event::Reset::kAuto, false);
  auto stop = Event::Create(Event::Reset::kManual, false);
  std::atomic<int> woken{0};
  auto waiter = [&] {
    Waitable* handles[] = {event.get(), stop.get()};
    if (WaitAnyRealTime(handles, kInfinite) == 0) ++woken;
  };
  std::thread first(waiter);
  std::thread second(waiter);
  event->Set();
  while (woken.load() == 0) std::this_thread::yield();
  stop->Set();
  first.join();
  second.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(PlatformClock, ManualClockMakesAFifteenDayWaitInstantAndScopedClockRestores) {
  Clock* original = &GetClock();
  {
    ManualClock clock(1'000'000);
    ScopedClock scoped(&clock);
    auto event = Event::Create(Event::Reset::kManual, false);
    Waitable* handles[] = {event.get()};
    constexpr uint32_t kFifteenDaysMs = 15u * 24 * 3600 * 1000;
    EXPECT_EQ(GetClock().WaitAny(handles, kFifteenDaysMs), kWaitTimeout);
    EXPECT_EQ(GetClock().NowSeconds(), 1'000'000 + 15 * 24 * 3600);
    event->Set();  // a signalled handle returns at once and time stands still
    EXPECT_EQ(GetClock().WaitAny(handles, kFifteenDaysMs), 0);
    GetClock().SleepMs(1500);
    EXPECT_EQ(GetClock().NowMilliseconds(), (1'000'000 + 15 * 24 * 3600) * 1000LL + 1500);
  }
  EXPECT_EQ(&GetClock(), original);
}

TEST(PlatformThread, JoinReturnsTheBodysResultAndIdIsTheThreadsOwn) {
  std::atomic<uint32_t> seen_id{0};
  auto thread = Thread::Start([&] {
    seen_id = CurrentThreadId();
    return 1234u;
  });
  ASSERT_NE(thread, nullptr);
  const uint32_t id = thread->Id();
  EXPECT_EQ(thread->Join(), 1234u);
  EXPECT_EQ(seen_id.load(), id);
  EXPECT_NE(id, CurrentThreadId());
}

}  // namespace
}  // namespace platform
