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

// The first attempt of a window stores its start; the window expires one
// second after fifteen days.
TEST_F(RegistrationTest, WindowExpiresOneSecondAfterFifteenDaysFromTheFirstAttempt) {
  const uint64_t start = static_cast<uint64_t>(env_.clock.NowSeconds());
  bool valid = false;
  EXPECT_TRUE(CheckClientRegistrationValidity(&valid));
  EXPECT_TRUE(valid);
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_REG_START_DATE), start);
  env_.clock.SetNowSeconds(static_cast<int64_t>(start) + 1296000);
  EXPECT_TRUE(CheckClientRegistrationValidity(&valid));
  EXPECT_TRUE(valid);
  env_.clock.SetNowSeconds(static_cast<int64_t>(start) + 1296001);
  EXPECT_TRUE(CheckClientRegistrationValidity(&valid));
  EXPECT_FALSE(valid);
}

TEST_F(RegistrationTest, AttemptThatDidNotReachTheServerIsNotCounted) {
  EXPECT_CALL(env_.rpClient, Register(_, _)).WillOnce(Return(0));
  state_.regAttempts = 2;
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
  EXPECT_EQ(state_.regAttempts, 2u);
}

// The server's answer to a registration the timer made due, and what the
// client keeps of it: the outcome, the stored status, the attempt count and
// the next registration interval.
struct AnswerCase {
  const char* name;
  bool registered;
  std::vector<uint32_t> codes;
  uint32_t attemptsBefore;
  uint32_t upgradeType;
  RegistrationOutcome outcome;
  uint32_t regStatus;
  uint32_t interval;
};
void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }


class RegistrationAnswerTest : public RegistrationTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(RegistrationAnswerTest, OutcomeStatusAndNextInterval) {
  const AnswerCase& c = GetParam();
  ServerAnswers(c.registered, c.codes);
  env_.support.SetClientUpgradeType(c.upgradeType);
  state_.regAttempts = c.attemptsBefore;
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), c.outcome);
  EXPECT_EQ(env_.support.RegStatusValue(false), c.regStatus);
  EXPECT_EQ(state_.timers.registrationInterval, c.interval);
  EXPECT_EQ(state_.timers.timeoutCSHeartbeat, c.outcome == RegistrationOutcome::kHeartbeat);
  EXPECT_EQ(env_.CountRequests(122), 1u);
  // An attempt that reached the server is counted, and the count is stored.
  EXPECT_EQ(state_.regAttempts, c.attemptsBefore + 1);
  EXPECT_EQ(env_.support.Value<uint32_t>(DB_ID_CLIENT_REG_ATTEMPT), c.attemptsBefore + 1);
}

INSTANTIATE_TEST_SUITE_P(
    RegistrationAnswers, RegistrationAnswerTest,
    ::testing::Values(
        AnswerCase{"Accepted", true, {}, 0, 0, RegistrationOutcome::kHeartbeat, 3, kInitialRegistrationIntervalMinutes},
        AnswerCase{"MinorUpgradeClientCountsAsRegistered", false, {}, 0, 2, RegistrationOutcome::kHeartbeat, 3,
                   kInitialRegistrationIntervalMinutes},
        AnswerCase{"FourthRefusalKeepsTheShortInterval", false, {}, 3, 0, RegistrationOutcome::kEndCycle, 0,
                   kInitialRegistrationIntervalMinutes},
        AnswerCase{"FifthRefusalBacksOffTo360Minutes", false, {}, 4, 0, RegistrationOutcome::kEndCycle, 0,
                   kBackOffRegistrationIntervalMinutes},
        AnswerCase{"Error101StoresStatus1", false, {101, 7}, 0, 0, RegistrationOutcome::kEndCycle, 1,
                   kInitialRegistrationIntervalMinutes}),
    [](const auto& info) { return std::string(info.param.name); });

// A registered client skips registration even when its timer expires; an
// unregistered one waits for that timer.
TEST_F(RegistrationTest, NoRegistrationWhenRegisteredOrNotDue) {
  EXPECT_CALL(env_.rpClient, Register(_, _)).Times(0);
  state_.timers.timeoutCSRegistration = false;
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
  env_.support.SetRegStatusValue(3, false);
  state_.timers.timeoutCSRegistration = true;
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kHeartbeat);
  EXPECT_EQ(state_.regAttempts, 0u);
}

}  // namespace
