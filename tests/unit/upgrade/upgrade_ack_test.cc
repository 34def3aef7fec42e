// Upgrade command acknowledgements: which command and status go out, what
// stays behind after each outcome of the exchange, and that an upgrade is
// acknowledged once however many tasks ask for it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/casupp/pending_records.h"
#include "core/casupp/upgrade.h"
#include "tests/unit/upgrade/upgrade_test_env.h"

namespace {

using ::testing::_;
using ::testing::Invoke;

constexpr const char* kCmdGuid = "5f0c2a1e-upgrade-command";

struct SentAck {
  uint32_t cmdId = 0;
  std::string guid;
  uint32_t status = 0;
  std::string payload;
};

class UpgradeAckTest : public ::testing::Test {
 protected:
  // Every acknowledgement handed to the RP client, answered by `reply`
  // (null: the exchange failed; otherwise the response handed back).
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

struct AckKindCase {
  const char* name;
  uint32_t taskType;
  uint32_t upgradeType;  // as stored by the upgraded agent's start-up
  uint32_t expectedCmdId;
  const char* resultFile;
  uint32_t recordId;
};

class UpgradeAckKind : public UpgradeAckTest, public ::testing::WithParamInterface<AckKindCase> {};

TEST_P(UpgradeAckKind, AcknowledgesTheCommandOfTheUpgradeThatRan) {
  const AckKindCase& c = GetParam();
  env.support.SetClientUpgradeType(c.upgradeType);
  env.PutCmdRecord(c.recordId, kCmdGuid);
  env.WriteInstallResult(c.resultFile, "0");
  AnswerWith(nullptr);

  EXPECT_TRUE(SendUpgradeCmdAck(c.taskType, &env.rpClient));

  ASSERT_EQ(Sent().size(), 1u) << env.log.Dump();
  EXPECT_EQ(Sent()[0].cmdId, c.expectedCmdId);
  EXPECT_EQ(Sent()[0].guid, kCmdGuid);
  EXPECT_EQ(Sent()[0].status, kCmdAckDone);
  EXPECT_FALSE(env.support.HasBlob(c.recordId));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UpgradeAckKind,
    ::testing::Values(AckKindCase{"MajorUpgradeAcknowledges117", 120, 2, 117, "UPResult.ini", 52},
                      AckKindCase{"MinorUpgradeAcknowledges120", 120, 1, 120, "UPResult.ini", 52},
                      AckKindCase{"UnknownUpgradeTypeCountsAsMajor", 120, 0, 117, "UPResult.ini", 52},
                      AckKindCase{"SpUpgradeAcknowledges116", 116, 1, 116, "SPResult.ini", 51}),
    [](const auto& info) { return std::string(info.param.name); });

struct ResultCase {
  const char* name;
  const char* installResult;
  uint32_t expectedStatus;
};

class UpgradeAckResult : public UpgradeAckTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(UpgradeAckResult, OnlyTheExactTextZeroIsSuccessAndTheTextTravelsAsIs) {
  const ResultCase& c = GetParam();
  env.PutCmdRecord(52, kCmdGuid);
  env.WriteInstallResult("UPResult.ini", c.installResult);
  AnswerWith(nullptr);

  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));

  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0].status, c.expectedStatus);
  EXPECT_EQ(Sent()[0].payload, std::string(R"({"app":1,"dt":1700000000,"dt1":"spisdt1","ecd":")") + c.installResult +
                                   R"(","hr":"spishr1"})" + "\n");
}

INSTANTIATE_TEST_SUITE_P(Results, UpgradeAckResult,
                         ::testing::Values(ResultCase{"Zero", "0", kCmdAckDone},
                                           ResultCase{"DoubleZero", "00", kCmdAckFailed},
                                           ResultCase{"InstallerError", "1603", kCmdAckFailed}),
                         [](const auto& info) { return std::string(info.param.name); });

// The three outcomes of the exchange. Whatever happened, once the server has
// the acknowledgement or the pending list carries it, a later UP event sends
// nothing more.
struct OutcomeCase {
  const char* name;
  bool exchanged;
  bool serverAccepts;
  bool recordKept;
  size_t pendingAcks;
};

