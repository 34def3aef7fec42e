// The 114 report and its throttling, the installation-status file, and the
// report after the reboot of a minor upgrade.
#include "core/casupp/install_status.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/casupp/pending_records.h"
#include "core/casupp/send_frequency.h"
#include "platform/clock.h"
#include "tests/unit/mocks/messaging_env.h"

using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgPointee;

namespace {

constexpr int64_t kNow = 1'750'000'000;

class InstallStatusTest : public ::testing::Test {
 protected:
  InstallStatusTest() : scopedClock_(&clock_), parserSiblings_(ParserSet(&parserLibrary_)) {
    env.SetMessage(R"([{"dataId":114,"payload":{"productInstalled":true}}])");
    env.WriteTenantJson(R"({"tenantId":"T-1","csUrl":"cs.example.test","csPrtNo":8443})");
    ON_CALL(parserLibrary_, CreateICSPMsgParserObj(_)).WillByDefault(DoAll(SetArgPointee<0>(&parser_), Return(1)));
    ON_CALL(parserLibrary_, DeleteICSPMsgParserObj(_)).WillByDefault(Return(1));
    ON_CALL(parser_, OpenMsg(_)).WillByDefault(Invoke([this](const char* json) {
      commands_.push_back(json);
      return uint8_t{0};
    }));
    ON_CALL(env.rpClient, SendNotification(_, _, _, _))
        .WillByDefault(Invoke([this](uint32_t kind, uint32_t id, const char* json, ServerResponse** response) {
          sent_.push_back(std::to_string(kind) + "/" + std::to_string(id) + " " + json);
          *response = &ok_.response;
          return static_cast<uint8_t>(serverReachable_ ? 1 : 0);
        }));
    char16_t root[260] = {};
    env.support.GetClientAgentRootDir(root, 260);
    root_ = *platform::Utf16ToUtf8(root);
    productFolder_ = root_ + "product/";
    std::filesystem::create_directories(productFolder_);
    ON_CALL(env.preinst, AGPreInstGetAvInstallationPath(_, _))
        .WillByDefault(Invoke([this](char16_t* buffer, uint32_t units) {
          return static_cast<uint8_t>(platform::U16Copy(buffer, units, *platform::Utf8ToUtf16(productFolder_)) ? 1 : 0);
        }));
  }

  static SiblingSet ParserSet(::testing::NiceMock<MockMessageParserLibrary>* library) {
    SiblingSet set;
    set.msgparse = library;
    return set;
  }

  int64_t LastSync() {
    int32_t frequency = 0;
    int64_t lastSync = 0;
    env.support.CLGetDataByEvtID(nullptr, 114, &frequency, &lastSync);
    return lastSync;
  }

