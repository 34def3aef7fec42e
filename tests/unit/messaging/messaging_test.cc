// The messaging libraries the core talks to: the status items the response
// generator hands out only when changed, the product's policy read for the
// server, and the server commands with the core events they raise. A private
// agent root (client data store) and machine root (protection-product folder)
// per test.
#include <agsuite/agmisc.h>
#include <agsuite/agmsg.h>
#include <agsuite/agpreinst.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <tuple>
#include <utility>

#include "platform/folders.h"
#include "platform/utf.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace {

using Events = std::vector<std::pair<int32_t, int64_t>>;

std::mutex g_eventsLock;
Events g_events;  // guarded by g_eventsLock
std::atomic<bool> g_callbackResult{true};

uint8_t RecordingCallback(int32_t eventId, int64_t param) {
  std::lock_guard lock(g_eventsLock);
  g_events.emplace_back(eventId, param);
  return g_callbackResult ? 1 : 0;
}

Events TakeEvents() {
  std::lock_guard lock(g_eventsLock);
  return std::exchange(g_events, {});
}

Json::Value ParseOrNull(const std::string& text) {
  Json::Value value;
  std::string errors;
  std::istringstream in(text);
  return Json::parseFromStream(Json::CharReaderBuilder(), in, &value, &errors) ? value : Json::Value();
}

class MessagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test_support::MakeScratchFolder("agmsgtest-");
    ASSERT_EQ(AGMiscSetAgentRoot((root_ + "/agent").c_str()), 1);
    platform::SetMachineRoot(root_ + "/machine/");
    char16_t folder[260] = {};
    ASSERT_EQ(AGPreInstGetAvInstallationPath(folder, 260), 1);
    product_ = platform::Utf16ToUtf8(std::u16string_view(folder, platform::U16Length(folder, 260))).value();
    ASSERT_EQ(SetClientGUID("guid-under-test"), 1);
    TakeEvents();
    g_callbackResult = true;
    ASSERT_EQ(CreateCAResponseGenObjNew(&gen_, &RecordingCallback), 1);
    ASSERT_EQ(gen_->Init(), 1);
    ASSERT_EQ(CreateICSPMsgParserObj(&parser_), 1);
  }
  void TearDown() override {
    if (gen_ != nullptr) {
      gen_->FreeResponse(&response_);
      gen_->Deinit();
      DeleteCAResponseGenObj(gen_);
    }
    if (parser_ != nullptr) {
      if (request_ != nullptr) parser_->FreeRequestMsg(request_);
      DeleteICSPMsgParserObj(parser_);
    }
    HandleClientAgentCoreCleanup();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  void WriteProductFile(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(product_);
    std::ofstream(product_ + name, std::ios::binary) << text;
  }

  // The text the generator gives for one status item ("<failed>" when it fails).
  std::string RespondOne(uint32_t id, uint32_t category, uint32_t action) {
    RequestDetails entry{id, category, action, nullptr, nullptr};
    RequestList request{&entry, &entry};
    gen_->FreeResponse(&response_);
    response_ = {};
    if (gen_->CreateResponse(&request, &response_) == 0 || response_.record == nullptr) return "<failed>";
    const char* text = response_.record->pszText;
    return text != nullptr ? text : "";
  }

  // Parses `command` and carries it out; the response stays for inspection
  // until the next call.
  bool Command(uint32_t id, const std::string& data = "null", uint32_t type = 1) {
    gen_->FreeResponse(&response_);
    response_ = {};
    if (request_ != nullptr) parser_->FreeRequestMsg(request_);
    request_ = nullptr;
    const std::string command = R"({"cmd":{"id":)" + std::to_string(id) + R"(,"type":)" + std::to_string(type) +
                                R"(,"context":2,"data":)" + data + "}}";
    if (parser_->OpenMsg(command.c_str()) == 0 || parser_->ParseRequestMsg(&request_) == 0) {
      ADD_FAILURE() << "command not parsed: " << command;
      return false;
    }
    parser_->CloseMsg();
    return gen_->CreateResponse(request_, &response_) != 0;
  }
  // The response records are packed: their pointers are read by value only.
  std::string AckPayload() const {
    EXPECT_EQ(response_.kind, kCAResponseKindAckPayload);
    ResponseDetails* record = response_.record;
    const char* text = record != nullptr ? record->pszText : nullptr;
    return text != nullptr ? text : "";
  }

  std::optional<std::vector<uint8_t>> ReadStore(uint32_t id, uint32_t size) {
    CLDBHANDLE db = nullptr;
    if (CLOpenDatabase(&db) == 0) return std::nullopt;
    std::vector<uint8_t> bytes(size);
    const bool ok = CLGetDataByType(db, id, CL_DATA_TYPE_BLOB, size, bytes.data()) != 0;
    CLCloseDatabase(db);
    return ok ? std::optional(bytes) : std::nullopt;
  }
  void WriteStore(uint32_t id, const std::vector<uint8_t>& bytes) {
    CLDBHANDLE db = nullptr;
    ASSERT_EQ(CLOpenDatabase(&db), 1);
    EXPECT_EQ(CLSetDataByType(db, id, CL_DATA_TYPE_BLOB, static_cast<uint32_t>(bytes.size()), bytes.data()), 1);
    CLCloseDatabase(db);
  }

  std::string root_;
  std::string product_;
  ICAResponseGen* gen_ = nullptr;
  CAResponse response_{};
  CSPRequest* request_ = nullptr;
  ICSPMsgParser* parser_ = nullptr;
};

