// The subscription to the unified agent and the messages to it as the
// unified agent receives them (the stand-in's journal), the end of the
// subscription after an uninstall notice, and the "agadv.ini" flags.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "core/common/ua_passphrase.h"
#include "xua_env.h"

namespace {

using ::testing::ElementsAre;

constexpr const char* kUnifiedAgentUdi = "UDI-FROM-UA-0001";

struct MessageCase {
  const char* name;
  const char* tenant;
  std::function<bool()> send;
  const char* call;    // the export it arrives through
  uint32_t command;    // "ProcessCommand" only
  const char* server;  // "SendData" only
  const char* json;    // as the unified agent must read it
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

class XuaMessageTest : public ::testing::TestWithParam<MessageCase> {
 protected:
  XuaEnv env_;
};

TEST_P(XuaMessageTest, ArrivesWithTheJsonOfItsTable) {
  const MessageCase& c = GetParam();
  env_.WriteTenantJson(c.tenant);
  CTenantInfo::release(CTenantInfo::getInstance(true));
  InstallUnifiedAgent(UAINT_LIBRARY, kUnifiedAgentUdi);
  ASSERT_TRUE(c.send());

  const Json::Value* message = nullptr;
  const auto calls = JournalledCalls();
  size_t handedOut = 0;
  size_t givenBack = 0;
  for (const auto& call : calls) {
    if (call["call"].asString() == c.call) message = &call;
    handedOut += call["call"].asString() != "FreeResponse" && call["response"].asBool() ? 1 : 0;
    givenBack += call["call"].asString() == "FreeResponse" ? 1 : 0;
  }
  ASSERT_NE(message, nullptr) << c.call;
  EXPECT_EQ((*message)["status"].asInt(), 0);
  const std::string text = (*message)["json"].asString();
  EXPECT_EQ(text.find_first_of(" \n"), std::string::npos) << "not compact: " << text;
  EXPECT_EQ(ParseJson(text), ParseJson(c.json)) << text;
  EXPECT_EQ((*message)["command"].asUInt(), c.command);
  EXPECT_EQ((*message)["server"].asString(), c.server);
  // Every response the unified agent handed out is given back.
  EXPECT_EQ(handedOut, 1u);
  EXPECT_EQ(givenBack, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, XuaMessageTest,
    ::testing::Values(
        MessageCase{"Registration", kCloudTenant, [] { return SendDataToXUA(); }, "SendData", 0,
                    "https://cs.example.test/agent",
                    R"({"dvid":"UDI-FROM-UA-0001","tid":"tenant-42","mid":"MSG-003","dtyp":15,"pid":"PRODUCT-ID",)"
                    R"("v":"1.0","loc":"de-DE","dpld":[{"id":1001,"stscd":1,"stsmsg":"register",)"
                    R"("prdid":"PRODUCT-ID","command":"register","payload":""}]})"},
        MessageCase{"RegistrationCutsTenantValuesToTheirFields",
                    R"({"tenantId":"0123456789012345678901234567890123456789-extra","locale":"en-US-x",)"
                    R"("csmUrl":"https://cs.example.test"})",
                    [] { return SendDataToXUA(); }, "SendData", 0, "https://cs.example.test",
                    R"({"dvid":"UDI-FROM-UA-0001","tid":"012345678901234567890123456789012345678","mid":"MSG-003",)"
                    R"("dtyp":15,"pid":"PRODUCT-ID","v":"1.0","loc":"en-US","dpld":[{"id":1001,"stscd":1,)"
                    R"("stsmsg":"register","prdid":"PRODUCT-ID","command":"register","payload":""}]})"},
        MessageCase{"UninstallSucceeded", kCloudTenant, [] { return NotifyToXUAForUninstallation(true); },
                    "ProcessCommand", 1002, "",
                    R"({"prdid":"PRODUCT-ID","marksuccess":true,"cmdid":"uninstall-ms-cmd-001"})"},
        MessageCase{"UninstallFailed", kCloudTenant, [] { return NotifyToXUAForUninstallation(false); },
                    "ProcessCommand", 1002, "",
                    R"({"prdid":"PRODUCT-ID","marksuccess":false,"cmdid":"uninstall-ms-cmd-001"})"},
        MessageCase{"Upgrade", kCloudTenant, [] { return NotifyToXUAForUpgradation(); }, "ProcessCommand", 1000, "",
                    R"({"prdver":"4.2.0.7","prdid":"PRODUCT-ID","marksuccess":true,"cmdid":"upgrade-ms-cmd-001"})"}),
    [](const auto& info) { return std::string(info.param.name); });

class XuaMessageFlowTest : public ::testing::Test {
 protected:
  // True when nothing is loaded: ending the subscription finds no library.
  bool NothingLoaded() {
    const size_t before = env_.log.Count("Already QAC client un-subcribed with XUA");
    EXPECT_TRUE(UnsubcribeCommnWithXUA());
    return env_.log.Count("Already QAC client un-subcribed with XUA") == before + 1;
  }

  XuaEnv env_;
};

TEST_F(XuaMessageFlowTest, UninstallNoticeEndsTheSubscriptionAndTheNextRequestSubscribesAgain) {
  InstallUnifiedAgent(UAINT_LIBRARY, kUnifiedAgentUdi);
  ASSERT_TRUE(NotifyToXUAForUninstallation(true));
  char udi[100] = {};
  ASSERT_TRUE(GetUDIFromXUA(udi, sizeof udi));
  EXPECT_STREQ(udi, kUnifiedAgentUdi);
  EXPECT_THAT(CallNames(), ElementsAre("SubscribeV2", "RegisterNotificationCallback", "ProcessCommand", "callback",
                                       "FreeResponse", "UnSubscribe", "SubscribeV2", "RegisterNotificationCallback",
                                       "GetUDIFromQA"));
  const Json::Value subscription = JournalledCalls()[0];
  EXPECT_EQ(subscription["clientType"].asUInt(), 3u);
  EXPECT_EQ(subscription["productId"].asString(), "PRODUCT-ID");
  // The passphrase is known in advance by the unified agent: a change of either
  // GUID text, of the salt characters taken from the first or of the derivation
  // (PBKDF2-HMAC-SHA-256) would break every subscription. It needs its whole
  // buffer (44 characters and the NUL) and is a secret: never in the log.
  char passphrase[UA_PASSPHRASE_BUFFER_SIZE];
  std::memset(passphrase, '#', sizeof passphrase);
  EXPECT_EQ(GenerateUAPassphrase(passphrase, UA_PASSPHRASE_LENGTH), UA_PASSPHRASE_ENCODING_FAILED);
  EXPECT_EQ(std::string(passphrase, sizeof passphrase), std::string(sizeof passphrase, '#'));
  ASSERT_EQ(GenerateUAPassphrase(passphrase, sizeof passphrase), UA_PASSPHRASE_SUCCESS);
  EXPECT_STREQ(passphrase, "505lx5hvsN1nmLmbes/Yi+vz44BZaEbj/sW1VwG1czw=");
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

class XuaRefusedSubscriptionTest : public XuaMessageFlowTest, public ::testing::WithParamInterface<Refusal> {};

// Every way a subscription can be refused leaves nothing loaded.
TEST_P(XuaRefusedSubscriptionTest, LeavesNothingLoaded) {
  InstallUnifiedAgent(GetParam().library);
  env_.Configure(GetParam().settings);
  EXPECT_FALSE(SubscribeForXUACommn());
  EXPECT_TRUE(env_.log.ContainsAtLevel(AG_LOG_FAILURE, GetParam().logLine));
  EXPECT_TRUE(NothingLoaded());
  EXPECT_EQ(CallNames(), GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, XuaRefusedSubscriptionTest,
    ::testing::Values(
        Refusal{"WrongPassphrase", UAINT_LIBRARY, "passphrase=not-the-agents-passphrase", {"SubscribeV2"},
                "pfnSubscribeV2 Failed"},
        Refusal{"NoNotificationCallbackExport", UAINT_WITHOUT_CALLBACK_LIBRARY, "", {"SubscribeV2", "UnSubscribe"},
                "GetProcAddress Failed for RegisterNotificationCallback Error code:(127)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(XuaMessageFlowTest, RefusedCommandIsReportedAndStillEndsTheSubscriptionOnUninstall) {
  InstallUnifiedAgent();
  env_.Configure("status.ProcessCommand=9");
  EXPECT_FALSE(NotifyToXUAForUninstallation(true));
  EXPECT_TRUE(env_.log.ContainsAtLevel(AG_LOG_FAILURE, "pfnProcessCommand Failed. Return Code: 9"));
  EXPECT_EQ(CallNames().back(), "UnSubscribe");
  EXPECT_FALSE(NotifyToXUAForUpgradation());
  EXPECT_EQ(CallNames().back(), "ProcessCommand");  // the upgrade notice keeps its subscription
}

TEST_F(XuaMessageFlowTest, IniFlagsLiveInTheAvConfigFlagsSectionAndReadZeroWhenAbsent) {
  uint32_t reEnroll = 7;
  uint32_t notified = 7;
  ASSERT_TRUE(GetReEnrollStatusFromIni(&reEnroll));
  ASSERT_TRUE(GetUpgradeNotificationStatusForXUA(&notified));
  EXPECT_EQ(reEnroll + notified, 0u);

  ASSERT_TRUE(SetReEnrollStatusFromIni(1));
  ASSERT_TRUE(SetUpgradeNotificationForXUA(1));
  char16_t config[260] = {};
  env_.support.GetClientAgentConfigDir(config, 260);
  std::ifstream ini(*platform::Utf16ToUtf8(config) + "agadv.ini");
  const std::string content((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
  EXPECT_NE(content.find("[AV_CONFIG_FLAGS]"), std::string::npos) << content;
  EXPECT_NE(content.find("ReEnroll=1"), std::string::npos) << content;
  EXPECT_NE(content.find("NotifyXUAForUpgrade=1"), std::string::npos) << content;
  ASSERT_TRUE(SetReEnrollStatusFromIni(2));  // anything but 1 clears the flag
  ASSERT_TRUE(GetReEnrollStatusFromIni(&reEnroll));
  EXPECT_EQ(reEnroll, 0u);
}

}  // namespace
