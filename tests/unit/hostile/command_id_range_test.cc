// A server command id whose last-GUID entry (1000 + id) lies past the last
// store id is refused: in 32 bits it would wrap onto the fixed entries.
#include <gtest/gtest.h>

#include <string>

#include "core/rpclcore/command_processing.h"
#include "core/siblings/client_store.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

class CommandIdRangeTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  CommandIdRangeTest() { env_.support.SetRegStatusValue(3, false); }

  bool Process(uint32_t id, uint32_t* status, uint32_t* seenId) {
    return RpReceiveAndProcessCommand(std::to_string(id).c_str(), &env_.rpClient, seenId, status, &env_.respGen,
                                      "G-HOSTILE", nullptr);
  }

  HeartbeatEnv env_;
};

TEST_P(CommandIdRangeTest, IdPastTheGuidRangeIsRefusedAndNoFixedEntryChanges) {
  const uint32_t id = GetParam();
  const uint32_t wrappedEntry = DB_ID_LAST_COMMAND_GUID_BASE + id;  // what 32-bit arithmetic would address
  env_.support.PutValue<uint32_t>(wrappedEntry, 60);
  uint32_t status = 0;
  uint32_t seenId = 0;
  EXPECT_FALSE(Process(id, &status, &seenId));
  EXPECT_EQ(seenId, id);
  EXPECT_EQ(status, kCmdFailed);
  EXPECT_EQ(env_.support.Value<uint32_t>(wrappedEntry), 60u);
  EXPECT_TRUE(env_.Processed().empty());
  EXPECT_TRUE(env_.log.Contains("Command id " + std::to_string(id) + " is out of range, command refused"));
}

// Ids that would wrap onto the heartbeat interval (28), the registration
// status (25), entry 0, and the largest id there is.
INSTANTIATE_TEST_SUITE_P(WrappingIds, CommandIdRangeTest,
                         ::testing::Values(4294966324u, 4294966321u, 4294966296u, 4294967295u));

TEST_F(CommandIdRangeTest, LargestIdInsideTheRangeKeepsItsGuidInTheLastEntry) {
  uint32_t status = 0;
  uint32_t seenId = 0;
  EXPECT_TRUE(Process(4294966295u, &status, &seenId));
  EXPECT_EQ(status, kCmdProcessed);
  EXPECT_EQ(env_.LastGuid(4294966295u), "G-HOSTILE");
}

}  // namespace
