// Upgrade command acknowledgements: which command and status go out, what
// stays behind after each outcome of the exchange, and that an upgrade is
// acknowledged once however many tasks ask for it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "core/casupp/pending_records.h"
#include "core/casupp/upgrade.h"
#include "tests/unit/upgrade/upgrade_test_env.h"

namespace {

using ::testing::_;
using ::testing::Invoke;

constexpr const char* kCmdGuid = "5f0c2a1e-upgrade-command";

struct SentAck {
  uint32_t cmdId;
  std::string guid;
  uint32_t status;
  std::string payload;
};

class UpgradeAckTest : public ::testing::Test {
 protected:
  // A left-over record `recordId` with the installer's `result` in `resultFile` (null: none).
  void Leave(uint32_t recordId, const char* resultFile = "UPResult.ini", const char* result = "0") {
    if (recordId != 0) env.PutCmdRecord(recordId, kCmdGuid);
    if (resultFile != nullptr) env.WriteInstallResult(resultFile, result);
  }
  // Every acknowledgement handed to the RP client, answered by `reply`
  // (null: no response; `exchanged` false: the exchange failed).
  void AnswerWith(ServerResponse* reply, bool exchanged = true) {
    ON_CALL(env.rpClient, SendCommandAck(_, _))
        .WillByDefault(Invoke([this, reply, exchanged](const CmdAck* ack, ServerResponse** response) {
          std::lock_guard<std::mutex> lock(mutex_);
          sent_.push_back({ack->dwCmdId, ack->szCmdGuid, ack->dwStatus,
                           ack->pszAckPayload != nullptr ? ack->pszAckPayload : ""});
          *response = reply;
          return static_cast<uint8_t>(exchanged ? 1 : 0);
        }));
  }
  std::vector<SentAck> Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

  UpgradeTestEnv env;

 private:
  std::mutex mutex_;
  std::vector<SentAck> sent_;
};

// How the server answers the acknowledgement; without a response it is taken to have it.
enum Reply { kNoReply, kAccepted, kRefused, kUnreachable };

// One upgrade that ran, and one outcome of its acknowledgement's exchange.
struct AckCase {
  const char* name;
  uint32_t taskType;
  uint32_t upgradeType;  // as stored by the upgraded agent's start-up
  uint32_t recordId;
  const char* resultFile;
  const char* installResult;
  Reply reply;
  uint32_t cmdId;
  uint32_t status;
  bool kept;  // the record stays and the pending list carries the acknowledgement
};

class UpgradeAckKind : public UpgradeAckTest, public ::testing::WithParamInterface<AckCase> {};

// Whatever happened, once the server has the acknowledgement or the pending
// list carries it, a later event of the upgrade tool sends nothing more.
TEST_P(UpgradeAckKind, AcknowledgesTheUpgradeThatRanOnceAndKeepsWhatTheServerHasNot) {
  const AckCase& c = GetParam();
  env.support.SetClientUpgradeType(c.upgradeType);
  Leave(c.recordId, c.resultFile, c.installResult);
  TestServerResponse response(c.reply == kAccepted);
  AnswerWith(c.reply == kAccepted || c.reply == kRefused ? &response.response : nullptr,
             c.reply != kUnreachable);

  EXPECT_TRUE(SendUpgradeCmdAck(c.taskType, &env.rpClient));
  ASSERT_EQ(Sent().size(), 1u) << env.log.Dump();
  EXPECT_EQ(Sent()[0].cmdId, c.cmdId);
  EXPECT_EQ(Sent()[0].guid, kCmdGuid);
  EXPECT_EQ(Sent()[0].status, c.status);
  // The installer's text travels as is; only the exact text "0" is success.
  EXPECT_EQ(Sent()[0].payload, std::string(R"({"app":1,"dt":1700000000,"dt1":"spisdt1","ecd":")") + c.installResult +
                                   R"(","hr":"spishr1"})" + "\n");
  EXPECT_EQ(env.support.HasBlob(c.recordId), c.kept);
  const auto pending = env.support.PendingInList(14);
  ASSERT_EQ(pending.size(), c.kept ? 1u : 0u);
  if (c.kept) {
    const auto stored = ParsePendingCommandAck(pending[0].data.data(), pending[0].data.size());
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(std::make_tuple(stored->cmdId, stored->guid, stored->status),
              std::make_tuple(c.cmdId, std::string(kCmdGuid), c.status));
  }
  EXPECT_FALSE(IsUpgradeCmdAckOutstanding(c.taskType));

  EXPECT_FALSE(SendUpgradeCmdAck(c.taskType, &env.rpClient));
  EXPECT_EQ(Sent().size(), 1u) << env.log.Dump();
  EXPECT_EQ(env.support.PendingInList(14).size(), pending.size());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UpgradeAckKind,
    ::testing::Values(
        AckCase{"MajorUpgradeAcknowledges117", 120, 2, 52, "UPResult.ini", "0", kNoReply, 117, kCmdAckDone, false},
        AckCase{"MinorUpgradeAcknowledges120", 120, 1, 52, "UPResult.ini", "0", kAccepted, 120, kCmdAckDone, false},
        AckCase{"SpUpgradeAcknowledges116", 116, 1, 51, "SPResult.ini", "0", kNoReply, 116, kCmdAckDone, false},
        AckCase{"DoubleZeroIsAFailure", 120, 2, 52, "UPResult.ini", "00", kNoReply, 117, kCmdAckFailed, false},
        AckCase{"InstallerError", 120, 2, 52, "UPResult.ini", "1603", kNoReply, 117, kCmdAckFailed, false},
        AckCase{"ServerUnreachable", 120, 2, 52, "UPResult.ini", "0", kUnreachable, 117, kCmdAckDone, true},
        AckCase{"ServerRefuses", 120, 2, 52, "UPResult.ini", "0", kRefused, 117, kCmdAckDone, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeAckTest, AcknowledgementThatCouldNotBeStoredIsSentAgainByTheNextEvent) {
  Leave(52);
  env.support.Fail(InMemorySupportLibrary::Op::kSetPending);
  AnswerWith(nullptr, false);
  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_TRUE(IsUpgradeCmdAckOutstanding(120));

  env.support.Fail(InMemorySupportLibrary::Op::kSetPending, false);
  AnswerWith(nullptr);
  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_FALSE(env.support.HasBlob(52));
}

TEST_F(UpgradeAckTest, MissingResultFileOrRecordSendsNothingAndKeepsTheRecord) {
  Leave(52, nullptr);
  AnswerWith(nullptr);
  EXPECT_FALSE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_TRUE(env.support.HasBlob(52));
  env.support.CLDeleteDataById(nullptr, 52);
  Leave(0);
  EXPECT_FALSE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_TRUE(Sent().empty());
}

// Two performers holding a task 120 each (two sets of the UP event on either
// side of the thread's reset): one acknowledgement.
TEST_F(UpgradeAckTest, TwoPerformersRacingSendOneAcknowledgement) {
  Leave(52);
  AnswerWith(nullptr);
  std::thread first([&] { SendUpgradeCmdAck(120, &env.rpClient); });
  std::thread second([&] { SendUpgradeCmdAck(120, &env.rpClient); });
  first.join();
  second.join();
  EXPECT_EQ(Sent().size(), 1u) << env.log.Dump();
}

}  // namespace
