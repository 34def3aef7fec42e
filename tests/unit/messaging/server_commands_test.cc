#include <agsuite/agmisc.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "messaging_env.h"

namespace {

using messaging_test::MessagingEnv;
using messaging_test::ParseOrNull;
using messaging_test::RecordedEvents;
using messaging_test::SetCallbackResult;
using Events = std::vector<std::pair<int32_t, int64_t>>;

class ServerCommandTest : public MessagingEnv {
 protected:
  static std::string Cmd(uint32_t id, const std::string& data = "null", uint32_t type = 1) {
    return R"({"cmd":{"id":)" + std::to_string(id) + R"(,"type":)" + std::to_string(type) +
           R"(,"context":2,"data":)" + data + "}}";
  }
  // The response records are packed: their pointers are read by value only.
  ResponseDetails* Record() const { return last_response_.record; }
  static const char* Text(const ResponseDetails* r) { return r->pszText; }
  std::string AckPayload() const {
    EXPECT_EQ(last_response_.kind, kCAResponseKindAckPayload);
    return Record() != nullptr && Text(Record()) != nullptr ? Text(Record()) : "";
  }
  uint32_t RegStatus() {
    uint32_t status = 99;
    EXPECT_EQ(GetClientRegStatus(&status, 0), 1);
    return status;
  }
};

// A command, whether it succeeds, and the core events it raises.
struct CommandCase {
  uint32_t id;
  const char* data;
  bool succeeds;
  Events events;
};

TEST_F(ServerCommandTest, CommandsSucceedOrFailAndRaiseTheirCoreEvents) {
  const CommandCase cases[] = {
      {24, "null", true, {{24, 0}}}, {28, "null", true, {{28, 0}}}, {29, "null", true, {{29, 0}}},
      {30, "null", true, {{30, 0}}}, {31, "null", true, {{31, 0}}}, {32, "null", true, {{32, 0}}},
      {26, "null", true, {{26, 0}}}, {27, R"({"interval":45})", true, {{27, 0}}},
      {27, "null", false, {}}, {27, R"({"interval":0})", false, {}}, {27, R"({"interval":"45"})", false, {}},
      {27, R"({"interval":-3})", false, {}}, {27, R"({"interval":99999})", false, {}},
      {33, R"({"code":14})", true, {{33, 14}}}, {33, "null", false, {}},
      {109, "null", true, {}}, {57, R"({"rpHb":5,"rpFcfg":1440})", false, {}}, {20, R"({"url":"x"})", false, {}},
      // Commands the core carries out itself.
      {2, "null", true, {}}, {6, "null", true, {}}, {49, "null", true, {}}, {107, "null", true, {}},
      {111, "null", true, {}}, {116, "null", true, {}}, {117, "null", true, {}}, {120, "null", true, {}},
      {143, "null", true, {}}};
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " " + c.data);
    RecordedEvents().clear();
    EXPECT_EQ(Command(Cmd(c.id, c.data)), c.succeeds);
    EXPECT_EQ(RecordedEvents(), c.events);
    EXPECT_TRUE(c.events.empty() || Record() == nullptr) << "nothing for the core to push";
  }
  SetCallbackResult(false);
  EXPECT_FALSE(Command(Cmd(24))) << "a refused event fails the command";
}

TEST_F(ServerCommandTest, UnregisterAndRegistrationStatusCommandsSetTheStatus) {
  ASSERT_TRUE(Command(Cmd(109, R"({"status":3})")));
  EXPECT_EQ(RegStatus(), 3u);
  ASSERT_TRUE(Command(Cmd(26)));
  EXPECT_EQ(RegStatus(), 0u);
}

TEST_F(ServerCommandTest, HeartbeatIntervalIsStoredOnlyWhenValid) {
  // An interval of 0 stored would make the heartbeat thread spin.
  EXPECT_FALSE(Command(Cmd(27, R"({"interval":0})")));
  EXPECT_FALSE(ReadStore(28, 4).has_value());
  ASSERT_TRUE(Command(Cmd(27, R"({"interval":45})")));
  EXPECT_EQ(ReadStore(28, 4), (std::vector<uint8_t>{45, 0, 0, 0}));
}

TEST_F(ServerCommandTest, RelayConfigurationIsStoredAsThreeIntervals) {
  ASSERT_TRUE(Command(Cmd(57, R"({"rpHb":5,"rpFcfg":1440,"rpReg":15})")));
  EXPECT_EQ(ReadStore(57, 12), (std::vector<uint8_t>{5, 0, 0, 0, 0xA0, 5, 0, 0, 15, 0, 0, 0}));
}

TEST_F(ServerCommandTest, PolicyCommandWritesThePolicyAndAcknowledgesWithAPayload) {
  InstallProduct();
  ASSERT_TRUE(Command(Cmd(12, R"({"version":"v2","features":{"3":"a"}})", 4)));
  const Json::Value ack = ParseOrNull(AckPayload());
  EXPECT_TRUE(ack["applied"].asBool());
  EXPECT_EQ(ParseOrNull(ReadProductFile("policy.json"))["features"]["3"].asString(), "a");
}

TEST_F(ServerCommandTest, GetDataHandsOutTheItemEvenWhenUnchanged) {
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(Command(Cmd(3, R"({"dataId":9})", 4)));
    EXPECT_FALSE(ParseOrNull(AckPayload())["installed"].asBool());
  }
  EXPECT_FALSE(Command(Cmd(3, R"({"dataId":4242})", 4)));
  EXPECT_FALSE(Command(Cmd(3, R"({"category":2})", 4)));  // no item named
}

TEST_F(ServerCommandTest, PullLogKeepsTheSubUrlAndLeavesTheWorkToTheCore) {
  EXPECT_FALSE(Command(Cmd(141, R"({"subUrl":"logs/upload"})")));
  const auto stored = ReadStore(75, 260);
  ASSERT_TRUE(stored.has_value());
  EXPECT_STREQ(reinterpret_cast<const char*>(stored->data()), "logs/upload");
}

TEST_F(ServerCommandTest, BuildLocationsGoIntoTheirRecords) {
  ASSERT_TRUE(Command(Cmd(20, R"({"uabld":"https://ua/build"})")));
  auto ua = ReadStore(69, 8192);
  ASSERT_TRUE(ua.has_value());
  EXPECT_STREQ(reinterpret_cast<const char*>(ua->data() + 0x1C00), "https://ua/build");

  ASSERT_TRUE(Command(Cmd(39, R"({"url1":"https://cs:443/s1/","url2":"https://cdn/"})")));
  auto av = ReadStore(40, 8192);
  ASSERT_TRUE(av.has_value());
  EXPECT_STREQ(reinterpret_cast<const char*>(av->data() + 0x0800), "https://cs:443/s1/");
  EXPECT_STREQ(reinterpret_cast<const char*>(av->data() + 0x0400), "https://cdn/");
}

TEST_F(ServerCommandTest, Command1MakesTheNextProductStatusGoOut) {
  ASSERT_FALSE(RespondOne(9, 2, 1).empty());
  ASSERT_EQ(RespondOne(9, 2, 1), "");
  ASSERT_TRUE(Command(Cmd(1)));
  EXPECT_FALSE(RespondOne(9, 2, 1).empty());
}

}  // namespace
