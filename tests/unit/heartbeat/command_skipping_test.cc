// Thinning out the commands of one heartbeat response.
#include "core/rpclcore/command_skipping.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/casupp/pending_records.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

class CommandSkippingTest : public ::testing::Test {
 protected:
  // Marks the list given as command texts; GUIDs are "g0", "g1", ...
  std::vector<bool> Mark(const std::vector<std::string>& texts) {
    TestCommandList list;
    for (size_t i = 0; i < texts.size(); ++i) list.Add(texts[i], "g" + std::to_string(i), 0x100 + i);
    std::vector<bool> skip;
    RPMarkCommandsToSkip(list.Entries(), list.Count(), &env_.rpClient, &skip);
    return skip;
  }
  std::vector<std::string> AckedGuids() const {
    std::vector<std::string> guids;
    for (const SentAck& ack : env_.Acks()) {
      EXPECT_EQ(ack.status, kCmdAckSkipped);
      guids.push_back(ack.guid);
    }
    return guids;
  }

  HeartbeatEnv env_;
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
      {{"117", "120"}, {false, true}, {"g1"}},
      {{"120", "116"}, {false, true}, {"g1"}},
      {{"116", "117", "120"}, {true, false, true}, {"g2", "g0"}},
      {{"bad", "bad", ""}, {false, false, false}, {}},  // unparsable: in no rule
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.texts));
    const size_t before = env_.Acks().size();
    EXPECT_EQ(Mark(c.texts), c.skip);
    const std::vector<std::string> guids = AckedGuids();
    EXPECT_EQ(std::vector<std::string>(guids.begin() + before, guids.end()), c.acked);
  }
  const std::vector<SentAck> acks = env_.Acks();
  EXPECT_EQ(acks[0].id, 12u);
  EXPECT_EQ(acks[0].retry, 0);
  EXPECT_EQ(acks[1].leading, 0x01) << "low byte of the entry's leading value";
  EXPECT_EQ(env_.parser.live.load(), 0);
}

TEST_F(CommandSkippingTest, SkipAcknowledgementThatCannotBeSentIsKeptInList14) {
  env_.SetAckResult(0);
  Mark({"31", "31"});
  const auto pending = env_.support.PendingInList(14);
  ASSERT_EQ(pending.size(), 1u);
  const auto ack = ParsePendingCommandAck(pending[0].data.data(), pending[0].data.size());
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(ack->cmdId, 31u);
  EXPECT_EQ(ack->guid, "g0");
  EXPECT_EQ(ack->status, kCmdAckSkipped);
  EXPECT_TRUE(env_.log.Contains("1 of 2 commands skipped; 1 skip acknowledgements not sent"));
}

// A flood of repeats: every skipped command is acknowledged (or kept), but
// the log gets one summary line for the answer, not lines per command.
TEST_F(CommandSkippingTest, AFloodOfRepeatsLogsOneSummaryLine) {
  for (const uint8_t ackResult : {uint8_t{1}, uint8_t{0}}) {
    env_.SetAckResult(ackResult);
    env_.log.Clear();
    const std::vector<std::string> texts(500, "12");
    const std::vector<bool> skip = Mark(texts);
    EXPECT_EQ(std::count(skip.begin(), skip.end(), true), 499);
    EXPECT_FALSE(skip.back());
    const std::string summary =
        "499 of 500 commands skipped; " + std::string(ackResult ? "0" : "499") + " skip acknowledgements not sent";
    EXPECT_EQ(env_.log.Count(summary), 1u);
    EXPECT_EQ(env_.log.Count("SendCommandAck failed"), 0u);
    // At most the parse line of each command, and a few lines for the answer.
    EXPECT_LE(env_.log.Records().size(), texts.size() + 5);
  }
  EXPECT_EQ(env_.Acks().size(), 2u * 499u);
  EXPECT_EQ(env_.support.PendingInList(14).size(), 499u);
}

}  // namespace
