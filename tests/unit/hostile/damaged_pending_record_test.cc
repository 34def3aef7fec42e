// Damaged pending records as the store hands them back (lists 14 and 15):
// each is dropped from the store with a line and never reaches the server,
// and a good record beside it still goes out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/casupp/pending_records.h"
#include "core/rpclcore/heartbeat_followup.h"
#include "tests/unit/tasks/pool_test_env.h"

namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::StrEq;

// A list-14 record; its payload-length field says `length` when given.
std::vector<uint8_t> AckRecord(const char* payload, std::optional<uint32_t> length = std::nullopt) {
  CmdAck ack{};
  ack.dwCmdId = 12;
  std::strcpy(ack.szCmdGuid, "g-12");
  ack.dwStatus = 1;
  std::string text = payload != nullptr ? payload : "";
  ack.pszAckPayload = payload != nullptr ? text.data() : nullptr;
  std::vector<uint8_t> record = SerialisePendingCommandAck(ack);
  for (int i = 0; length && i < 4; ++i) record[110 + i] = static_cast<uint8_t>(*length >> (8 * i));
  return record;
}

// A list-14 record whose payload fills its stated length without a NUL.
std::vector<uint8_t> AckPayloadWithoutTerminator() {
  std::vector<uint8_t> record = AckRecord("{\"r\":0}", 7);
  record.pop_back();
  return record;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

struct DamagedRecord {
  const char* name;
  uint32_t list;
  std::vector<uint8_t> bytes;
  std::string line;
};

const DamagedRecord kDamagedRecords[] = {
    {"AckLengthFarPastTheRecord", 14, AckRecord(nullptr, 0x7FFFFFF0),
     "Damaged pending command acknowledgement of 114 bytes dropped from the store"},
    {"AckLengthShortOfTheRecord", 14, AckRecord("{\"r\":0}", 0),
     "Damaged pending command acknowledgement of 122 bytes dropped from the store"},
    {"AckShorterThanItsHeader", 14, std::vector<uint8_t>(20, 0x41),
     "Damaged pending command acknowledgement of 20 bytes dropped from the store"},
    {"EmptyAck", 14, {}, "Damaged pending command acknowledgement of 0 bytes dropped from the store"},
    {"AckPayloadWithoutTerminator", 14, AckPayloadWithoutTerminator(),
     "Damaged pending command acknowledgement of 121 bytes dropped from the store"},
    {"NotificationWithoutText", 15, Bytes(std::string("\x1c\0\0\0\x89\0\0\0", 8)),
     "Damaged pending client notification of 8 bytes dropped from the store"},
    {"NotificationWithoutTerminator", 15, Bytes(std::string("\x1c\0\0\0\x89\0\0\0{}", 10)),
     "Damaged pending client notification of 10 bytes dropped from the store"},
    {"NotificationWithANulInsideItsText", 15, Bytes(std::string("\x1c\0\0\0\x89\0\0\0{\0}\0", 12)),
     "Damaged pending client notification of 12 bytes dropped from the store"},
};

class DamagedPendingRecordTest : public PoolTest, public ::testing::WithParamInterface<DamagedRecord> {};

TEST_P(DamagedPendingRecordTest, IsDroppedFromTheStoreWhileTheGoodRecordGoesOut) {
  const DamagedRecord& damaged = GetParam();
  env.support.AddPending(damaged.list, damaged.bytes);
  env.support.AddPending(15, SerialisePendingNotification({28, 137, "{\"a\":1}"}));
  EXPECT_CALL(env.rpClient, SendCommandAck(_, _)).Times(0);
  EXPECT_CALL(env.rpClient, SendNotification(28, 137, StrEq("{\"a\":1}"), _)).WillOnce(Return(1));
  ASSERT_TRUE(StartRpTaskPerformerThreadPool());
  RequeuePendingTasks();
  WaitUntilIdle();
  EXPECT_TRUE(env.support.Pending().empty());
  EXPECT_TRUE(env.log.Contains(damaged.line)) << env.log.Dump();
}

INSTANTIATE_TEST_SUITE_P(StoredRecords, DamagedPendingRecordTest, ::testing::ValuesIn(kDamagedRecords),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
