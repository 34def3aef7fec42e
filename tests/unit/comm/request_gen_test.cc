// The fixed-purpose request builders, where the list's order shows. Messages
// with and without payload, action 3 and a message without payload are
// ServerNotificationsTest's.
#include <gtest/gtest.h>

#include "core/genreq/response_json.h"
#include "tests/unit/mocks/messaging_env.h"

class ResponseJsonTest : public ::testing::Test {
 protected:
  MessagingEnv env;
};

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
