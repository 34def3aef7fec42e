// The simulator hands out no more commands in one answer than the agent may
// take (docs/protocol.md, "Command bound"): what it journals as sent is what
// the transport hands to the core, and the rest follows with later answers.
#include <gtest/gtest.h>

#include "transport_fixture.h"

namespace transport_test {
namespace {

constexpr uint32_t kQueued = 150;
constexpr uint32_t kBound = 100;

struct BoundCase {
  const char* name;
  bool redeliver;
  uint32_t secondAnswer;  // commands in the next answer, none acknowledged
};

class CommandBoundTest : public ::testing::TestWithParam<BoundCase> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(
        server_.Start(GetParam().redeliver ? std::vector<std::string>{"--redeliver"} : std::vector<std::string>{}));
    client_ = MakeClient(environment_);
    const CSConnectionInfo info = MakeConnectionInfo("http://", server_.port(), server_.relay_port());
    ASSERT_EQ(client_->InitCSClient(&info), 1);
  }

  // Commands the transport handed over from one heartbeat answer.
  uint32_t Heartbeat() {
    ResponseHolder holder(*client_);
    const ClientDataRecord record{2, 1, R"([{"payload":{"hb":1}}])"};
    EXPECT_EQ(client_->SetClientData(&record, 118, holder.slot(), 1), 1);
    return holder->dwCommandCount;
  }

  Cssim server_;
  FakeEnvironment environment_;
  std::unique_ptr<agtransport::RpClient> client_;
  LogCapture log_;
};

TEST_P(CommandBoundTest, AnAnswerCarriesAtMostTheBoundAndTheRestFollows) {
  for (uint32_t i = 0; i < kQueued; ++i) server_.QueueCommand(kClientGuid, 57);
  EXPECT_EQ(Heartbeat(), kBound);
  EXPECT_EQ(Heartbeat(), GetParam().secondAnswer);

  const std::vector<Json::Value> journal = server_.Journal("clientdata");
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0]["response"]["commandGuids"].size(), kBound) << "the journal says what was sent";
  EXPECT_EQ(journal[1]["response"]["commandGuids"].size(), GetParam().secondAnswer);
  EXPECT_FALSE(log_.Contains("are refused")) << log_.Dump();
}

// Without redelivery a command goes out once; with it, the oldest commands
// go out again until acknowledged, and the newer ones wait behind them.
INSTANTIATE_TEST_SUITE_P(Queues, CommandBoundTest,
                         ::testing::Values(BoundCase{"Once", false, kQueued - kBound},
                                           BoundCase{"Redelivered", true, kBound}),
                         [](const ::testing::TestParamInfo<BoundCase>& info) { return info.param.name; });

}  // namespace
}  // namespace transport_test
