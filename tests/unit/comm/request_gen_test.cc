// The request builders: messages with and without payload, error codes and
// the no-message action 3. The list's order shows in the fixed-purpose
// builders' requests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/genreq/response_json.h"
#include "tests/unit/mocks/messaging_env.h"

using ::testing::_;
using ::testing::Matcher;
using ::testing::Return;

class ResponseJsonTest : public ::testing::Test {
 protected:
  MessagingEnv env;
};

TEST_F(ResponseJsonTest, BuildsMessagesWithAndWithoutPayload) {
  std::string json = "stale";
  uint32_t error = 0;
  ASSERT_TRUE(GenerateJsonForReq(118, 1, 1, &env.respGen, &json, &error));
  EXPECT_EQ(json, R"([{"payload":{"state":1}}])");
  ASSERT_TRUE(GenerateJsonForSetReq(26, 2, 2, &env.respGen, R"({"p":1})", &json, &error));
  ASSERT_EQ(env.Requests().size(), 2u);
  EXPECT_EQ(env.Requests()[0].id, 118u);
  EXPECT_FALSE(env.Requests()[0].hasPayload);
  EXPECT_EQ(env.Requests()[1].payload, R"({"p":1})");
}

TEST_F(ResponseJsonTest, ActionThreeCreatesOneResponseButNoMessage) {
  EXPECT_CALL(env.respGen, CreateResponse(Matcher<const RequestList*>(_), _)).WillOnce(Return(1));
  EXPECT_CALL(env.msggen, CreateICSPMsgGenObj(_)).Times(0);
  std::string json = "stale";
  uint32_t error = 0;
  EXPECT_TRUE(GenerateJsonForReq(135, 2, 3, &env.respGen, &json, &error));
  EXPECT_TRUE(json.empty());
}

TEST_F(ResponseJsonTest, ErrorCodes) {
  std::string json;
  uint32_t error = 0;
  EXPECT_CALL(env.respGen, CreateResponse(Matcher<const RequestList*>(_), _)).WillOnce(Return(0));
  EXPECT_FALSE(GenerateJsonForReq(9, 2, 1, &env.respGen, &json, &error));
  EXPECT_EQ(error, kRespJsonErrCreateResponse);
  ::testing::Mock::VerifyAndClearExpectations(&env.respGen);
  ON_CALL(env.respGen, CreateResponse(Matcher<const RequestList*>(_), _)).WillByDefault(Return(1));

  EXPECT_CALL(env.msggen, CreateICSPMsgGenObj(_)).WillOnce(Return(0)).WillRepeatedly(::testing::DoDefault());
  EXPECT_FALSE(GenerateJsonForReq(9, 2, 1, &env.respGen, &json, &error));
  EXPECT_EQ(error, kRespJsonErrMsgGenObj);

  // An empty message is a failure, not an empty success.
  env.SetMessage("");
  EXPECT_FALSE(GenerateJsonForSetReq(26, 2, 2, &env.respGen, "{}", &json, &error));
  EXPECT_EQ(error, kRespJsonErrMsg);
  EXPECT_TRUE(json.empty());
}

TEST_F(ResponseJsonTest, FixedPurposeBuilders) {
  std::string json;
  ASSERT_TRUE(GenerateClientReportJson(&env.respGen, "C:/db/rpt.db", &json));
  ASSERT_TRUE(GetAVDBPath(&env.respGen, &json));
  ASSERT_TRUE(GenerateUAStatus(&env.respGen, &json));
  const auto requests = env.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].id, 106u);
  EXPECT_EQ(requests[0].payload, "C:/db/rpt.db");
  EXPECT_EQ(requests[1].id, 103u);
  EXPECT_EQ(requests[2].id, 10u);
  EXPECT_EQ(requests[3].id, 19u);
}
