// Enrolment: the fifteen-day window, attempt counting and back-off, and the
// registration step of a cycle.
#include "core/rpclcore/registration.h"

#include <gtest/gtest.h>

#include "core/rpclcore/heartbeat_state.h"
#include "core/siblings/client_store.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgPointee;

class RegistrationTest : public ::testing::Test {
 protected:
  RegistrationTest() { state_.timers.timeoutCSRegistration = true; }

  void ServerAnswers(bool registered, std::vector<uint32_t> codes = {}) {
    response_ = std::make_unique<TestServerResponse>(registered, std::move(codes));
    ON_CALL(env_.rpClient, Register(_, _)).WillByDefault(DoAll(SetArgPointee<1>(&response_->response), Return(1)));
  }

  HeartbeatEnv env_;
  HeartbeatState state_;
  std::unique_ptr<TestServerResponse> response_;
};

TEST_F(RegistrationTest, FirstAttemptOfAWindowStoresTheStartDate) {
  bool valid = false;
  EXPECT_TRUE(CheckClientRegistrationValidity(&valid));
  EXPECT_TRUE(valid);
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_REG_START_DATE), static_cast<uint64_t>(env_.clock.NowSeconds()));
}

TEST_F(RegistrationTest, WindowExpiresOneSecondAfterFifteenDays) {
  const uint64_t start = static_cast<uint64_t>(env_.clock.NowSeconds());
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_REG_START_DATE, start);
  bool valid = false;
  env_.clock.SetNowSeconds(static_cast<int64_t>(start) + 1296000);
  EXPECT_TRUE(CheckClientRegistrationValidity(&valid));
  EXPECT_TRUE(valid);
  env_.clock.SetNowSeconds(static_cast<int64_t>(start) + 1296001);
  EXPECT_TRUE(CheckClientRegistrationValidity(&valid));
  EXPECT_FALSE(valid);
  EXPECT_TRUE(env_.log.Contains("Registration period expired."));
}

TEST_F(RegistrationTest, UnopenableStoreReportsFailure) {
  env_.support.Fail(InMemorySupportLibrary::Op::kOpen);
  bool valid = false;
  EXPECT_FALSE(CheckClientRegistrationValidity(&valid));
}

TEST_F(RegistrationTest, FifthCountedAttemptBacksOffTo360Minutes) {
  ServerAnswers(false);
  state_.regAttempts = 4;
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
  EXPECT_EQ(state_.regAttempts, 5u);
  EXPECT_EQ(env_.support.Value<uint32_t>(DB_ID_CLIENT_REG_ATTEMPT), 5u);
  EXPECT_EQ(state_.timers.registrationInterval, kBackOffRegistrationIntervalMinutes);
  EXPECT_EQ(env_.CountRequests(122), 1u);
}

TEST_F(RegistrationTest, FourthAttemptKeepsTheShortInterval) {
  ServerAnswers(false);
  state_.regAttempts = 3;
  RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_);
  EXPECT_EQ(state_.timers.registrationInterval, kInitialRegistrationIntervalMinutes);
}

TEST_F(RegistrationTest, AttemptThatDidNotReachTheServerIsNotCounted) {
  EXPECT_CALL(env_.rpClient, Register(_, _)).WillOnce(Return(0));
  state_.regAttempts = 2;
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
  EXPECT_EQ(state_.regAttempts, 2u);
  EXPECT_TRUE(env_.log.Contains("SendRegistrationRequest failed"));
}

TEST_F(RegistrationTest, AcceptedRegistrationStoresStatus3AndMakesTheHeartbeatDue) {
  ServerAnswers(true);
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kHeartbeat);
  EXPECT_EQ(env_.support.RegStatusValue(false), 3u);
  EXPECT_TRUE(state_.timers.timeoutCSHeartbeat);
  EXPECT_TRUE(env_.log.Contains("actual registration succeded."));
}

TEST_F(RegistrationTest, MinorUpgradeClientIsTreatedAsRegistered) {
  ServerAnswers(false);
  env_.support.SetClientUpgradeType(2);
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kHeartbeat);
  EXPECT_EQ(env_.support.RegStatusValue(false), 3u);
}

TEST_F(RegistrationTest, RefusalWithError101StoresStatus1) {
  ServerAnswers(false, {101, 7});
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
  EXPECT_EQ(env_.support.RegStatusValue(false), 1u);
  EXPECT_TRUE(env_.log.Contains("Error code:101"));
}

TEST_F(RegistrationTest, RegisteredClientSkipsRegistrationEvenWhenItsTimerExpires) {
  env_.support.SetRegStatusValue(3, false);
  EXPECT_CALL(env_.rpClient, Register(_, _)).Times(0);
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kHeartbeat);
  EXPECT_EQ(state_.regAttempts, 0u);
}

TEST_F(RegistrationTest, UnregisteredClientWaitsForItsRegistrationTimer) {
  state_.timers.timeoutCSRegistration = false;
  EXPECT_CALL(env_.rpClient, Register(_, _)).Times(0);
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
}

TEST_F(RegistrationTest, ExpiredWindowWithoutTaskQueueGoesOn) {
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_REG_START_DATE, 1);
  EXPECT_CALL(env_.rpClient, Register(_, _)).Times(0);
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
  EXPECT_TRUE(env_.log.Contains("Client registration period expired"));
  EXPECT_TRUE(env_.log.Contains("UninstallClient failed continue"));
}

TEST_F(RegistrationTest, ImmediateInstallationOnlyForAFreshMachineWithABuild) {
  EXPECT_CALL(env_.preinst, AGPreInstInstall(_, _, _)).Times(0);
  CheckImmediateAvInstallation();  // no build information: kind 0
  EXPECT_TRUE(env_.log.Contains("AV Installed: 0, UpgradeType: 0, WithAV: 0"));
}

}  // namespace
