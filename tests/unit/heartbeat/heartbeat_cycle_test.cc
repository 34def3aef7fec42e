// The heartbeat step: the heartbeat itself, the obsolete-client notification
// and the commands returned with the heartbeat.
#include "core/rpclcore/heartbeat_cycle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/casupp/pending_records.h"
#include "core/rpclcore/heartbeat_state.h"
#include "core/siblings/client_store.h"
#include "platform/utf.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

constexpr uint64_t kFifteenDays = 1296000;

class HeartbeatCycleTest : public ::testing::Test {
 protected:
  HeartbeatCycleTest() {
    env_.support.SetRegStatusValue(kRegisteredStatus, false);
    state_.regStatus = kRegisteredStatus;
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
      heartbeat_.response.pCommands = const_cast<ServerCommandEntry*>(commands_.Entries());
      heartbeat_.response.dwCommandCount = commands_.Count();
    }
    return RpHeartbeatStep(&env_.rpClient, &env_.respGen, &state_);
  }

  std::vector<uint32_t> AckedIds() const {
    std::vector<uint32_t> ids;
    for (const SentAck& ack : env_.Acks()) ids.push_back(ack.id);
    return ids;
  }

  HeartbeatEnv env_;
  HeartbeatState state_;
  TestServerResponse heartbeat_{true};
  TestCommandList commands_;
  int heartbeats_ = 0;
};

TEST_F(HeartbeatCycleTest, OnlyCommandsThatRanAreAcknowledged) {
  env_.StoreLastGuid(5, "guid-b");
  commands_.Add("3", "guid-a", 0x201);
  commands_.Add("5", "guid-b");
  commands_.Add("9", "guid-c");
  EXPECT_TRUE(RunStep());
  EXPECT_EQ(heartbeats_, 1);
  EXPECT_EQ(AckedIds(), (std::vector<uint32_t>{3, 9}));
  const std::vector<SentAck> acks = env_.Acks();
  EXPECT_EQ(acks[0].status, kCmdAckDone);
  EXPECT_EQ(acks[0].guid, "guid-a");
  EXPECT_EQ(acks[0].leading, 0x01);
}

// The first acknowledgement failing does not stop the second command.
TEST_F(HeartbeatCycleTest, AcknowledgementThatCannotBeSentIsKeptAndTheCycleGoesOn) {
  env_.SetAckResult(0);
  commands_.Add("3", "guid-a");
  commands_.Add("4", "guid-b");
  EXPECT_TRUE(RunStep());
  EXPECT_EQ(env_.support.PendingInList(14).size(), 2u);
}

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
void PrintTo(const AckCase& c, std::ostream* out) { *out << c.name; }


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

TEST_F(HeartbeatCycleTest, CommandsWithoutAcknowledgement) {
  commands_.Add("107", "guid-un");
  commands_.Add("116", "guid-sp", 0x77);
  commands_.Add("8", "");
  RunStep();
  EXPECT_TRUE(env_.Acks().empty());
  EXPECT_TRUE(state_.remoteUninstallReceived);
  const auto record = env_.support.Value<AgUpgradeCmdRecord>(DB_ID_SP_UPDATE_STATUS_CMD_GUID);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->dwLeading, 0x77u);
  EXPECT_STREQ(record->szCmdGuid, "guid-sp");
}

// A client unseen for fifteen days says so once it is back; a notification
// that cannot be sent is kept and the old time stays, so it is said again.
TEST_F(HeartbeatCycleTest, ClientUnseenForFifteenDaysSaysSoAndRefreshesItsTime) {
  EXPECT_CALL(env_.rpClient, SendNotification(_, _, _, _)).Times(0);
  const uint64_t now = static_cast<uint64_t>(env_.clock.NowSeconds());
  RunStep();  // never connected: nothing to say
  // The time taken before the heartbeat, not after its ten-second pause.
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME), now);
  EXPECT_EQ(env_.support.LastConnectedTime(), now);
  const uint64_t later = static_cast<uint64_t>(env_.clock.NowSeconds());
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME, later - kFifteenDays + 1);
  RunStep();
  ::testing::Mock::VerifyAndClearExpectations(&env_.rpClient);

  const uint64_t old = static_cast<uint64_t>(env_.clock.NowSeconds()) - kFifteenDays;
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME, old);
  EXPECT_CALL(env_.rpClient, SendNotification(24, 112, ::testing::StrEq(""), _))
      .WillOnce(Return(0))
      .WillOnce(Return(1));
  RunStep();
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME), old);
  const auto pending = env_.support.PendingInList(15);
  ASSERT_EQ(pending.size(), 1u);
  const auto notification = ParsePendingNotification(pending[0].data.data(), pending[0].data.size());
  ASSERT_TRUE(notification.has_value());
  EXPECT_EQ(std::make_pair(notification->kind, notification->dataId), std::make_pair(24u, 112u));
  const uint64_t next = static_cast<uint64_t>(env_.clock.NowSeconds());
  RunStep();
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME), next);
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

}  // namespace
