// One pass of the heartbeat loop, step by step: the countdown of its timers,
// registration, the commands returned with the heartbeat (the gate, the skip
// rules, the acknowledgements), the heartbeat itself and the follow-up work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <tuple>

#include "core/casupp/pending_records.h"
#include "core/rpclcore/command_processing.h"
#include "core/rpclcore/command_skipping.h"
#include "core/rpclcore/heartbeat_cycle.h"
#include "core/rpclcore/heartbeat_followup.h"
#include "core/rpclcore/heartbeat_state.h"
#include "core/rpclcore/heartbeat_timers.h"
#include "core/rpclcore/registration.h"
#include "core/siblings/client_store.h"
#include "platform/utf.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgPointee;

constexpr uint64_t kFifteenDays = 1296000;

HeartbeatTimers MakeTimers(uint32_t heartbeat) {
  HeartbeatTimers timers;
  timers.heartbeatInterval = heartbeat;
  timers.registrationInterval = 360;
  timers.onPrem = true;
  timers.relay = RelayIntervals{7, 1440, 11};
  return timers;
}

// One loop iteration up to the wait: reload, compute, carry.
uint32_t Iterate(HeartbeatTimers* timers) {
  timers->Reload();
  const uint32_t wait = timers->ComputeWait(true);
  timers->CarryRegistration();
  return wait;
}

// On premises the relay's heartbeat and registration count down beside the
// server's, and the shortest of them ends the wait.
TEST(HeartbeatTimers, RelayTimersCountDownBesideTheServersOnPremises) {
  HeartbeatTimers timers = MakeTimers(60);
  EXPECT_EQ(Iterate(&timers), 0u);  // the first pass is due at once
  EXPECT_EQ(Iterate(&timers), 7u);  // RpHb
  EXPECT_TRUE(timers.timeoutRPHeartbeat);
  EXPECT_FALSE(timers.timeoutCSHeartbeat);
  EXPECT_EQ(timers.waitCSHeartbeat, 53u);
  EXPECT_EQ(timers.waitRPRegistration, 4u);
  EXPECT_EQ(Iterate(&timers), 4u);  // RpReg remainder
  EXPECT_TRUE(timers.timeoutRPRegistration);
}

// An interval of 0 (from a damaged store) must not make the loop spin.
TEST(HeartbeatTimers, ZeroIntervalsNeverMakeABusyLoop) {
  HeartbeatTimers timers = MakeTimers(0);
  timers.relay = RelayIntervals{0, 0, 0};
  Iterate(&timers);
  EXPECT_GE(Iterate(&timers), 1u);
}

// An unregistered client; the steps of a registered one start with Registered().
class HeartbeatStepTest : public ::testing::Test {
 protected:
  void Registered() {
    env_.support.SetRegStatusValue(kRegisteredStatus, false);
    state_.regStatus = kRegisteredStatus;
  }

  HeartbeatEnv env_;
  HeartbeatState state_;
};

class RegistrationTest : public HeartbeatStepTest {
 protected:
  RegistrationTest() { state_.timers.timeoutCSRegistration = true; }

  void ServerAnswers(bool registered, std::vector<uint32_t> codes = {}) {
    response_ = std::make_unique<TestServerResponse>(registered, std::move(codes));
    ON_CALL(env_.rpClient, Register(_, _)).WillByDefault(DoAll(SetArgPointee<1>(&response_->response), Return(1)));
  }

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
  env_.clock.SetNowSeconds(static_cast<int64_t>(start + kFifteenDays));
  EXPECT_TRUE(CheckClientRegistrationValidity(&valid));
  EXPECT_TRUE(valid);
  env_.clock.SetNowSeconds(static_cast<int64_t>(start + kFifteenDays) + 1);
  EXPECT_TRUE(CheckClientRegistrationValidity(&valid));
  EXPECT_FALSE(valid);
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

// An unregistered client waits for its timer, and an attempt that did not
// reach the server is not counted; a registered client skips registration
// even when its timer expires.
TEST_F(RegistrationTest, NoRegistrationWhenRegisteredOrNotDueAndAFailedExchangeIsNotCounted) {
  EXPECT_CALL(env_.rpClient, Register(_, _)).WillOnce(Return(0));
  state_.timers.timeoutCSRegistration = false;
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
  state_.timers.timeoutCSRegistration = true;
  state_.regAttempts = 2;
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kEndCycle);
  EXPECT_EQ(state_.regAttempts, 2u);
  env_.support.SetRegStatusValue(kRegisteredStatus, false);
  EXPECT_EQ(RpRegistrationStep(&env_.rpClient, &env_.respGen, &state_), RegistrationOutcome::kHeartbeat);
  EXPECT_EQ(state_.regAttempts, 2u);
}

