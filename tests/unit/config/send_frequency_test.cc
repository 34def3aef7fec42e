#include "core/casupp/send_frequency.h"

#include <gtest/gtest.h>

#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "tests/unit/mocks/fake_support_library.h"

namespace {

constexpr uint32_t kEvent = CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS;
constexpr int64_t kLastSync = 1'700'000'000;
constexpr int32_t kDayLessAMinute = 1439;

class SendFrequencyTest : public ::testing::Test {
 protected:
  SendFrequencyTest() : siblings_(SiblingSet{.support = &support_}), scoped_clock_(&clock_) {}

  std::pair<int32_t, int64_t> Row(uint32_t eventId) {
    int32_t frequency = 0;
    int64_t lastSync = 0;
    support_.CLGetDataByEvtID(nullptr, eventId, &frequency, &lastSync);
    return {frequency, lastSync};
  }
  // EventTimeElapsed at `now` and the first-time flag it reported.
  std::pair<bool, int32_t> ElapsedAt(int64_t now) {
    clock_.SetNowSeconds(now);
    int32_t firstTime = 0;
    const bool elapsed = EventTimeElapsed(kEvent, &firstTime);
    return {elapsed, firstTime};
  }

  InMemorySupportLibrary support_;
  ScopedSiblings siblings_;
  platform::ManualClock clock_{kLastSync};
  platform::ScopedClock scoped_clock_;
};

TEST_F(SendFrequencyTest, NoRowOrZeroFrequencyIsTheFirstTimeThenTheSendElapsesExactlyAfterTheFrequency) {
  EXPECT_EQ(ElapsedAt(kLastSync), std::make_pair(false, 1));
  ASSERT_TRUE(support_.CLAddEventLastSync(nullptr, kEvent, 0, kLastSync));
  EXPECT_EQ(ElapsedAt(kLastSync), std::make_pair(false, 1));
  ASSERT_TRUE(support_.CLAddEventLastSync(nullptr, kEvent, kDayLessAMinute, kLastSync));
  EXPECT_EQ(ElapsedAt(kLastSync + kDayLessAMinute * 60 - 1), std::make_pair(false, 0));
  EXPECT_EQ(ElapsedAt(kLastSync + kDayLessAMinute * 60), std::make_pair(true, 0));
  // A clock set back holds the send; a clock that fails reads as 0.
  EXPECT_EQ(ElapsedAt(kLastSync - 3 * 86400), std::make_pair(false, 0));
  EXPECT_EQ(ElapsedAt(-1), std::make_pair(false, 0));
}

TEST_F(SendFrequencyTest, UnopenableStoreNeverSuppressesASend) {
  support_.Fail(InMemorySupportLibrary::Op::kOpen);
  EXPECT_TRUE(ElapsedAt(kLastSync).first);
  EXPECT_FALSE(AddLastSyncTimeInDB(kEvent));
  EXPECT_EQ(Row(kEvent).second, 0);
}

TEST_F(SendFrequencyTest, RecordsOnlyTheInstallationStatusEventAlsoWithoutAClock) {
  EXPECT_FALSE(AddLastSyncTimeInDB(115));
  EXPECT_EQ(Row(115).second, 0);
  clock_.SetNowSeconds(kLastSync + 42);
  EXPECT_TRUE(AddLastSyncTimeInDB(kEvent));
  EXPECT_EQ(Row(kEvent), std::make_pair(kDayLessAMinute, kLastSync + 42));
  clock_.SetNowSeconds(-1);
  EXPECT_TRUE(AddLastSyncTimeInDB(kEvent));
  EXPECT_EQ(Row(kEvent), std::make_pair(kDayLessAMinute, int64_t{0}));
}

}  // namespace
