#include <agsuite/agmsg.h>
#include <gtest/gtest.h>

#include <string>

namespace {

class CommandParserTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CreateICSPMsgParserObj(&parser_), 1); }
  void TearDown() override {
    if (request_ != nullptr) parser_->FreeRequestMsg(request_);
    DeleteICSPMsgParserObj(parser_);
  }
  // The request is packed: its text pointers are read by value, never bound
  // to a reference (that would be a misaligned access).
  static const char* Context(const CSPRequest* r) { return r->context; }
  static const char* Data(const CSPRequest* r) { return r->data; }
  bool Parse(const std::string& text) {
    if (parser_->OpenMsg(text.c_str()) == 0) return false;
    return parser_->ParseRequestMsg(&request_) == 1;
  }

  ICSPMsgParser* parser_ = nullptr;
  CSPRequest* request_ = nullptr;
};

TEST_F(CommandParserTest, TakesIdTypeContextAndDataOfACommand) {
  ASSERT_TRUE(Parse(R"({"cmd": {"id": 57, "type": 2, "context": 2, "data": {"rpHb": 5, "b": [1, 2]}}})"));
  EXPECT_EQ(request_->commandId, 57u);
  EXPECT_EQ(request_->commandType, 2u);
  EXPECT_EQ(request_->kind, 0u);
  EXPECT_STREQ(Context(request_), "2");
  EXPECT_STREQ(Data(request_), R"({"b":[1,2],"rpHb":5})");
}

TEST_F(CommandParserTest, Type4MakesTheAcknowledgementCarryAPayload) {
  ASSERT_TRUE(Parse(R"({"cmd": {"id": 12, "type": 4}})"));
  EXPECT_EQ(request_->kind, kCSPRequestKindAckPayload);
  EXPECT_EQ(Context(request_), nullptr);
  EXPECT_EQ(Data(request_), nullptr);
}

TEST_F(CommandParserTest, RefusesTextsThatAreNotCommands) {
  const char* bad[] = {
      "",
      "not json",
      R"({"cmd": {"id": 5, "type": 1)",             // truncated
      R"({"cmd": {"id": 5}} trailing)",              // text after the command
      R"([{"cmd": {"id": 5}}])",                     // root not an object
      R"({"command": {"id": 5}})",                   // no "cmd"
      R"({"cmd": [5]})",                             // "cmd" not an object
      R"({"cmd": {"type": 1}})",                     // no id
      R"({"cmd": {"id": "5"}})",                     // id as text
      R"({"cmd": {"id": -5}})",                      // negative id
      R"({"cmd": {"id": 5.5}})",                     // fractional id
      R"({"cmd": {"id": 4294967296}})",              // beyond 32 bits
      R"({"cmd": {"id": 5, "type": "1"}})",          // type as text
      R"({"cmd": {"id": 5, "type": -1}})",
  };
  for (const char* text : bad) {
    EXPECT_EQ(parser_->OpenMsg(text), 0) << text;
    EXPECT_EQ(parser_->ParseRequestMsg(&request_), 0) << text;
    EXPECT_EQ(request_, nullptr);
  }
  EXPECT_EQ(parser_->OpenMsg(nullptr), 0);
}

TEST_F(CommandParserTest, RefusesOversizedAndDeeplyNestedTexts) {
  std::string big = R"({"cmd": {"id": 1, "data": ")" + std::string(1024 * 1024, 'a') + R"("}})";
  EXPECT_FALSE(Parse(big));
  std::string deep = R"({"cmd": {"id": 1, "data": )" + std::string(5000, '[') + std::string(5000, ']') + "}}";
  EXPECT_FALSE(Parse(deep));
}

TEST_F(CommandParserTest, ParseNeedsAnOpenMessage) {
  EXPECT_EQ(parser_->ParseRequestMsg(&request_), 0);
  ASSERT_EQ(parser_->OpenMsg(R"({"cmd": {"id": 3}})"), 1);
  EXPECT_EQ(parser_->CloseMsg(), 1);
  EXPECT_EQ(parser_->ParseRequestMsg(&request_), 0);
  EXPECT_EQ(parser_->ParseRequestMsg(nullptr), 0);
}

TEST_F(CommandParserTest, RequestOutlivesCloseAndReopenReplacesTheMessage) {
  ASSERT_TRUE(Parse(R"({"cmd": {"id": 3, "data": {"dataId": 9}}})"));
  ASSERT_EQ(parser_->CloseMsg(), 1);
  EXPECT_STREQ(Data(request_), R"({"dataId":9})");
  CSPRequest* second = nullptr;
  ASSERT_EQ(parser_->OpenMsg(R"({"cmd": {"id": 104, "type": 1}})"), 1);
  ASSERT_EQ(parser_->ParseRequestMsg(&second), 1);
  EXPECT_EQ(second->commandId, 104u);
  EXPECT_EQ(parser_->FreeRequestMsg(second), 1);
}

}  // namespace