class UpgradeAckOutcome : public UpgradeAckTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UpgradeAckOutcome, LeavesTheRightStateAndALaterEventSendsNothing) {
  const OutcomeCase& c = GetParam();
  TestServerResponse reply(c.serverAccepts);
  env.PutCmdRecord(52, kCmdGuid);
  env.WriteInstallResult("UPResult.ini", "0");
  AnswerWith(c.exchanged ? &reply.response : nullptr, c.exchanged);

  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_EQ(env.support.HasBlob(52), c.recordKept);
  const auto pending = env.support.PendingInList(14);
  ASSERT_EQ(pending.size(), c.pendingAcks);
  if (c.pendingAcks == 1) {
    const auto stored = ParsePendingCommandAck(pending[0].data.data(), pending[0].data.size());
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->cmdId, 117u);
    EXPECT_EQ(stored->guid, kCmdGuid);
    EXPECT_EQ(stored->status, kCmdAckDone);
  }
  EXPECT_FALSE(IsUpgradeCmdAckOutstanding(120));

  // The upgrade tool's event comes again (or the agent restarts).
  EXPECT_FALSE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_EQ(Sent().size(), 1u) << env.log.Dump();
  EXPECT_EQ(env.support.PendingInList(14).size(), c.pendingAcks);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, UpgradeAckOutcome,
    ::testing::Values(OutcomeCase{"ServerConfirms", true, true, false, 0},
                      OutcomeCase{"ServerUnreachable", false, false, true, 1},
                      OutcomeCase{"ServerRefuses", true, false, true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeAckTest, RefusalIsReportedAsAFailure) {
  TestServerResponse refusal(false);
  env.PutCmdRecord(52, kCmdGuid);
  env.WriteInstallResult("UPResult.ini", "0");
  AnswerWith(&refusal.response);
  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_EQ(env.log.LevelOf("Upgrade command acknowledgement refused by the server"), AG_LOG_FAILURE);
}

TEST_F(UpgradeAckTest, AcknowledgementThatCouldNotBeStoredIsSentAgainByTheNextEvent) {
  env.PutCmdRecord(52, kCmdGuid);
  env.WriteInstallResult("UPResult.ini", "0");
  env.support.Fail(InMemorySupportLibrary::Op::kSetPending);
  AnswerWith(nullptr, false);
  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_TRUE(env.log.Contains("SetClientPendingCommands failed"));
  EXPECT_TRUE(IsUpgradeCmdAckOutstanding(120));

  env.support.Fail(InMemorySupportLibrary::Op::kSetPending, false);
  AnswerWith(nullptr);
  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_FALSE(env.support.HasBlob(52));
}

TEST_F(UpgradeAckTest, MissingResultFileSendsNothingAndKeepsTheRecord) {
  env.PutCmdRecord(52, kCmdGuid);
  AnswerWith(nullptr);
  EXPECT_FALSE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(env.support.HasBlob(52));
  EXPECT_TRUE(env.log.Contains("GetPrivateProfileStringW failed errorcode(2)."));
}

TEST_F(UpgradeAckTest, MissingRecordIsReadTwiceASecondApartAndSendsNothing) {
  env.WriteInstallResult("UPResult.ini", "0");
  AnswerWith(nullptr);
  const int64_t before = env.clock.NowMilliseconds();
  EXPECT_FALSE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_EQ(env.clock.NowMilliseconds() - before, 1000);
  EXPECT_EQ(env.log.Count("GetClientBlobData failed for reading id(52)."), 2u);
  EXPECT_TRUE(Sent().empty());
}

// Two performers holding a task 120 each (two sets of the UP event on either
// side of the thread's reset): one acknowledgement.
TEST_F(UpgradeAckTest, TwoPerformersRacingSendOneAcknowledgement) {
  env.PutCmdRecord(52, kCmdGuid);
  env.WriteInstallResult("UPResult.ini", "0");
  AnswerWith(nullptr);
  std::thread first([&] { SendUpgradeCmdAck(120, &env.rpClient); });
  std::thread second([&] { SendUpgradeCmdAck(120, &env.rpClient); });
  first.join();
  second.join();
  EXPECT_EQ(Sent().size(), 1u) << env.log.Dump();
}

}  // namespace
