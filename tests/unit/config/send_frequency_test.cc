#include "core/casupp/send_frequency.h"

#include <gtest/gtest.h>

#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "tests/unit/mocks/fake_support_library.h"
#include "tests/unit/mocks/log_capture.h"

namespace {

constexpr int64_t kLastSync = 1'700'000'000;
constexpr int32_t kDayLessAMinute = 1439;

class SendFrequencyTest : public ::testing::Test {
 protected:
  SendFrequencyTest() : siblings_(SiblingSet{.support = &support_}), scoped_clock_(&clock_) {}

  void PresetRow(uint32_t eventId, int32_t frequency, int64_t lastSync) {
    ASSERT_TRUE(support_.CLAddEventLastSync(nullptr, eventId, frequency, lastSync));
  }
  std::pair<int32_t, int64_t> Row(uint32_t eventId) {
    int32_t frequency = 0;
    int64_t lastSync = 0;
    support_.CLGetDataByEvtID(nullptr, eventId, &frequency, &lastSync);
    return {frequency, lastSync};
  }

  InMemorySupportLibrary support_;
  ScopedSiblings siblings_;
  platform::ManualClock clock_{kLastSync};
  platform::ScopedClock scoped_clock_;
  LogCapture log_;
};

TEST_F(SendFrequencyTest, NoRowMeansFirstTimeAndNoElapsedSend) {
  int32_t firstTime = 0;
  EXPECT_FALSE(EventTimeElapsed(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, &firstTime));
  EXPECT_EQ(firstTime, 1);
  EXPECT_TRUE(log_.Contains("Frequency or Last Sent time is 0."));
  EXPECT_EQ(support_.OpenHandles(), 0);
}

TEST_F(SendFrequencyTest, ZeroFrequencyCountsAsFirstTime) {
  PresetRow(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, 0, kLastSync);
  int32_t firstTime = 0;
  EXPECT_FALSE(EventTimeElapsed(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, &firstTime));
  EXPECT_EQ(firstTime, 1);
}

TEST_F(SendFrequencyTest, ElapsesExactlyAfterTheFrequency) {
  PresetRow(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, kDayLessAMinute, kLastSync);
  int32_t firstTime = 0;
  clock_.SetNowSeconds(kLastSync + kDayLessAMinute * 60 - 1);  // 1438 min 59 s
  EXPECT_FALSE(EventTimeElapsed(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, &firstTime));
  EXPECT_TRUE(log_.Contains("Last Sent Time Not Elapsed"));
  clock_.SetNowSeconds(kLastSync + kDayLessAMinute * 60);
  EXPECT_TRUE(EventTimeElapsed(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, &firstTime));
  EXPECT_TRUE(log_.Contains("Last Sent Time Elapsed"));
  EXPECT_EQ(firstTime, 0);
  EXPECT_EQ(support_.OpenHandles(), 0);
}

TEST_F(SendFrequencyTest, ClockSetBackHoldsTheSendUntilItPassesTheInterval) {
  PresetRow(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, kDayLessAMinute, kLastSync);
  int32_t firstTime = 0;
  clock_.SetNowSeconds(kLastSync - 3 * 86400);
  EXPECT_FALSE(EventTimeElapsed(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, &firstTime));
  EXPECT_EQ(firstTime, 0);
  clock_.SetNowSeconds(-1);  // the clock reports failure: now is taken as 0
  EXPECT_FALSE(EventTimeElapsed(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, &firstTime));
  EXPECT_EQ(firstTime, 0);
}

TEST_F(SendFrequencyTest, UnopenableStoreNeverSuppressesASend) {
  support_.Fail(InMemorySupportLibrary::Op::kOpen);
  int32_t firstTime = 0;
  EXPECT_TRUE(EventTimeElapsed(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS, &firstTime));
  EXPECT_TRUE(log_.Contains("CLOpenDatabase failed but we are sending the event here."));
  EXPECT_FALSE(AddLastSyncTimeInDB(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS));
  EXPECT_EQ(Row(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS).second, 0);
}

TEST_F(SendFrequencyTest, RecordsOnlyTheInstallationStatusEvent) {
  EXPECT_FALSE(AddLastSyncTimeInDB(115));
  EXPECT_TRUE(log_.Contains("Event ID not supported so returning false"));
  EXPECT_EQ(Row(115).second, 0);

  clock_.SetNowSeconds(kLastSync + 42);
  EXPECT_TRUE(AddLastSyncTimeInDB(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS));
  EXPECT_EQ(Row(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS), std::make_pair(kDayLessAMinute, kLastSync + 42));
  EXPECT_FALSE(log_.Contains("CLAddEventLastSync failed"));
  EXPECT_EQ(support_.OpenHandles(), 0);
}

TEST_F(SendFrequencyTest, RecordingWithoutAClockLogsButStillWrites) {
  clock_.SetNowSeconds(-1);
  EXPECT_TRUE(AddLastSyncTimeInDB(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS));
  EXPECT_TRUE(log_.ContainsAtLevel(AG_LOG_FAILURE,
                                   "CLAddEventLastSync failed for CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS"));
  EXPECT_EQ(Row(CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS), std::make_pair(kDayLessAMinute, int64_t{0}));
}

}  // namespace
