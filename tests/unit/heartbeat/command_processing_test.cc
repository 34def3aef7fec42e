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

TEST_F(CommandProcessingTest, RepeatedGuidIsDroppedWithStatus4AndTheGuidStays) {
  env_.StoreLastGuid(7, "guid-a");
  uint32_t status = 99;
  EXPECT_TRUE(Process("7", "guid-a", &status));
  EXPECT_EQ(status, kCmdUnprocessed);
  EXPECT_TRUE(env_.Processed().empty());
  EXPECT_EQ(env_.LastGuid(7), "guid-a");
  EXPECT_TRUE(env_.log.Contains("Duplicate command identified for command id 7."));
  EXPECT_EQ(env_.parser.live.load(), 0);
}

TEST_F(CommandProcessingTest, SameGuidUnderAnotherIdIsProcessedAndStoredPerId) {
  env_.StoreLastGuid(7, "guid-a");
  uint32_t status = 99;
  EXPECT_TRUE(Process("8", "guid-a", &status));
  EXPECT_EQ(status, kCmdProcessed);
  EXPECT_EQ(env_.Processed(), std::vector<uint32_t>{8});
  EXPECT_EQ(env_.LastGuid(8), "guid-a");
}

TEST_F(CommandProcessingTest, Command116IsNeverARepeat) {
  env_.StoreLastGuid(116, "guid-sp");
  uint32_t status = 99;
  EXPECT_TRUE(Process("116", "guid-sp", &status));
  EXPECT_EQ(status, kCmdProcessed);
}

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

TEST_F(CommandProcessingTest, RepeatedUpgradeIsProcessedUnlessMinorUpgradeAndSameVersion) {
  env_.StoreLastGuid(120, "guid-up");
  uint32_t status = 99;
  // No stored agent version: the repeat goes on to the download.
  EXPECT_TRUE(Process("120", "guid-up", &status));
  EXPECT_EQ(status, kCmdProcessed);
  EXPECT_TRUE(env_.log.Contains("Failed to find the CA version."));
  EXPECT_TRUE(env_.log.Contains("Go for downloading Upgrade."));
}

TEST_F(CommandProcessingTest, CommandsForRegisteredClientsWaitForRegistration) {
  env_.support.SetRegStatusValue(0, false);
  for (const char* text : {"116", "117", "120", "143"}) {
    uint32_t status = 99;
    EXPECT_TRUE(Process(text, "g", &status)) << text;
    EXPECT_EQ(status, kCmdUnprocessed) << text;
  }
  EXPECT_TRUE(env_.Processed().empty()) << "no response is created";
  EXPECT_FALSE(env_.support.HasBlob(DB_ID_LAST_COMMAND_GUID_BASE + 117));
  uint32_t status = 99;
  EXPECT_TRUE(Process("5", "g", &status));
  EXPECT_EQ(status, kCmdProcessed);
}

TEST_F(CommandProcessingTest, EmptyGuidSkipsTheRepeatCheckAndStoresNothing) {
  uint32_t status = 99;
  EXPECT_TRUE(Process("9", "", &status));
  EXPECT_TRUE(Process("9", "", &status));
  EXPECT_EQ(status, kCmdProcessed);
  EXPECT_EQ(env_.Processed().size(), 2u);
  EXPECT_FALSE(env_.support.HasBlob(DB_ID_LAST_COMMAND_GUID_BASE + 9));
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
