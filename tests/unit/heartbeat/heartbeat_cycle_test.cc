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

TEST_F(HeartbeatCycleTest, AcknowledgementThatCannotBeSentIsKeptAndTheCycleGoesOn) {
  env_.SetAckResult(0);
  commands_.Add("3", "guid-a");
  commands_.Add("4", "guid-b");
  EXPECT_TRUE(RunStep());
  const auto pending = env_.support.PendingInList(14);
  ASSERT_EQ(pending.size(), 2u);
  const auto second = ParsePendingCommandAck(pending[1].data.data(), pending[1].data.size());
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->cmdId, 4u);
  EXPECT_EQ(second->status, kCmdAckDone);
}

TEST_F(HeartbeatCycleTest, FailedOsQueryIsAcknowledgedWithTheStoredOsQueryStatus) {
  char16_t folder[260] = {};
  ASSERT_TRUE(env_.support.GetClientAgentConfigDir(folder, 260));
  const std::string configDir = *platform::Utf16ToUtf8(folder);
  std::filesystem::create_directories(configDir);
  std::ofstream(configDir + "agadv.ini") << "[AV_CONFIG_FLAGS]\niosquerysts=7\n";
  env_.FailCommand(49);
  commands_.Add("49", "guid-q");
  RunStep();
  ASSERT_EQ(env_.Acks().size(), 1u);
  EXPECT_EQ(env_.Acks()[0].status, 7u);
  EXPECT_TRUE(env_.log.Contains("Received Commnad OS_QUERY."));
}

TEST_F(HeartbeatCycleTest, FailedCommandIsAcknowledgedAsFailedWithItsRetryCount) {
  env_.FailCommand(12);
  commands_.Add("12", "guid-12");
  RunStep();
  ASSERT_EQ(env_.Acks().size(), 1u);
  EXPECT_EQ(env_.Acks()[0].status, kCmdAckFailed);
  EXPECT_EQ(env_.Acks()[0].retry, 1);
  EXPECT_EQ(env_.support.Value<uint8_t>(30), uint8_t{1});
}

TEST_F(HeartbeatCycleTest, PullLogIsCarriedOutByTheAgentAndAcknowledgedAsDone) {
  env_.FailCommand(141);
  commands_.Add("141", "guid-pl");
  RunStep();
  ASSERT_EQ(env_.Acks().size(), 1u);
  EXPECT_EQ(env_.Acks()[0].status, kCmdAckDone);
  EXPECT_TRUE(env_.log.Contains("Pull Log CMD recevied."));
}

TEST_F(HeartbeatCycleTest, Command12IsAcknowledgedWithThePayloadOfItsData) {
  commands_.Add("12", "guid-12");
  RunStep();
  ASSERT_EQ(env_.Acks().size(), 1u);
  EXPECT_EQ(env_.Acks()[0].payload, "{\"state\":1}\n");
  EXPECT_EQ(env_.CountRequests(13), 1u);
}

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

TEST_F(HeartbeatCycleTest, NeverConnectedClientSendsNoObsoleteNotification) {
  EXPECT_CALL(env_.rpClient, SendNotification(_, _, _, _)).Times(0);
  const uint64_t before = static_cast<uint64_t>(env_.clock.NowSeconds());
  RunStep();
  // The time taken before the heartbeat, not after its ten-second pause.
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME), before);
  EXPECT_EQ(env_.support.LastConnectedTime(), before);
}

TEST_F(HeartbeatCycleTest, ClientUnseenForFifteenDaysSaysSoAndRefreshesItsTime) {
  const uint64_t now = static_cast<uint64_t>(env_.clock.NowSeconds());
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME, now - kFifteenDays + 1);
  EXPECT_CALL(env_.rpClient, SendNotification(_, _, _, _)).Times(0);
  RunStep();
  ::testing::Mock::VerifyAndClearExpectations(&env_.rpClient);

  const uint64_t later = static_cast<uint64_t>(env_.clock.NowSeconds());
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME, later - kFifteenDays);
  EXPECT_CALL(env_.rpClient, SendNotification(24, 112, ::testing::StrEq(""), _)).WillOnce(Return(1));
  RunStep();
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME), later);
}

TEST_F(HeartbeatCycleTest, UnsentObsoleteNotificationIsKeptAndTheTimeStays) {
  const uint64_t old = static_cast<uint64_t>(env_.clock.NowSeconds()) - 2 * kFifteenDays;
  env_.support.PutValue<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME, old);
  EXPECT_CALL(env_.rpClient, SendNotification(24, 112, _, _)).WillOnce(Return(0));
  RunStep();
  EXPECT_EQ(env_.support.Value<uint64_t>(DB_ID_CLIENT_LAST_CONNECTED_TIME), old);
  const auto pending = env_.support.PendingInList(15);
  ASSERT_EQ(pending.size(), 1u);
  const auto notification = ParsePendingNotification(pending[0].data.data(), pending[0].data.size());
  ASSERT_TRUE(notification.has_value());
  EXPECT_EQ(notification->kind, 24u);
  EXPECT_EQ(notification->dataId, 112u);
}

TEST_F(HeartbeatCycleTest, NoHeartbeatWhenNoneIsDue) {
  state_.timers.timeoutCSHeartbeat = false;
  EXPECT_FALSE(RunStep());
  EXPECT_EQ(heartbeats_, 0);
}

TEST_F(HeartbeatCycleTest, ForcedSyncSendsTheHeartbeatThroughTheRelayFlag) {
  state_.timers.timeoutCSHeartbeat = false;
  state_.timers.timeoutRPHeartbeat = true;
  EXPECT_TRUE(RunStep());
  EXPECT_EQ(heartbeats_, 1);
}

TEST_F(HeartbeatCycleTest, HeartbeatIntervalComesFromTheStore) {
  env_.support.PutValue<uint32_t>(DB_ID_CLIENT_HEARTBEAT_INTERVAL, 45);
  env_.WriteTenantJson(R"({"tenantId":"t","clientDefaultHeartBeatInterval":30})");
  uint32_t interval = 0;
  EXPECT_TRUE(UpdateHeartbeatInterval(&interval));
  EXPECT_EQ(interval, 45u);
}

TEST_F(HeartbeatCycleTest, HeartbeatIntervalFallsBackToTheTenantAndIsStored) {
  env_.WriteTenantJson(R"({"tenantId":"t","clientDefaultHeartBeatInterval":30})");
  uint32_t interval = 0;
  EXPECT_TRUE(UpdateHeartbeatInterval(&interval));
  EXPECT_EQ(interval, 30u);
  EXPECT_EQ(env_.support.Value<uint32_t>(DB_ID_CLIENT_HEARTBEAT_INTERVAL), 30u);
}

}  // namespace
