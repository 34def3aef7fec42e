#include "core/casupp/send_frequency.h"

#include <gtest/gtest.h>

#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "tests/unit/mocks/fake_support_library.h"

namespace {

// The window itself is ThrottleTest's; here what it does not reach: a store
// that cannot open never holds the installation status back, and a clock
// that fails is recorded as 0 (the next check takes it for the first time).
TEST(SendFrequencyTest, UnopenableStoreNeverSuppressesASendAndAFailingClockIsRecordedAsZero) {
  constexpr uint32_t kEvent = CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS;
  InMemorySupportLibrary support;
  ScopedSiblings siblings(SiblingSet{.support = &support});
  platform::ManualClock clock(1'700'000'000);
  platform::ScopedClock scopedClock(&clock);
  support.Fail(InMemorySupportLibrary::Op::kOpen);
  EXPECT_TRUE(EventTimeElapsed(kEvent, nullptr));
  EXPECT_FALSE(AddLastSyncTimeInDB(kEvent));
  support.Fail(InMemorySupportLibrary::Op::kOpen, false);
  clock.SetNowSeconds(-1);
  EXPECT_TRUE(AddLastSyncTimeInDB(kEvent));
  int32_t frequency = 0;
  int64_t lastSync = 1;
  support.CLGetDataByEvtID(nullptr, kEvent, &frequency, &lastSync);
  EXPECT_EQ(std::make_pair(frequency, lastSync), std::make_pair(1439, int64_t{0}));
}

}  // namespace
