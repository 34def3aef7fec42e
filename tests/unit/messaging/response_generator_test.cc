#include <agsuite/agmisc.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "messaging_env.h"
#include "platform/clock.h"

namespace {

using messaging_test::MessagingEnv;
using messaging_test::ParseOrNull;

class ResponseGeneratorTest : public MessagingEnv {};

TEST_F(ResponseGeneratorTest, RegistrationCarriesTheClientFacts) {
  ASSERT_EQ(SetClientUDI("udi-1"), 1);
  const Json::Value p = ParseOrNull(RespondOne(122, 1, 1));
  EXPECT_EQ(p["guid"].asString(), "guid-under-test");
  EXPECT_EQ(p["udi"].asString(), "udi-1");
  EXPECT_FALSE(p["hostName"].asString().empty());
  EXPECT_EQ(p["os"]["name"].asString(), "Linux");
  EXPECT_EQ(p["agentVersion"].asString(), "10.14.0.1");
  EXPECT_FALSE(p["productInstalled"].asBool());
}

TEST_F(ResponseGeneratorTest, HeartbeatIsGuidAndClockTime) {
  platform::ManualClock clock(1'700'000'123);
  platform::ScopedClock scoped(&clock);
  const Json::Value p = ParseOrNull(RespondOne(118, 1, 1));
  EXPECT_EQ(p["guid"].asString(), "guid-under-test");
  EXPECT_EQ(p["time"].asInt64(), 1'700'000'123);
  EXPECT_EQ(p.size(), 2u);
}

TEST_F(ResponseGeneratorTest, EveryClientIdTheCoreSendsHasAPayload) {
  struct Expect {
    uint32_t id;
    const char* key;
  } expects[] = {{126, "assetTag"}, {114, "productInstalled"}, {119, "avUpgradeStatus"}, {104, "endpoints"},
                 {130, "avDownloadUrls"}, {134, "machine"}, {137, "time"}, {138, "guid"}, {139, "productVersion"}};
  for (const Expect& e : expects) {
    const Json::Value p = ParseOrNull(RespondOne(e.id, 1, 1));
    EXPECT_TRUE(p.isObject() && p.isMember(e.key)) << e.id;
  }
}

TEST_F(ResponseGeneratorTest, UnknownIdsGiveAnEmptyEntryNotAFailure) {
  const auto texts = Respond({{999, 1, 1, nullptr, nullptr}, {118, 1, 1, nullptr, nullptr}, {77, 2, 1, nullptr, nullptr}});
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "");
  EXPECT_FALSE(texts[1].empty());
  EXPECT_EQ(texts[2], "");
}

TEST_F(ResponseGeneratorTest, RefusesEmptyListsAndUninitialisedUse) {
  RequestList empty{nullptr, nullptr};
  CAResponse response{};
  EXPECT_EQ(gen_->CreateResponse(&empty, &response), 0);
  ASSERT_EQ(gen_->Deinit(), 1);
  EXPECT_EQ(RespondOne(118, 1, 1), "<failed>");
  ASSERT_EQ(gen_->Init(), 1);
  EXPECT_NE(RespondOne(118, 1, 1), "<failed>");
}

// --- status digests ----------------------------------------------------------

class StatusDigestTest : public MessagingEnv, public ::testing::WithParamInterface<std::tuple<uint32_t, uint32_t, uint32_t>> {};

TEST_P(StatusDigestTest, UnchangedItemIsNotSentAgainUntilTheCoreResetsItsSlot) {
  const auto [id, category, slot] = GetParam();
  const std::string first = RespondOne(id, category, 1);
  ASSERT_FALSE(first.empty());
  const auto stored = ReadStore(slot, 16);
  ASSERT_TRUE(stored.has_value());
  EXPECT_NE(*stored, std::vector<uint8_t>(16, 0));
  EXPECT_EQ(ReadStore(slot + 1, 16), std::vector<uint8_t>(16, 0));  // nothing before it

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
  EXPECT_TRUE(first["installed"].asBool());
  EXPECT_EQ(first["status"]["version"].asString(), "1.0");
  const auto digest1 = ReadStore(21, 16);

  WriteProductFile("status.json", R"({"version":"1.0","realtime":false})");
  const Json::Value second = ParseOrNull(RespondOne(9, 2, 1));
  EXPECT_FALSE(second["status"]["realtime"].asBool());
  EXPECT_EQ(ReadStore(22, 16), digest1);
  EXPECT_NE(ReadStore(21, 16), digest1);
}

TEST_F(ResponseGeneratorTest, UnchangedStatusAloneMakesTheMessageEmpty) {
  ASSERT_FALSE(RespondOne(102, 1, 1).empty());
  Respond({{102, 1, 1, nullptr, nullptr}});
  ICSPMsgGen* msg = nullptr;
  ASSERT_EQ(CreateICSPMsgGenObj(&msg), 1);
  char* text = nullptr;
  ASSERT_EQ(msg->CreateResponseMsg(&last_response_, &text), 1);
  EXPECT_STREQ(text, "");
  msg->FreeResponseMsg(text);
  DeleteICSPMsgGenObj(msg);
}

// --- the protection product ---------------------------------------------------

TEST_F(ResponseGeneratorTest, ProductReadsWithoutTheProduct) {
  EXPECT_EQ(ParseOrNull(RespondOne(9, 2, 1))["installed"].asBool(), false);
  EXPECT_EQ(RespondOne(10, 2, 1), "");
  EXPECT_EQ(RespondOne(13, 2, 1), "");
  EXPECT_EQ(RespondOne(14, 2, 1), "");
}

TEST_F(ResponseGeneratorTest, PolicyStateAndDetailsComeFromPolicyJson) {
  InstallProduct();
  WriteProductFile("policy.json", R"({"version":"v7","features":{"3":"","7":"abc"}})");
  EXPECT_EQ(RespondOne(14, 2, 1), R"({"3":"","7":"abc"})");
  const Json::Value details = ParseOrNull(RespondOne(13, 2, 1));
  EXPECT_EQ(details["version"].asString(), "v7");
  EXPECT_EQ(details["features"].size(), 2u);
}

TEST_F(ResponseGeneratorTest, ActionsAreJournalledWhenTheProductIsInstalled) {
  InstallProduct();
  const Json::Value reply = ParseOrNull(RespondOne(18, 2, 2, R"({"guid":"g-1"})"));
  EXPECT_TRUE(reply["delivered"].asBool());
  RespondOne(37, 2, 2, R"({"rsts":1})");
  RespondOne(135, 2, 3);
  RespondOne(127, 1, 2, R"({"fromClient":1})");
  const auto journal = Journal();
  ASSERT_EQ(journal.size(), 4u);
  EXPECT_EQ(journal[0]["id"].asUInt(), 18u);
  EXPECT_EQ(journal[0]["payload"]["guid"].asString(), "g-1");
  EXPECT_EQ(journal[1]["payload"]["rsts"].asInt(), 1);
  EXPECT_EQ(journal[2]["id"].asUInt(), 135u);
  EXPECT_EQ(journal[2]["action"].asUInt(), 3u);
  EXPECT_EQ(journal[3]["payload"]["fromClient"].asInt(), 1);
}

TEST_F(ResponseGeneratorTest, ActionsSucceedUndeliveredWithoutTheProduct) {
  const Json::Value reply = ParseOrNull(RespondOne(36, 2, 2, R"({"guid":"g","tid":"t"})"));
  EXPECT_EQ(reply["action"].asUInt(), 36u);
  EXPECT_FALSE(reply["delivered"].asBool());
  EXPECT_FALSE(std::filesystem::exists(product_folder_));
}

TEST_F(ResponseGeneratorTest, PolicyResetRestoresTheListedFeatures) {
  InstallProduct();
  WriteProductFile("policy.json", R"({"version":"v7","features":{"3":"","7":""}})");
  RespondOne(26, 2, 2, "[3]");
  const Json::Value policy = ParseOrNull(ReadProductFile("policy.json"));
  EXPECT_EQ(policy["features"]["3"].asString(), "v7");
  EXPECT_EQ(policy["features"]["7"].asString(), "");
}

TEST_F(ResponseGeneratorTest, ProductActionRepliesAreNeverSuppressedByDigests) {
  // Id 9 as an action (category 2, action 2) is not the status item 9.
  EXPECT_FALSE(RespondOne(9, 2, 2).empty());
  EXPECT_FALSE(RespondOne(9, 2, 2).empty());
}

TEST_F(ResponseGeneratorTest, P2PValuesAreSentOnceUnlessMarkedUndelivered) {
  const Json::Value p = ParseOrNull(RespondOne(131, 1, 1));
  ASSERT_TRUE(p.isObject());
  EXPECT_TRUE(p.isMember("sbnet"));
  EXPECT_TRUE(p["srvurls"].isMember("srvhosturl"));
  EXPECT_EQ(RespondOne(131, 1, 1), "");
  WriteStore(61, {1, 0});
  EXPECT_FALSE(RespondOne(131, 1, 1).empty());
  EXPECT_EQ(ReadStore(61, 2), (std::vector<uint8_t>{0, 0}));
}

}  // namespace
