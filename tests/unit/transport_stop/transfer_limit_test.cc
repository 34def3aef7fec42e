// A transfer limit ends RP client calls that a slow server would hold for
// longer than any stop may take; lifting it lets calls run again.
#include "suite/agtransport/transfer_limit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "transport_fixture.h"

namespace transport_test {
namespace {

using std::chrono::milliseconds;

// Far beyond what a test may wait: only the limit can end a call early.
constexpr uint32_t kLongTotalTimeoutMs = 600'000;

class TransferLimitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(server_.Start({}, false));
    client_ = MakeClient(environment_, kLongTotalTimeoutMs);
    const CSConnectionInfo info = MakeConnectionInfo("http://", server_.port());
    ASSERT_EQ(client_->InitCSClient(&info), 1);
  }
  void TearDown() override { agtransport::SetTransferLimit(std::nullopt); }

  void AnswerSlowly() { server_.Post("/admin/outage", R"({"mode":"slow","seconds":600,"delayMs":300000})"); }
  bool Register() {
    ResponseHolder holder(*client_);
    return client_->Register(R"([{"payload":{}}])", holder.slot()) == 1;
  }

  Cssim server_;
  FakeEnvironment environment_;
  std::unique_ptr<agtransport::RpClient> client_;
  LogCapture log_;
};

TEST_F(TransferLimitTest, ALimitSetWhileACallWaitsEndsTheCall) {
  AnswerSlowly();
  bool sent = true;
  std::thread call([&] { sent = Register(); });
  // Whether the call is already waiting or not yet connected, the limit ends it.
  agtransport::SetTransferLimit(milliseconds(0));
  call.join();
  EXPECT_FALSE(sent);
  EXPECT_TRUE(log_.Contains("transfer ended by the agent's stop")) << log_.Dump();
}

TEST_F(TransferLimitTest, AGraceEndsACallTheServerHoldsLonger) {
  // Every answer comes a second after its request, which comes after the
  // limit was set: the grace always runs out first.
  server_.Post("/admin/outage", R"({"mode":"slow","seconds":600,"delayMs":1000})");
  agtransport::SetTransferLimit(milliseconds(200));
  EXPECT_FALSE(Register());
  EXPECT_TRUE(log_.Contains("transfer ended by the agent's stop")) << log_.Dump();
}

TEST_F(TransferLimitTest, LiftingTheLimitLetsCallsThroughAgain) {
  agtransport::SetTransferLimit(milliseconds(0));
  EXPECT_FALSE(Register());
  agtransport::SetTransferLimit(std::nullopt);
  EXPECT_TRUE(Register()) << log_.Dump();
}

}  // namespace
}  // namespace transport_test
