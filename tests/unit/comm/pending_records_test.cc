// The two pending forms: the byte layouts stores written by earlier runs
// hold, read back. Blocks whose lengths do not add up:
// hostile/damaged_pending_record_test.cc.
#include <gtest/gtest.h>

#include <cstring>

#include "core/casupp/pending_records.h"
#include "tests/unit/mocks/messaging_env.h"

namespace {

CmdAck MakeAck(const char* guid, const char* payload) {
  CmdAck ack;
  std::memset(&ack, 0, sizeof(ack));
  ack.dwCmdId = 107;
  std::strncpy(ack.szCmdGuid, guid, sizeof(ack.szCmdGuid) - 1);
  ack.dwStatus = 2;
  ack.byRetry = 0;
  ack.byLeading = 1;
  ack.pszAckPayload = const_cast<char*>(payload);
  return ack;
}

}  // namespace

TEST(PendingNotificationTest, LayoutAndRoundTrip) {
  const std::vector<uint8_t> block = SerialisePendingNotification({28, 139, R"({"a":1})"});
  ASSERT_EQ(block.size(), 9u + 7u);
  EXPECT_EQ(block[0], 28);
  EXPECT_EQ(block[4], 139);
  const auto parsed = ParsePendingNotification(block.data(), block.size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->json, R"({"a":1})");
}

TEST(PendingCommandAckTest, LayoutAndRoundTrip) {
  const CmdAck ack = MakeAck("guid-1", "done");
  const std::vector<uint8_t> block = SerialisePendingCommandAck(ack);
  ASSERT_EQ(block.size(), 114u + 5u);
  EXPECT_EQ(block[0], 107);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[4])), "guid-1");
  EXPECT_EQ(block[104], 2);
  EXPECT_EQ(block[108], 0);
  EXPECT_EQ(block[109], 1);
  EXPECT_EQ(block[110], 5);
  const auto parsed = ParsePendingCommandAck(block.data(), block.size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->guid, "guid-1");
  EXPECT_EQ(parsed->byteB, 1);
  EXPECT_EQ(parsed->payload.value_or(""), "done");
  // Without a payload the record ends after its length field.
  const std::vector<uint8_t> bare = SerialisePendingCommandAck(MakeAck("g", nullptr));
  ASSERT_EQ(bare.size(), 114u);
  EXPECT_FALSE(ParsePendingCommandAck(bare.data(), bare.size())->payload);
}
