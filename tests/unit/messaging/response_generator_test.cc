// The status items the response generator hands out only when changed, and
// the product's policy read for the server.
#include <gtest/gtest.h>

#include "messaging_env.h"

namespace {

using messaging_test::MessagingEnv;
using messaging_test::ParseOrNull;

class ResponseGeneratorTest : public MessagingEnv {};

// Item id, category and its digest slot in the store.
class StatusDigestTest : public MessagingEnv,
                         public ::testing::WithParamInterface<std::tuple<uint32_t, uint32_t, uint32_t>> {};

TEST_P(StatusDigestTest, UnchangedItemIsNotSentAgainUntilTheCoreResetsItsSlot) {
  const auto [id, category, slot] = GetParam();
  const std::string first = RespondOne(id, category, 1);
  ASSERT_FALSE(first.empty());
  const auto stored = ReadStore(slot, 16);
  ASSERT_TRUE(stored.has_value());
  EXPECT_NE(*stored, std::vector<uint8_t>(16, 0));

  EXPECT_EQ(RespondOne(id, category, 1), "");
  EXPECT_EQ(ReadStore(slot, 16), stored);  // an unchanged item rotates nothing

  // What the core's ResetNewOldMd5ById does after a failed send.
  WriteStore(slot, *ReadStore(slot + 1, 16));
  EXPECT_EQ(RespondOne(id, category, 1), first);
  EXPECT_EQ(ReadStore(slot, 16), stored);
}

INSTANTIATE_TEST_SUITE_P(Items, StatusDigestTest,
                         ::testing::Values(std::make_tuple(9u, 2u, 21u), std::make_tuple(101u, 1u, 17u),
                                           std::make_tuple(102u, 1u, 19u), std::make_tuple(19u, 2u, 23u)));

TEST_F(ResponseGeneratorTest, ChangedStatusIsSentAndThePreviousDigestMovesUp) {
  InstallProduct();
  WriteProductFile("status.json", R"({"version":"1.0","realtime":true})");
  const Json::Value first = ParseOrNull(RespondOne(9, 2, 1));
  EXPECT_EQ(first["status"]["version"].asString(), "1.0");
  const auto digest1 = ReadStore(21, 16);

  WriteProductFile("status.json", R"({"version":"1.0","realtime":false})");
  const Json::Value second = ParseOrNull(RespondOne(9, 2, 1));
  EXPECT_FALSE(second["status"]["realtime"].asBool());
  EXPECT_EQ(ReadStore(22, 16), digest1);
  EXPECT_NE(ReadStore(21, 16), digest1);
}

TEST_F(ResponseGeneratorTest, PolicyStateAndDetailsComeFromPolicyJson) {
  InstallProduct();
  WriteProductFile("policy.json", R"({"version":"v7","features":{"3":"","7":"abc"}})");
  EXPECT_EQ(RespondOne(14, 2, 1), R"({"3":"","7":"abc"})");
  const Json::Value details = ParseOrNull(RespondOne(13, 2, 1));
  EXPECT_EQ(details["version"].asString(), "v7");
  EXPECT_EQ(details["features"].size(), 2u);
}

TEST_F(ResponseGeneratorTest, P2PValuesAreSentOnceUnlessMarkedUndelivered) {
  const Json::Value p = ParseOrNull(RespondOne(131, 1, 1));
  EXPECT_TRUE(p["srvurls"].isMember("srvhosturl"));
  EXPECT_EQ(RespondOne(131, 1, 1), "");
  WriteStore(61, {1, 0});
  EXPECT_FALSE(RespondOne(131, 1, 1).empty());
  EXPECT_EQ(ReadStore(61, 2), (std::vector<uint8_t>{0, 0}));
}

}  // namespace
