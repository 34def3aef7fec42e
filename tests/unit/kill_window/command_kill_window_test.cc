// The window between keeping a command's GUID and handing its acknowledgement
// over: the store as a SIGKILL at each moment leaves it, then the next
// process's view of it - the server's redelivered copy is dropped as a repeat,
// and the pending acknowledgements it sends must still cover the command.
#include <gtest/gtest.h>

#include <optional>

#include "core/casupp/pending_records.h"
#include "core/rpclcore/heartbeat_cycle.h"
#include "core/rpclcore/heartbeat_state.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::Invoke;
using ::testing::Matcher;

enum class KillAt { kWhileCarriedOut, kWhileAckSent, kAfterwards };

struct KillCase {
  const char* name;
  KillAt at;
  uint8_t ackAnswered;
  std::optional<uint32_t> resentStatus;  // what the next process sends; none: nothing
};

class CommandKillWindowTest : public ::testing::TestWithParam<KillCase> {
 protected:
  CommandKillWindowTest() { env_.support.SetRegStatusValue(kRegisteredStatus, false); }

  // The acknowledgements the next process finds pending (list 14).
  std::vector<PendingCommandAck> PendingAcks() {
    CLPendingTaskList* list = nullptr;
    EXPECT_TRUE(GetClientPendingTasks(&list));
    std::vector<PendingCommandAck> acks;
    for (uint32_t i = 0; list != nullptr && i < list->dwCount; ++i) {
      const auto ack = ParsePendingCommandAck(list->pTasks[i].pData, list->pTasks[i].dwSize);
      EXPECT_TRUE(ack.has_value());
      if (ack) acks.push_back(*ack);
    }
    FreeClientPendingTasks(list);
    return acks;
  }

  HeartbeatEnv env_;
  HeartbeatState state_;
};

TEST_P(CommandKillWindowTest, NextProcessAcknowledgesTheCommandOnce) {
  const KillCase& c = GetParam();
  InMemorySupportLibrary::StoreImage atKill;
  ON_CALL(env_.respGen, CreateResponse(Matcher<const CSPRequest*>(_), _))
      .WillByDefault(Invoke([&](const CSPRequest*, CAResponse*) {
        if (c.at == KillAt::kWhileCarriedOut) atKill = env_.support.ImageAtKill();
        return uint8_t{1};
      }));
  ON_CALL(env_.rpClient, SendCommandAck(_, _)).WillByDefault(Invoke([&](const CmdAck*, ServerResponse** out) {
    if (c.at == KillAt::kWhileAckSent) atKill = env_.support.ImageAtKill();
    *out = nullptr;
    return c.ackAnswered;
  }));
  TestCommandList command;
  command.Add("7", "guid-7", 0x305);
  RpProcessHeartbeatCommand(command.Entries()[0], &env_.rpClient, &env_.respGen, &state_);
  if (c.at == KillAt::kAfterwards) atKill = env_.support.ImageAtKill();

  env_.support.RestartFrom(atKill);
  EXPECT_CALL(env_.rpClient, SendCommandAck(_, _)).Times(0);
  EXPECT_CALL(env_.respGen, CreateResponse(Matcher<const CSPRequest*>(_), _)).Times(0);
  RpProcessHeartbeatCommand(command.Entries()[0], &env_.rpClient, &env_.respGen, &state_);  // the server's next copy

  const std::vector<PendingCommandAck> pending = PendingAcks();
  if (!c.resentStatus) {
    EXPECT_TRUE(pending.empty());
    return;
  }
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].cmdId, 7u);
  EXPECT_EQ(pending[0].guid, "guid-7");
  EXPECT_EQ(pending[0].status, *c.resentStatus);
  EXPECT_EQ(pending[0].byteB, 0x05) << "the leading byte of the command entry";
}

// Killed while the command runs, the agent cannot tell how far it got: the
// command is reported failed. From the send on, the real acknowledgement is
// what goes out again.
INSTANTIATE_TEST_SUITE_P(
    Moments, CommandKillWindowTest,
    ::testing::Values(KillCase{"WhileCarriedOut", KillAt::kWhileCarriedOut, 1, kCmdAckFailed},
                      KillCase{"WhileAckSent", KillAt::kWhileAckSent, 1, kCmdAckDone},
                      KillCase{"AfterAnsweredAck", KillAt::kAfterwards, 1, std::nullopt},
                      KillCase{"AfterRefusedAck", KillAt::kAfterwards, 0, kCmdAckDone}),
    [](const ::testing::TestParamInfo<KillCase>& info) { return info.param.name; });

}  // namespace
