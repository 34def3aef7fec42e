// Follow-up work of a registered cycle.
#include "core/rpclcore/heartbeat_followup.h"

#include <gtest/gtest.h>

#include "core/rpclcore/heartbeat_state.h"
#include "core/siblings/client_store.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;

class HeartbeatFollowUpTest : public ::testing::Test {
 protected:
  HeartbeatFollowUpTest() {
    env_.support.SetRegStatusValue(kRegisteredStatus, false);
    state_.regStatus = kRegisteredStatus;
    state_.timers.heartbeatInterval = 60;
  }

  HeartbeatEnv env_;
  HeartbeatState state_;
};

TEST_F(HeartbeatFollowUpTest, MissingDownloadLocationsEndTheThrottlingWithoutTouchingTheInterval) {
  env_.support.PutValue<uint32_t>(DB_ID_REDUCED_HB_COUNTER, 1);
  env_.support.PutValue<uint32_t>(DB_ID_SAVED_HEARTBEAT_INTERVAL, 240);
  state_.throttling = true;
  state_.reducedHeartbeat = true;
  EXPECT_CALL(env_.preinst, AGPreInstInstall(_, _, _)).Times(0);  // no location, build kind 0
  RpHeartbeatFollowUp(&env_.rpClient, &env_.respGen, &state_);
  EXPECT_FALSE(state_.throttling);
  EXPECT_FALSE(state_.reducedHeartbeat);
  EXPECT_EQ(state_.timers.heartbeatInterval, 60u);
  EXPECT_EQ(env_.support.Value<uint8_t>(DB_ID_THROTTLING), uint8_t{0});
  EXPECT_EQ(env_.support.Value<uint32_t>(DB_ID_REDUCED_HB_COUNTER_AT_MAX), 0u);
}

TEST_F(HeartbeatFollowUpTest, EndOfThrottlingAfterSeveralRoundsRestoresTheSavedInterval) {
  env_.support.PutValue<uint32_t>(DB_ID_REDUCED_HB_COUNTER, 2);
  env_.support.PutValue<uint32_t>(DB_ID_SAVED_HEARTBEAT_INTERVAL, 240);
  state_.timers.heartbeatInterval = 5;
  RpHeartbeatFollowUp(&env_.rpClient, &env_.respGen, &state_);
  EXPECT_EQ(state_.timers.heartbeatInterval, 240u);
  EXPECT_EQ(env_.support.Value<uint32_t>(DB_ID_CLIENT_HEARTBEAT_INTERVAL), 240u);
}

TEST_F(HeartbeatFollowUpTest, MiscInfoWithAFailedStatusGoesToTheErrorHandler) {
  TestServerResponse refused(false, {20016});
  EXPECT_CALL(env_.rpClient, SetClientData(_, 126, _, 1))
      .WillOnce(DoAll(SetArgPointee<2>(&refused.response), Return(1)));
  EXPECT_CALL(env_.rpClient, FreeServerResponse(&refused.response)).WillOnce(Return(1));
  EXPECT_CALL(env_.preinst, AGPreInstUninstall()).WillOnce(Return(1));
  ServerResponse* response = nullptr;
  EXPECT_TRUE(SendCAMiscInfo(&env_.rpClient, &env_.respGen, &response));
  EXPECT_EQ(response, nullptr);
}

}  // namespace
