// Finding, loading and subscribing to the unified agent's integration
// library, with the suite's stand-in installed into the test's machine root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/ua_passphrase.h"
#include "xua_env.h"

namespace {

using ::testing::ElementsAre;

class XuaLibraryTest : public ::testing::Test {
 protected:
  // True when nothing is loaded: ending the subscription finds no library.
  bool NothingLoaded() {
    const size_t before = env_.log.Count("Already QAC client un-subcribed with XUA");
    EXPECT_TRUE(UnsubcribeCommnWithXUA());
    return env_.log.Count("Already QAC client un-subcribed with XUA") == before + 1;
  }

  XuaEnv env_;
};

TEST_F(XuaLibraryTest, SubscriptionWithTheAgentsPassphraseAndItsEnd) {
  InstallUnifiedAgent();
  EXPECT_TRUE(IsXUAInstalled());
  char folder[260] = {};
  ASSERT_TRUE(GetQuoltAgentPath(folder, sizeof folder));
  EXPECT_EQ(std::string(folder), env_.machine.UnifiedAgentFolder());
  ASSERT_TRUE(SubscribeForXUACommn());
  ASSERT_TRUE(UnsubcribeCommnWithXUA());
  EXPECT_TRUE(NothingLoaded());

  const auto calls = env_.Calls();
  EXPECT_THAT(CallNames(calls), ElementsAre("SubscribeV2", "RegisterNotificationCallback", "UnSubscribe"));
  EXPECT_EQ(calls[0]["clientType"].asUInt(), 3u);
  EXPECT_EQ(calls[0]["productId"].asString(), "PRODUCT-ID");
  EXPECT_EQ(calls[0]["passphrase"].asString(), "accepted");
  // The passphrase is a secret: never in the agent's log.
  char passphrase[UA_PASSPHRASE_BUFFER_SIZE] = {};
  ASSERT_EQ(GenerateUAPassphrase(passphrase, sizeof passphrase), 0u);
  EXPECT_FALSE(env_.log.Contains(passphrase));
}

struct Refusal {
  const char* name;
  const char* library;
  const char* settings;
  std::vector<std::string> calls;
  const char* logLine;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class XuaRefusedSubscriptionTest : public XuaLibraryTest, public ::testing::WithParamInterface<Refusal> {};

// Every way a subscription can be refused leaves nothing loaded.
TEST_P(XuaRefusedSubscriptionTest, LeavesNothingLoaded) {
  const Refusal& refusal = GetParam();
  InstallUnifiedAgent(refusal.library);
  env_.Configure(refusal.settings);
  EXPECT_FALSE(SubscribeForXUACommn());
  EXPECT_TRUE(env_.log.ContainsAtLevel(AG_LOG_FAILURE, refusal.logLine));
  EXPECT_TRUE(NothingLoaded());
  EXPECT_EQ(env_.Names(), refusal.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, XuaRefusedSubscriptionTest,
    ::testing::Values(
        Refusal{"WrongPassphrase", UAINT_LIBRARY, "passphrase=not-the-agents-passphrase", {"SubscribeV2"},
                "pfnSubscribeV2 Failed"},
        Refusal{"NoNotificationCallbackExport", UAINT_WITHOUT_CALLBACK_LIBRARY, "", {"SubscribeV2", "UnSubscribe"},
                "GetProcAddress Failed for RegisterNotificationCallback Error code:(127)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
