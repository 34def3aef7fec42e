// The policy check, local reset and fetch against the suite's protection
// product (policy.json) and response generator.
#include <gtest/gtest.h>

#include "core/rpclcore/policy.h"
#include "core/rpclcore/task_response_gen.h"
#include "suite_env.h"

namespace {

class PolicyTest : public SuiteEnv {
 protected:
  void SetUp() override {
    SuiteEnv::SetUp();
    respGen_ = CreateTaskResponseGen("PolicyTest");
    ASSERT_NE(respGen_, nullptr);
    ResetFirstPolicyCheckFlag();
  }
  void TearDown() override { DeleteTaskResponseGen(respGen_, "PolicyTest"); }
  Json::Value Policy() const { return ParseJson(ReadFile(productFolder_ + "policy.json")); }

  ICAResponseGen* respGen_ = nullptr;
};

TEST_F(PolicyTest, ModificationCheckListsEmptyFeaturesAndEveryFeatureOnTheFirstCheck) {
  const struct {
    bool firstCheck;
    const char* features;
    bool modified;
    const char* ids;
    int64_t waitedMs;
  } cases[] = {
      {true, R"({"3":"","7":"abc"})", true, "[3,7]", kFirstPolicyCheckWaitMs},
      {false, R"({"3":"","7":"abc"})", true, "[3]", 0},
      {false, R"({"3":"a1","7":"abc"})", false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.features) + (c.firstCheck ? " first" : " later"));
    ResetFirstPolicyCheckFlag();
    bool modified = false;
    std::string ids;
    if (!c.firstCheck) {
      ASSERT_TRUE(CheckIfPolicyModifedAtClient(respGen_, &modified, &ids));
    }
    WriteProductFile("policy.json", std::string(R"({"version":"v1","features":)") + c.features + "}");
    const int64_t before = clock_.NowMilliseconds();
    ASSERT_TRUE(CheckIfPolicyModifedAtClient(respGen_, &modified, &ids));
    EXPECT_EQ(modified, c.modified);
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(clock_.NowMilliseconds() - before, c.waitedMs);
  }
  // No product, no policy state: the check fails and counts as modified.
  std::filesystem::remove_all(productFolder_);
  bool modified = false;
  std::string ids;
  EXPECT_FALSE(CheckIfPolicyModifedAtClient(respGen_, &modified, &ids));
  EXPECT_TRUE(modified);
}

TEST_F(PolicyTest, LocalResetRestoresTheListedFeaturesOnly) {
  WriteProductFile("policy.json", R"({"version":"v9","features":{"3":"","7":"","9":"x"}})");
  ASSERT_TRUE(ResetPolicyLocally(respGen_, "[3,9]"));
  const Json::Value policy = Policy();
  EXPECT_EQ(policy["features"]["3"].asString(), "v9");
  EXPECT_EQ(policy["features"]["7"].asString(), "");
  EXPECT_EQ(policy["features"]["9"].asString(), "v9");
}

TEST_F(PolicyTest, FetchSendsThePolicyStateAndEndsByTheShapeOfTheAnswer) {
  ServerCommandEntry none{};  // an empty list is still a list
  const struct {
    const char* name;
    ServerCommandEntry* commands;
    bool sendFails;
    bool result;
  } cases[] = {
      {"no command list", nullptr, false, false},
      {"empty command list", &none, false, true},
      {"send failed", &none, true, false},
  };
  WriteProductFile("policy.json", R"({"version":"v1","features":{"3":"on"}})");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rpClient_.answer = ServerResponse{};
    rpClient_.answer->bSuccess = 1;
    rpClient_.answer->pCommands = c.commands;
    rpClient_.sent.clear();
    rpClient_.calls = 0;
    rpClient_.failCall = c.sendFails ? 1 : 0;
    EXPECT_EQ(FetchAndApplyPolicy(&rpClient_), c.result);
    EXPECT_TRUE(rpClient_.acks.empty());
    if (c.sendFails) continue;
    ASSERT_EQ(rpClient_.sent.size(), 1u);
    EXPECT_EQ(rpClient_.sent[0].dataId, 14u);
    EXPECT_EQ(rpClient_.sent[0].type, 10u);
    EXPECT_EQ(ParseJson(rpClient_.sent[0].json)[0]["payload"]["3"].asString(), "on");
  }
}

TEST_F(PolicyTest, PolicyCommandIsAppliedAndAcknowledgedWithThePolicyDetails) {
  for (const bool ackGoesOut : {true, false}) {
    SCOPED_TRACE(ackGoesOut);
    WriteProductFile("policy.json", R"({"version":"v1","features":{"3":""}})");
    std::string guid = ackGoesOut ? "policy-guid-1" : "policy-guid-2";
    std::string json = R"({"cmd":{"id":12,"type":4,"data":{"version":"v2","features":{"3":"a","7":"b"}}}})";
    ServerCommandEntry command{};
    command.pszCmdGuid = guid.data();
    command.pszCommandJson = json.data();
    rpClient_.answer = ServerResponse{};
    rpClient_.answer->bSuccess = 1;
    rpClient_.answer->pCommands = &command;
    rpClient_.answer->dwCommandCount = 1;
    rpClient_.ackResult = ackGoesOut;
    ASSERT_TRUE(FetchAndApplyPolicy(&rpClient_));
    EXPECT_EQ(Policy()["version"].asString(), "v2");
    EXPECT_EQ(Policy()["features"]["7"].asString(), "b");
    if (ackGoesOut) {
      ASSERT_EQ(rpClient_.acks.size(), 1u);
      EXPECT_EQ(rpClient_.acks[0].dwCmdId, 12u);
      EXPECT_STREQ(rpClient_.acks[0].szCmdGuid, guid.c_str());
      EXPECT_EQ(rpClient_.acks[0].dwStatus, 1u);
      EXPECT_EQ(ParseJson(rpClient_.ackPayloads[0])["version"].asString(), "v2");
    } else {
      // Kept as a pending acknowledgement for the task performers.
      CLPendingTaskList* pending = nullptr;
      ASSERT_TRUE(GetClientPendingTasks(&pending));
      EXPECT_EQ(pending->dwCount, 1u);
      FreeClientPendingTasks(pending);
    }
  }
}

}  // namespace