class CommandProcessingTest : public HeartbeatStepTest {
 protected:
  CommandProcessingTest() { Registered(); }

  bool Process(const std::string& text, const std::string& guid, uint32_t* status) {
    uint32_t id = 0;
    return RpReceiveAndProcessCommand(text.c_str(), &env_.rpClient, &id, status, &env_.respGen, guid, nullptr);
  }
};

// One command against a stored GUID (of command `storedId`, 0: none) and a
// registration status: its status, whether it ran, and the GUID kept for it.
struct ProcessCase {
  const char* name;
  uint32_t regStatus;
  uint32_t storedId;
  const char* text;
  const char* guid;
  uint32_t status;
  bool runs;
  const char* guidAfter;
};

class CommandGateTest : public CommandProcessingTest, public ::testing::WithParamInterface<ProcessCase> {};

TEST_P(CommandGateTest, RepeatsAndCommandsForRegisteredClientsAreNotCarriedOut) {
  const ProcessCase& c = GetParam();
  env_.support.SetRegStatusValue(c.regStatus, false);
  if (c.storedId != 0) env_.StoreLastGuid(c.storedId, "guid-a");
  const uint32_t id = static_cast<uint32_t>(std::atoi(c.text));
  uint32_t status = 99;
  EXPECT_TRUE(Process(c.text, c.guid, &status));
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(env_.Processed(), c.runs ? std::vector<uint32_t>{id} : std::vector<uint32_t>{});
  EXPECT_EQ(env_.LastGuid(id), c.guidAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandGateTest,
    ::testing::Values(ProcessCase{"RepeatedGuidIsDropped", 3, 7, "7", "guid-a", kCmdUnprocessed, false, "guid-a"},
                      ProcessCase{"SameGuidUnderAnotherId", 3, 7, "8", "guid-a", kCmdProcessed, true, "guid-a"},
                      ProcessCase{"Command116IsNeverARepeat", 3, 116, "116", "guid-a", kCmdProcessed, true, "guid-a"},
                      ProcessCase{"EmptyGuidStoresNothing", 3, 0, "9", "", kCmdProcessed, true, ""},
                      ProcessCase{"Unregistered116", 0, 0, "116", "g", kCmdUnprocessed, false, ""},
                      ProcessCase{"UnregisteredRunsOthers", 0, 0, "5", "g", kCmdProcessed, true, "g"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandProcessingTest, RefusedAndFailedCommands) {
  uint32_t status = 99;
  EXPECT_FALSE(Process("bad json", "g", &status));
  EXPECT_EQ(status, kCmdOpenFailed);
  env_.FailCommand(3);
  EXPECT_FALSE(Process("3", "g3", &status));
  EXPECT_EQ(status, kCmdFailed);
  // A parser library that says yes without handing out an object.
  env_.parser.handsOutNoObject = true;
  status = 99;
  EXPECT_FALSE(Process("4", "g4", &status));
  EXPECT_EQ(status, kCmdFailed);
}

class CommandSkippingTest : public HeartbeatStepTest {
 protected:
  // Marks the list given as command texts; GUIDs are "g0", "g1", ...
  std::vector<bool> Mark(const std::vector<std::string>& texts) {
    TestCommandList list;
    for (size_t i = 0; i < texts.size(); ++i) list.Add(texts[i], "g" + std::to_string(i), 0x100 + i);
    std::vector<bool> skip;
    RPMarkCommandsToSkip(list.Entries(), list.Count(), &env_.rpClient, &skip);
    return skip;
  }
};

TEST_F(CommandSkippingTest, SkipsRepeatsCancelledPairsAndOvertakenUpgrades) {
  const struct {
    std::vector<std::string> texts;
    std::vector<bool> skip;
    std::vector<std::string> acked;  // the GUIDs acknowledged as skipped
  } cases[] = {
      {{"12", "12", "12"}, {true, true, false}, {"g0", "g1"}},  // only the last of repeats runs
      {{"55", "55"}, {false, false}, {}},                       // exempt from the repeat rule
      {{"2", "9", "6"}, {true, false, true}, {"g0", "g2"}},     // a command followed by its cancelling one
      {{"6", "2"}, {false, false}, {}},                         // the cancelling one first
      {{"120", "116"}, {false, true}, {"g1"}},
      {{"116", "117", "120"}, {true, false, true}, {"g2", "g0"}},
      {{"bad", "bad", ""}, {false, false, false}, {}},  // unparsable: in no rule
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.texts));
    const size_t before = env_.Acks().size();
    EXPECT_EQ(Mark(c.texts), c.skip);
    std::vector<std::string> guids;
    for (size_t i = before; i < env_.Acks().size(); ++i) guids.push_back(env_.Acks()[i].guid);
    EXPECT_EQ(guids, c.acked);
  }
  const std::vector<SentAck> acks = env_.Acks();
  EXPECT_EQ(std::make_tuple(acks[0].id, acks[0].status, acks[0].retry), std::make_tuple(12u, kCmdAckSkipped, 0));
  EXPECT_EQ(acks[1].leading, 0x01) << "low byte of the entry's leading value";
}

// A flood of repeats the server does not take: every skip acknowledgement is
// kept in list 14, and the log gets one summary line for the answer, not
// lines per command.
TEST_F(CommandSkippingTest, AFloodOfRepeatsIsKeptAndLogsOneSummaryLine) {
  env_.SetAckResult(0);
  const std::vector<bool> skip = Mark(std::vector<std::string>(500, "12"));
  EXPECT_EQ(std::count(skip.begin(), skip.end(), true), 499);
  EXPECT_FALSE(skip.back());
  EXPECT_EQ(env_.log.Count("499 of 500 commands skipped; 499 skip acknowledgements not sent"), 1u);
  EXPECT_LE(env_.log.Records().size(), 505u);  // at most the parse line of each command
  const auto pending = env_.support.PendingInList(14);
  ASSERT_EQ(pending.size(), 499u);
  const auto ack = ParsePendingCommandAck(pending[0].data.data(), pending[0].data.size());
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(std::make_tuple(ack->cmdId, ack->guid, ack->status),
            std::make_tuple(12u, std::string("g0"), kCmdAckSkipped));
}

// The heartbeat is due; the server answers it with the commands added to `commands_`.
class HeartbeatCycleTest : public HeartbeatStepTest {
 protected:
  HeartbeatCycleTest() {
    Registered();
    state_.timers.timeoutCSHeartbeat = true;
    ON_CALL(env_.rpClient, SetClientData(_, _, _, _))
        .WillByDefault(Invoke([this](const ClientDataRecord*, uint32_t dataId, ServerResponse** out, uint8_t) {
          if (dataId == 118) ++heartbeats_;
          *out = dataId == 118 ? &heartbeat_.response : nullptr;
          return uint8_t{1};
        }));
  }

  // Runs the step with the commands added so far in the heartbeat response.
  bool RunStep() {
    if (commands_.Count() > 0) {
      heartbeat_.response.pCommands = commands_.Entries();
      heartbeat_.response.dwCommandCount = commands_.Count();
    }
    return RpHeartbeatStep(&env_.rpClient, &env_.respGen, &state_);
  }

  TestServerResponse heartbeat_{true};
  TestCommandList commands_;
  int heartbeats_ = 0;
};

// One command in the heartbeat answer and the acknowledgement it gets.
struct AckCase {
  const char* name;
  uint32_t command;
  bool fails;
  const char* iniFlags;  // agadv.ini, or nullptr
  uint32_t status;
  uint8_t retry;
  const char* payload;  // from the data the command stands for (request 13 for command 12)
  size_t dataRequests;
};
class CommandAckTest : public HeartbeatCycleTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(CommandAckTest, AcknowledgementCarriesTheStatusOfTheCommand) {
  const AckCase& c = GetParam();
  if (c.iniFlags != nullptr) {
    char16_t folder[260] = {};
    ASSERT_TRUE(env_.support.GetClientAgentConfigDir(folder, 260));
    const std::string configDir = *platform::Utf16ToUtf8(folder);
    std::filesystem::create_directories(configDir);
    std::ofstream(configDir + "agadv.ini") << c.iniFlags;
  }
  if (c.fails) env_.FailCommand(c.command);
  commands_.Add(std::to_string(c.command), "guid-c");
  RunStep();
  ASSERT_EQ(env_.Acks().size(), 1u);
  EXPECT_EQ(env_.Acks()[0].status, c.status);
  EXPECT_EQ(env_.Acks()[0].retry, c.retry);
  EXPECT_EQ(env_.Acks()[0].payload, c.payload);
  EXPECT_EQ(env_.CountRequests(13), c.dataRequests);
  EXPECT_EQ(env_.support.Value<uint8_t>(30).value_or(0), c.retry) << "the stored retry count of command 12";
}

INSTANTIATE_TEST_SUITE_P(
    HeartbeatAnswer, CommandAckTest,
    ::testing::Values(
        AckCase{"FailedCommandWithItsRetryCount", 12, true, nullptr, kCmdAckFailed, 1, "", 0},
        AckCase{"Command12WithThePayloadOfItsData", 12, false, nullptr, kCmdAckDone, 0, "{\"state\":1}\n", 1},
        AckCase{"FailedOsQueryWithTheStoredOsQueryStatus", 49, true, "[AV_CONFIG_FLAGS]\niosquerysts=7\n", 7, 0, "", 0},
        AckCase{"SuccessfulOsQueryIgnoresTheStoredStatus", 49, false, "[AV_CONFIG_FLAGS]\niosquerysts=7\n", kCmdAckDone,
                0, "", 0},
        AckCase{"PullLogCarriedOutByTheAgentAsDone", 141, true, nullptr, kCmdAckDone, 0, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Uninstall (107) and the service-pack upgrade (116, whose command record its
// later acknowledgement needs) are acknowledged elsewhere; 8 has no GUID.
TEST_F(HeartbeatCycleTest, CommandsWithoutAcknowledgement) {
  commands_.Add("107", "guid-un");
  commands_.Add("116", "guid-sp", 0x77);
  commands_.Add("8", "");
  RunStep();
  EXPECT_TRUE(env_.Acks().empty());
  EXPECT_TRUE(state_.remoteUninstallReceived);
  const auto record = env_.support.Value<AgUpgradeCmdRecord>(DB_ID_SP_UPDATE_STATUS_CMD_GUID).value();
  EXPECT_EQ(record.dwLeading, 0x77u);
  EXPECT_STREQ(record.szCmdGuid, "guid-sp");
}

// A client unseen for fifteen days says so once it is back (one second short
// it does not); a notification that cannot be sent is kept and the old time
// stays, so it is said again.
TEST_F(HeartbeatCycleTest, ClientUnseenForFifteenDaysSaysSoAndKeepsItsTimeUntilSaid) {
  const uint64_t now = static_cast<uint64_t>(env_.clock.NowSeconds());
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME, now - kFifteenDays + 1);
  EXPECT_CALL(env_.rpClient, SendNotification(24, 112, ::testing::StrEq(""), _)).WillOnce(Return(0));
  RunStep();
  EXPECT_EQ(env_.support.LastConnectedTime(), now);  // taken before the heartbeat's ten-second pause
  const uint64_t old = static_cast<uint64_t>(env_.clock.NowSeconds()) - kFifteenDays;
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME, old);
  RunStep();
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME), old);
  EXPECT_EQ(env_.support.PendingInList(15).size(), 1u);
}

TEST_F(HeartbeatCycleTest, HeartbeatOnlyWhenDueOrForcedThroughTheRelayFlag) {
  state_.timers.timeoutCSHeartbeat = false;
  EXPECT_FALSE(RunStep());
  EXPECT_EQ(heartbeats_, 0);
  state_.timers.timeoutRPHeartbeat = true;
  EXPECT_TRUE(RunStep());
  EXPECT_EQ(heartbeats_, 1);
  EXPECT_EQ(env_.CountRequests(101), 1u) << "a registered client's status items go before the heartbeat";
}

// The relay's intervals are what the server's answer left in the store.
TEST_F(HeartbeatCycleTest, RelayConfigurationIsReadFromTheStoreOnceTheServerAnswered) {
  env_.support.PutValue(DB_ID_CA_RP_CONFIG_DATA, RelayIntervals{15, 1440, 20});
  EXPECT_CALL(env_.rpClient, GetRPConfig(_)).WillOnce(Return(0)).WillOnce(Return(1));
  RelayIntervals read;
  EXPECT_FALSE(FetchRPConfig(&env_.rpClient, &env_.respGen, &read));
  ASSERT_TRUE(FetchRPConfig(&env_.rpClient, &env_.respGen, &read));
  EXPECT_EQ(std::vector<uint32_t>({read.rpHb, read.rpFcfg, read.rpReg}), std::vector<uint32_t>({15, 1440, 20}));
}

class HeartbeatFollowUpTest : public HeartbeatStepTest {
 protected:
  HeartbeatFollowUpTest() {
    Registered();
    state_.timers.heartbeatInterval = 60;
  }
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

// A refused miscellaneous-information send goes to the error handler: error
// 20016 uninstalls the client.
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
