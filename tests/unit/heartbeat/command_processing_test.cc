// Processing one server command: the registration gate, the repeat check by
// GUID, the retry counts and the releases.
#include "core/rpclcore/command_processing.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/siblings/client_store.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"

namespace {

using ::testing::_;
using ::testing::Matcher;

class CommandProcessingTest : public ::testing::Test {
 protected:
  CommandProcessingTest() { env_.support.SetRegStatusValue(3, false); }

  // Runs the command with the environment's response generator.
  bool Process(const std::string& text, const std::string& guid, uint32_t* status, uint32_t* id = nullptr,
               char** payload = nullptr) {
    uint32_t ignored = 0;
    return RpReceiveAndProcessCommand(text.c_str(), &env_.rpClient, id != nullptr ? id : &ignored, status,
                                      &env_.respGen, guid, payload);
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
  EXPECT_EQ(env_.parser.live.load(), 0);
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
                      ProcessCase{"Unregistered117", 0, 0, "117", "g", kCmdUnprocessed, false, ""},
                      ProcessCase{"Unregistered120", 0, 0, "120", "g", kCmdUnprocessed, false, ""},
                      ProcessCase{"Unregistered143", 0, 0, "143", "g", kCmdUnprocessed, false, ""},
                      ProcessCase{"UnregisteredRunsOthers", 0, 0, "5", "g", kCmdProcessed, true, "g"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandProcessingTest, FailedCommand12IsRetriedUntilItsCountWraps) {
  env_.StoreLastGuid(12, "guid-12");
  uint8_t retryByte = 0;
  for (uint8_t expected = 1; expected <= 2; ++expected) {
    ASSERT_TRUE(HandleRetry(12, kCmdAckFailed, &retryByte));
    EXPECT_EQ(retryByte, expected);
    uint32_t status = 99;
    EXPECT_TRUE(Process("12", "guid-12", &status));
    EXPECT_EQ(status, kCmdProcessed) << "a failed earlier run is carried out again";
  }
  // The third failure in a row stores 3 modulo 3.
  ASSERT_TRUE(HandleRetry(12, kCmdAckFailed, &retryByte));
  EXPECT_EQ(retryByte, 3);
  EXPECT_EQ(env_.support.Value<uint8_t>(30), uint8_t{0});
  uint32_t status = 99;
  EXPECT_TRUE(Process("12", "guid-12", &status));
  EXPECT_EQ(status, kCmdUnprocessed);
}

TEST_F(CommandProcessingTest, AcknowledgementPayloadIsAHeapCopyForTheCaller) {
  char* payload = nullptr;
  uint32_t status = 99;
  uint32_t id = 0;
  EXPECT_TRUE(Process("49:ack", "g49", &status, &id, &payload));
  EXPECT_EQ(id, 49u);
  ASSERT_NE(payload, nullptr);
  EXPECT_STREQ(payload, R"({"result":"done"})");
  std::free(payload);
}

TEST_F(CommandProcessingTest, RefusedAndFailedCommands) {
  uint32_t status = 99;
  EXPECT_FALSE(Process("bad json", "g", &status));
  EXPECT_EQ(status, kCmdOpenFailed);

  env_.FailCommand(3);
  EXPECT_FALSE(Process("3", "g3", &status));
  EXPECT_EQ(status, kCmdFailed);
  EXPECT_TRUE(env_.log.Contains("pRespGenLocal->CreateResponse failed"));

  env_.parser.handsOutNoObject = true;
  EXPECT_FALSE(Process("3", "g4", &status));
  EXPECT_EQ(status, kCmdFailed);
  env_.parser.handsOutNoObject = false;

  EXPECT_FALSE(RpReceiveAndProcessCommand("", &env_.rpClient, nullptr, &status, nullptr, "", nullptr));
  EXPECT_FALSE(RpReceiveAndProcessCommand("3", &env_.rpClient, nullptr, nullptr, nullptr, "", nullptr));
  EXPECT_EQ(env_.parser.live.load(), 0);
}

TEST_F(CommandProcessingTest, GeneratorMadeForTheCallIsReleased) {
  EXPECT_CALL(env_.resp, CreateCAResponseGenObjNew(_, _)).Times(1);
  EXPECT_CALL(env_.respGen, Deinit()).Times(1);
  EXPECT_CALL(env_.resp, DeleteCAResponseGenObj(&env_.respGen)).Times(1);
  uint32_t status = 99;
  uint32_t id = 0;
  EXPECT_TRUE(RpReceiveAndProcessCommand("5", &env_.rpClient, &id, &status, nullptr, "g5", nullptr));
  EXPECT_EQ(status, kCmdProcessed);
}

}  // namespace
