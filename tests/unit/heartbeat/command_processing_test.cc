// Processing one server command: the registration gate, the repeat check by
// GUID, the retry counts and the refusals.
#include "core/rpclcore/command_processing.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/siblings/client_store.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

class CommandProcessingTest : public ::testing::Test {
 protected:
  CommandProcessingTest() { env_.support.SetRegStatusValue(3, false); }

  bool Process(const std::string& text, const std::string& guid, uint32_t* status) {
    uint32_t id = 0;
    return RpReceiveAndProcessCommand(text.c_str(), &env_.rpClient, &id, status, &env_.respGen, guid, nullptr);
  }

  HeartbeatEnv env_;
};

// One command against a stored GUID (of command `storedId`, 0: none) and a
// registration status: its status, whether it ran, and the GUID kept for it.
struct ProcessCase {
  const char* name;
  uint32_t regStatus;
  uint32_t storedId;
  const char* text;
  const char* guid;
  uint32_t status;
  bool runs;
  const char* guidAfter;
};

class CommandGateTest : public CommandProcessingTest, public ::testing::WithParamInterface<ProcessCase> {};

TEST_P(CommandGateTest, RepeatsAndCommandsForRegisteredClientsAreNotCarriedOut) {
  const ProcessCase& c = GetParam();
  env_.support.SetRegStatusValue(c.regStatus, false);
  if (c.storedId != 0) env_.StoreLastGuid(c.storedId, "guid-a");
  const uint32_t id = static_cast<uint32_t>(std::atoi(c.text));
  uint32_t status = 99;
  EXPECT_TRUE(Process(c.text, c.guid, &status));
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(env_.Processed(), c.runs ? std::vector<uint32_t>{id} : std::vector<uint32_t>{});
  EXPECT_EQ(env_.LastGuid(id), c.guidAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandGateTest,
    ::testing::Values(ProcessCase{"RepeatedGuidIsDropped", 3, 7, "7", "guid-a", kCmdUnprocessed, false, "guid-a"},
                      ProcessCase{"SameGuidUnderAnotherId", 3, 7, "8", "guid-a", kCmdProcessed, true, "guid-a"},
                      ProcessCase{"Command116IsNeverARepeat", 3, 116, "116", "guid-a", kCmdProcessed, true, "guid-a"},
                      // No stored agent version: the repeat goes on to the download.
                      ProcessCase{"RepeatedUpgrade", 3, 120, "120", "guid-a", kCmdProcessed, true, "guid-a"},
                      ProcessCase{"EmptyGuidStoresNothing", 3, 0, "9", "", kCmdProcessed, true, ""},
                      ProcessCase{"Unregistered116", 0, 0, "116", "g", kCmdUnprocessed, false, ""},
                      ProcessCase{"Unregistered143", 0, 0, "143", "g", kCmdUnprocessed, false, ""},
                      ProcessCase{"UnregisteredRunsOthers", 0, 0, "5", "g", kCmdProcessed, true, "g"}),
    [](const auto& info) { return std::string(info.param.name); });

// A failed command 12 runs again on its repeat until the third failure in a
// row wraps its stored count to 0.
TEST_F(CommandProcessingTest, FailedCommand12IsRetriedUntilItsCountWraps) {
  env_.StoreLastGuid(12, "guid-12");
  uint8_t retryByte = 0;
  uint32_t status = 99;
  ASSERT_TRUE(HandleRetry(12, kCmdAckFailed, &retryByte));
  EXPECT_TRUE(Process("12", "guid-12", &status));
  EXPECT_EQ(status, kCmdProcessed);
  ASSERT_TRUE(HandleRetry(12, kCmdAckFailed, &retryByte));
  ASSERT_TRUE(HandleRetry(12, kCmdAckFailed, &retryByte));
  EXPECT_EQ(retryByte, 3);
  EXPECT_TRUE(Process("12", "guid-12", &status));
  EXPECT_EQ(status, kCmdUnprocessed);
}

TEST_F(CommandProcessingTest, RefusedAndFailedCommands) {
  uint32_t status = 99;
  EXPECT_FALSE(Process("bad json", "g", &status));
  EXPECT_EQ(status, kCmdOpenFailed);
  env_.FailCommand(3);
  EXPECT_FALSE(Process("3", "g3", &status));
  EXPECT_EQ(status, kCmdFailed);
  // A parser library that says yes without handing out an object.
  env_.parser.handsOutNoObject = true;
  status = 99;
  EXPECT_FALSE(Process("4", "g4", &status));
  EXPECT_EQ(status, kCmdFailed);
}

}  // namespace
