#include <agsuite/agmsg.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

class MessageGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CreateICSPMsgGenObj(&gen_), 1); }
  void TearDown() override { DeleteICSPMsgGenObj(gen_); }

  // Builds the message for entries (id, payload text or null).
  std::string Message(const std::vector<std::pair<uint32_t, const char*>>& entries) {
    std::vector<ResponseDetails> list;
    for (const auto& [id, text] : entries) {
      list.push_back(ResponseDetails{id, 1, 1, 1, 0, const_cast<char*>(text), nullptr});
    }
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

// One element per entry with its data id and payload; entries without a
// payload or with one that is not JSON are left out, and nothing left gives
// the empty message.
TEST_F(MessageGeneratorTest, OneElementPerEntryWithAPayload) {
  const struct {
    std::vector<std::pair<uint32_t, const char*>> entries;
    const char* message;
  } cases[] = {
      {{{106, R"({"first":0})"}, {103, R"({"count":2})"}},
       R"([{"dataId":106,"payload":{"first":0}},{"dataId":103,"payload":{"count":2}}])"},
      {{{118, R"({"guid":"g","time":5})"}}, R"([{"dataId":118,"payload":{"guid":"g","time":5}}])"},
      {{{101, nullptr}, {102, ""}, {9, R"({"installed":false})"}}, R"([{"dataId":9,"payload":{"installed":false}}])"},
      {{{9, "{broken"}, {19, R"({"installed":false})"}}, R"([{"dataId":19,"payload":{"installed":false}}])"},
      {{{101, nullptr}, {102, ""}}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Message(c.entries), c.message);
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
