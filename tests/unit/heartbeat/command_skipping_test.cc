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

}  // namespace
