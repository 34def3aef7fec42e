#include <agsuite/agmsg.h>
#include <gtest/gtest.h>

#include <string>

#include "messaging_env.h"

namespace {

using messaging_test::ParseOrNull;

class MessageGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CreateICSPMsgGenObj(&gen_), 1); }
  void TearDown() override { DeleteICSPMsgGenObj(gen_); }

  // Builds the message for entries (id, payload text or null).
  std::string Message(std::initializer_list<std::pair<uint32_t, const char*>> entries) {
    std::vector<ResponseDetails> list;
    for (const auto& [id, text] : entries) list.push_back(ResponseDetails{id, 1, 1, 1, 0, const_cast<char*>(text), nullptr});
    for (size_t i = 0; i + 1 < list.size(); ++i) list[i].next = &list[i + 1];
    CAResponse response{kCAResponseKindList, list.empty() ? nullptr : &list.front()};
    char* text = nullptr;
    EXPECT_EQ(gen_->CreateResponseMsg(&response, &text), 1);
    std::string copy = text != nullptr ? text : "<null>";
    EXPECT_EQ(gen_->FreeResponseMsg(text), 1);
    return copy;
  }

  ICSPMsgGen* gen_ = nullptr;
};

TEST_F(MessageGeneratorTest, OneElementPerEntryWithDataIdAndPayload) {
  const Json::Value message = ParseOrNull(Message({{106, R"({"first":0})"}, {103, R"({"count":2})"}}));
  ASSERT_TRUE(message.isArray());
  ASSERT_EQ(message.size(), 2u);
  EXPECT_EQ(message[0]["dataId"].asUInt(), 106u);
  EXPECT_EQ(message[0]["payload"]["first"].asInt(), 0);
  EXPECT_EQ(message[1]["dataId"].asUInt(), 103u);
  EXPECT_EQ(message[1]["payload"]["count"].asInt(), 2);
}

TEST_F(MessageGeneratorTest, SingleRequestReplyIsOneElement) {
  EXPECT_EQ(Message({{118, R"({"guid":"g","time":5})"}}), R"([{"dataId":118,"payload":{"guid":"g","time":5}}])");
}

TEST_F(MessageGeneratorTest, EntriesWithoutPayloadAreLeftOut) {
  const Json::Value message = ParseOrNull(Message({{101, nullptr}, {102, ""}, {9, R"({"installed":false})"}}));
  ASSERT_EQ(message.size(), 1u);
  EXPECT_EQ(message[0]["dataId"].asUInt(), 9u);
}

TEST_F(MessageGeneratorTest, NothingLeftGivesTheEmptyMessage) {
  EXPECT_EQ(Message({{101, nullptr}, {102, ""}}), "");
  EXPECT_EQ(Message({}), "");
}

TEST_F(MessageGeneratorTest, InvalidPayloadJsonIsLeftOut) {
  const Json::Value message = ParseOrNull(Message({{9, "{broken"}, {19, R"({"installed":false})"}}));
  ASSERT_EQ(message.size(), 1u);
  EXPECT_EQ(message[0]["dataId"].asUInt(), 19u);
}

TEST_F(MessageGeneratorTest, RefusesNullArgumentsAndForeignTexts) {
  char* text = nullptr;
  EXPECT_EQ(gen_->CreateResponseMsg(nullptr, &text), 0);
  CAResponse response{};
  EXPECT_EQ(gen_->CreateResponseMsg(&response, nullptr), 0);
  char foreign[] = "x";
  EXPECT_EQ(gen_->FreeResponseMsg(foreign), 0);
}

TEST_F(MessageGeneratorTest, TextsNotGivenBackAreReleasedWithTheGenerator) {
  ResponseDetails entry{118, 1, 1, 1, 0, const_cast<char*>("{}"), nullptr};
  CAResponse response{kCAResponseKindList, &entry};
  char* text = nullptr;
  ASSERT_EQ(gen_->CreateResponseMsg(&response, &text), 1);
  EXPECT_STREQ(text, R"([{"dataId":118,"payload":{}}])");
  // TearDown deletes the generator; the sanitizer run proves nothing leaks.
}

}  // namespace