  MessagingEnv env;
  platform::ManualClock clock_{kNow};
  platform::ScopedClock scopedClock_;
  ::testing::NiceMock<MockMessageParserLibrary> parserLibrary_;
  ::testing::NiceMock<MockMsgParser> parser_;
  ScopedSiblings parserSiblings_;
  TestServerResponse ok_{true};
  bool serverReachable_ = true;
  std::vector<std::string> sent_;  // "kind/id json" of each notification sent
  std::vector<std::string> commands_;
  std::string root_;
  std::string productFolder_;
};

struct ThrottleCase {
  const char* name;
  uint32_t actionId;
  int64_t lastSentMinutesAgo;  // < 0: never sent
  const char* installResult;
  bool expectSent;
};

constexpr ThrottleCase kThrottleCases[] = {
    {"FirstCallEverSends", 114, -1, "0", true},
    {"InsideWindowSkips", 114, 1438, "0", false},
    {"ResultOneForcesSend", 114, 10, "1", true},
    {"WindowOverSends", 114, 1439, "0", true},
    {"Action119GoesOutAs114", 119, -1, "0", true},
};

class ThrottleTest : public InstallStatusTest, public ::testing::WithParamInterface<ThrottleCase> {};

TEST_P(ThrottleTest, SendsWhenDue) {
  const ThrottleCase& c = GetParam();
  if (c.lastSentMinutesAgo >= 0) {
    ASSERT_TRUE(env.support.CLAddEventLastSync(nullptr, 114, 1439, kNow - c.lastSentMinutesAgo * 60));
  }
  std::ofstream(root_ + "agbldn.ini") << "[INSTALL]\nRESULT=" << c.installResult << "\n";

  // Skipped: the result is that of handing the default location to the
  // command processor, which the parser here refuses.
  EXPECT_EQ(SendAVInstallationStatus(&env.rpClient, c.actionId), c.expectSent);

  ASSERT_EQ(env.CountRequests(c.actionId), 1u);  // the request is built for the action itself
  EXPECT_EQ(sent_, std::vector<std::string>(c.expectSent ? 1 : 0, "25/114 {\"productInstalled\":true}\n"));
  EXPECT_EQ(LastSync() == kNow, c.expectSent);
  // The server's default location always reaches the command processor.
  ASSERT_EQ(commands_.size(), 1u);
  EXPECT_THAT(commands_[0], ::testing::HasSubstr("\"url1\" : \"https://cs.example.test:8443/s1/\""));
  EXPECT_THAT(commands_[0], ::testing::HasSubstr("\"id\" : 39"));
}

INSTANTIATE_TEST_SUITE_P(Table, ThrottleTest, ::testing::ValuesIn(kThrottleCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallStatusTest, UnsentReportIsStoredAndItsTimeNotRecorded) {
  serverReachable_ = false;
  EXPECT_TRUE(SendAVInstallationStatus(&env.rpClient, 114));
  EXPECT_EQ(LastSync(), 0);
  const auto stored = env.support.PendingInList(15);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(ParsePendingNotification(stored[0].data.data(), stored[0].data.size())->dataId, 114u);
}

struct StatusFileCase {
  const char* name;
  std::string content;
  bool expected;
};

// Valid JSON only when read past byte 1,023: the string member closes there.
std::string LongerThanTheReadLimit() {
  return R"({"app":1,"pad":")" + std::string(1100, 'x') + R"(","ecd":1})";
}

class StatusFileTest : public InstallStatusTest, public ::testing::WithParamInterface<StatusFileCase> {};

TEST_P(StatusFileTest, InstallationStatusFromFile) {
  std::ofstream(root_ + "INSTSTS.JSON") << GetParam().content;
  EXPECT_EQ(GetInstallationStatus(114), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, StatusFileTest,
                         ::testing::Values(StatusFileCase{"AppAndEcd", R"({"app":1,"dt":5000,"ecd":1})", true},
                                           StatusFileCase{"OnlyApp", R"({"app":1})", false},
                                           StatusFileCase{"NotJson", "app=1 ecd=1", false},
                                           StatusFileCase{"LongerThanReadLimit", LongerThanTheReadLimit(), false},
                                           // The JSON reader throws past 1,000 levels.
                                           StatusFileCase{"NestedPastReaderDepth", std::string(1010, '['), false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Only after a minor upgrade that left reboot.ini; the files stay until the
// report is sent or stored for later.
TEST_F(InstallStatusTest, MinorRebootReportKeepsFilesUntilItIsDone) {
  const std::string rebootIni = productFolder_ + "reboot.ini";
  const std::string statusFile = root_ + "INSTSTS.JSON";
  std::ofstream(rebootIni) << "";
  env.support.SetClientUpgradeType(2);
  EXPECT_TRUE(CheckAndSendAfterMinorRebootNotification(&env.rpClient));
  EXPECT_TRUE(sent_.empty());

  env.support.SetClientUpgradeType(1);
  serverReachable_ = false;
  env.support.Fail(InMemorySupportLibrary::Op::kSetPending);
  EXPECT_FALSE(CheckAndSendAfterMinorRebootNotification(&env.rpClient));
  EXPECT_TRUE(std::filesystem::exists(rebootIni));
  std::ifstream file(statusFile);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), R"({"app":1,"dt":1750000000000,"ecd":1})" "\n");

  serverReachable_ = true;
  env.support.Fail(InMemorySupportLibrary::Op::kSetPending, false);
  EXPECT_TRUE(CheckAndSendAfterMinorRebootNotification(&env.rpClient));
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(sent_[1].rfind("25/114 ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(rebootIni));
  EXPECT_FALSE(std::filesystem::exists(statusFile));
}

}  // namespace
