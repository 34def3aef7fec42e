#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace platform {
namespace {

std::unique_ptr<Event> MakeEvent(Event::Reset mode, bool signalled = false) {
  auto event = Event::Create(mode, signalled);
  EXPECT_NE(event, nullptr);
  return event;
}

TEST(PlatformEvent, ManualResetStaysSignalledUntilReset) {
  auto event = MakeEvent(Event::Reset::kManual);
  Waitable* handles[] = {event.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, 0), kWaitTimeout);
  ASSERT_TRUE(event->Set());
  EXPECT_EQ(WaitAnyRealTime(handles, 0), 0);
  EXPECT_EQ(WaitAnyRealTime(handles, 0), 0);
  EXPECT_TRUE(event->IsSet());
  ASSERT_TRUE(event->ResetEvent());
  EXPECT_FALSE(event->IsSet());
  EXPECT_EQ(WaitAnyRealTime(handles, 0), kWaitTimeout);
  EXPECT_TRUE(event->ResetEvent());  // resetting a reset event is fine
}

TEST(PlatformEvent, AutoResetIsConsumedAndSeveralSetsCountAsOne) {
  auto event = MakeEvent(Event::Reset::kAuto, true);
  Waitable* handles[] = {event.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, 0), 0);
  EXPECT_EQ(WaitAnyRealTime(handles, 0), kWaitTimeout);
  event->Set();
  event->Set();
  event->Set();
  EXPECT_EQ(WaitAnyRealTime(handles, 0), 0);
  EXPECT_EQ(WaitAnyRealTime(handles, 0), kWaitTimeout);
}

TEST(PlatformEvent, WaitAnyReturnsLowestSignalledIndex) {
  auto a = MakeEvent(Event::Reset::kManual);
  auto b = MakeEvent(Event::Reset::kAuto, true);
  auto c = MakeEvent(Event::Reset::kManual, true);
  Waitable* handles[] = {a.get(), b.get(), c.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 1);
  // b was auto-reset and consumed, c is next.
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 2);
  a->Set();
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 0);
}

TEST(PlatformEvent, WaitTimesOutAndRejectsUnwaitableInput) {
  auto event = MakeEvent(Event::Reset::kManual);
  Waitable* handles[] = {event.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, 1), kWaitTimeout);
  EXPECT_EQ(WaitAnyRealTime({}, kInfinite), kWaitFailed);  // would never return
  EXPECT_EQ(WaitAnyRealTime({}, 0), kWaitTimeout);
  Waitable* null_handle[] = {nullptr};
  EXPECT_EQ(WaitAnyRealTime(null_handle, 0), kWaitFailed);
}

TEST(PlatformEvent, SetFromAnotherThreadWakesInfiniteWait) {
  auto event = MakeEvent(Event::Reset::kAuto);
  Waitable* handles[] = {event.get()};
  std::thread setter([&] { event->Set(); });
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 0);
  setter.join();
  EXPECT_FALSE(event->IsSet());
}

TEST(PlatformEvent, AutoResetWakesOnlyOneOfTwoWaiters) {
  auto event = MakeEvent(Event::Reset::kAuto);
  auto stop = MakeEvent(Event::Reset::kManual);
  std::atomic<int> woken{0};
  auto waiter = [&] {
    Waitable* handles[] = {event.get(), stop.get()};
    if (WaitAnyRealTime(handles, kInfinite) == 0) {
      ++woken;
    }
  };
  std::thread first(waiter);
  std::thread second(waiter);
  event->Set();
  while (woken.load() == 0) {
    std::this_thread::yield();
  }
  stop->Set();
  first.join();
  second.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(PlatformClock, ManualClockMakesAFifteenDayWaitInstant) {
  ManualClock clock(1'000'000);
  ScopedClock scoped(&clock);
  auto event = MakeEvent(Event::Reset::kManual);
  Waitable* handles[] = {event.get()};
  constexpr uint32_t kFifteenDaysMs = 15u * 24 * 3600 * 1000;
  EXPECT_EQ(GetClock().WaitAny(handles, kFifteenDaysMs), kWaitTimeout);
  EXPECT_EQ(GetClock().NowSeconds(), 1'000'000 + 15 * 24 * 3600);
  // A signalled handle returns at once and time stands still.
  event->Set();
  EXPECT_EQ(GetClock().WaitAny(handles, kFifteenDaysMs), 0);
  EXPECT_EQ(GetClock().NowSeconds(), 1'000'000 + 15 * 24 * 3600);
  GetClock().SleepMs(1500);
  EXPECT_EQ(GetClock().NowMilliseconds(), (1'000'000 + 15 * 24 * 3600) * 1000LL + 1500);
  clock.SetNowSeconds(42);
  EXPECT_EQ(clock.NowSeconds(), 42);
}

TEST(PlatformClock, ManualClockInfiniteWaitBlocksUntilSignalled) {
  ManualClock clock(100);
  auto event = MakeEvent(Event::Reset::kManual);
  Waitable* handles[] = {event.get()};
  std::thread setter([&] { event->Set(); });
  EXPECT_EQ(clock.WaitAny(handles, kInfinite), 0);
  setter.join();
  EXPECT_EQ(clock.NowSeconds(), 100);
}

TEST(PlatformClock, ScopedClockRestoresThePreviousClock) {
  Clock* original = &GetClock();
  {
    ManualClock outer;
    ScopedClock scoped_outer(&outer);
    {
      ManualClock inner;
      ScopedClock scoped_inner(&inner);
      EXPECT_EQ(&GetClock(), &inner);
    }
    EXPECT_EQ(&GetClock(), &outer);
  }
  EXPECT_EQ(&GetClock(), original);
  SetClock(nullptr);
  EXPECT_EQ(&GetClock(), original);  // null restores the default system clock
}

TEST(PlatformClock, SystemClockScaleShortensWaits) {
  // One hour scaled by 1e-9 is no wait at all; the result, not the time, is asserted.
  SystemClock clock(1e-9);
  auto event = MakeEvent(Event::Reset::kManual);
  Waitable* handles[] = {event.get()};
  EXPECT_EQ(clock.WaitAny(handles, 3'600'000), kWaitTimeout);
  clock.SleepMs(3'600'000);
  EXPECT_GT(clock.NowSeconds(), 1'600'000'000);
}

TEST(PlatformThread, JoinReturnsTheBodysResultAndIdIsTheOsThreadId) {
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

TEST(PlatformThread, DetachedThreadRunsToTheEnd) {
  auto done = MakeEvent(Event::Reset::kManual);
  auto thread = Thread::Start([&] {
    done->Set();
    return 0u;
  });
  ASSERT_NE(thread, nullptr);
  thread->Detach();
  thread.reset();
  Waitable* handles[] = {done.get()};
  EXPECT_EQ(WaitAnyRealTime(handles, kInfinite), 0);
}

}  // namespace
}  // namespace platform