class ResponseGeneratorTest : public MessagingTest {};
class ServerCommandTest : public MessagingTest {};

// An item unchanged since it was last handed out is not sent again (and
// rotates nothing) until the core resets its slot after a failed send; the
// server's command 1 makes it go out once more.
TEST_F(ResponseGeneratorTest, UnchangedStatusItemIsNotSentAgainUntilItsSlotIsResetOrCommand1) {
  // Item id, category and its digest slot in the store.
  for (const auto& [id, category, slot] : {std::tuple{9u, 2u, 21u}, std::tuple{101u, 1u, 17u}}) {
    SCOPED_TRACE(id);
    const std::string first = RespondOne(id, category, 1);
    ASSERT_FALSE(first.empty());
    const auto stored = ReadStore(slot, 16);
    ASSERT_TRUE(stored.has_value());
    EXPECT_NE(*stored, std::vector<uint8_t>(16, 0));
    EXPECT_EQ(RespondOne(id, category, 1), "");
    EXPECT_EQ(ReadStore(slot, 16), stored);
    // What the core's ResetNewOldMd5ById does after a failed send.
    WriteStore(slot, *ReadStore(slot + 1, 16));
    EXPECT_EQ(RespondOne(id, category, 1), first);
    EXPECT_EQ(ReadStore(slot, 16), stored);
  }
  ASSERT_EQ(RespondOne(9, 2, 1), "");
  ASSERT_TRUE(Command(1));
  EXPECT_FALSE(RespondOne(9, 2, 1).empty());
}

TEST_F(ResponseGeneratorTest, PolicyStateAndDetailsComeFromPolicyJson) {
  WriteProductFile("policy.json", R"({"version":"v7","features":{"3":"","7":"abc"}})");
  EXPECT_EQ(RespondOne(14, 2, 1), R"({"3":"","7":"abc"})");
  const Json::Value details = ParseOrNull(RespondOne(13, 2, 1));
  EXPECT_EQ(details["version"].asString(), "v7");
  EXPECT_EQ(details["features"].size(), 2u);
}

TEST_F(ResponseGeneratorTest, P2PValuesAreSentOnceUnlessMarkedUndelivered) {
  EXPECT_TRUE(ParseOrNull(RespondOne(131, 1, 1))["srvurls"].isMember("srvhosturl"));
  EXPECT_EQ(RespondOne(131, 1, 1), "");
  WriteStore(61, {1, 0});
  EXPECT_FALSE(RespondOne(131, 1, 1).empty());
  EXPECT_EQ(ReadStore(61, 2), (std::vector<uint8_t>{0, 0}));
}

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
      {27, "null", false, {}}, {27, R"({"interval":"45"})", false, {}}, {27, R"({"interval":99999})", false, {}},
      {33, R"({"code":14})", true, {{33, 14}}}, {33, "null", false, {}},
      {109, "null", true, {}}, {57, R"({"rpHb":5,"rpFcfg":1440})", false, {}}, {20, R"({"url":"x"})", false, {}},
      // Commands the core carries out itself.
      {2, "null", true, {}}, {107, "null", true, {}}, {116, "null", true, {}}, {120, "null", true, {}}};
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " " + c.data);
    EXPECT_EQ(Command(c.id, c.data), c.succeeds);
    EXPECT_EQ(TakeEvents(), c.events);
    EXPECT_TRUE(c.events.empty() || response_.record == nullptr) << "nothing for the core to push";
  }
  g_callbackResult = false;
  EXPECT_FALSE(Command(24)) << "a refused event fails the command";
}

TEST_F(ServerCommandTest, HeartbeatIntervalIsStoredOnlyWhenValid) {
  // An interval of 0 stored would make the heartbeat thread spin.
  EXPECT_FALSE(Command(27, R"({"interval":0})"));
  EXPECT_FALSE(ReadStore(28, 4).has_value());
  ASSERT_TRUE(Command(27, R"({"interval":45})"));
  EXPECT_EQ(ReadStore(28, 4), (std::vector<uint8_t>{45, 0, 0, 0}));
}

// The stored values of commands 109, 26, 57 and 20.
TEST_F(ServerCommandTest, CommandsStoreTheirValues) {
  uint32_t status = 99;
  ASSERT_TRUE(Command(109, R"({"status":3})"));
  EXPECT_TRUE(GetClientRegStatus(&status, 0) == 1 && status == 3u);
  ASSERT_TRUE(Command(26));
  EXPECT_TRUE(GetClientRegStatus(&status, 0) == 1 && status == 0u);

  ASSERT_TRUE(Command(57, R"({"rpHb":5,"rpFcfg":1440,"rpReg":15})"));
  EXPECT_EQ(ReadStore(57, 12), (std::vector<uint8_t>{5, 0, 0, 0, 0xA0, 5, 0, 0, 15, 0, 0, 0}));

  ASSERT_TRUE(Command(20, R"({"uabld":"https://ua/build"})"));
  const auto ua = ReadStore(69, 8192);
  ASSERT_TRUE(ua.has_value());
  EXPECT_STREQ(reinterpret_cast<const char*>(ua->data() + 0x1C00), "https://ua/build");
}

TEST_F(ServerCommandTest, GetDataHandsOutTheItemEvenWhenUnchanged) {
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(Command(3, R"({"dataId":9})", 4));
    EXPECT_FALSE(ParseOrNull(AckPayload())["installed"].asBool());
  }
  EXPECT_FALSE(Command(3, R"({"dataId":4242})", 4));
  EXPECT_FALSE(Command(3, R"({"category":2})", 4));  // no item named
}

}  // namespace
