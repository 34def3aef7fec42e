// The clean-up sequence after a successful start-up: its order, and what the
// pre-install library's answer keeps running.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/agcore/core_state.h"
#include "lifecycle_env.h"

namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;

constexpr const char* kCleanUp = "ClientAgentCoreCleanUp";

class CleanUpTest : public ::testing::Test {
 protected:
  LifecycleEnv env;
};

TEST_F(CleanUpTest, StepsRunInOrderAndReleaseEverything) {
  ASSERT_EQ(StartUpForTest(), 1) << env.log.Dump();
  IRPClient* rpClient = GetCoreState().rpClient.Peek();
  ASSERT_NE(rpClient, nullptr);
  {
    InSequence order;
    EXPECT_CALL(env.system, SystemCleanUpCall(_));
    EXPECT_CALL(env.resp, StopAvMessageHandlerThread()).WillOnce(Return(1));
    EXPECT_CALL(env.preinst, PreInstallCleanUpCheck()).WillOnce(Return(0));
  }
  env.log.Clear();
  ASSERT_EQ(CleanUpForTest(1), 1);

  const std::vector<std::string> order = {
      "Before setting cleanup event.",
      "bNotifyOffline is TRUE hence sending offline notification to server",
      "Waiting for AV install status thread to return...",
      "StopAvMessageHandlerThread() executed successfuly.",
      "After closing cleanup event.",
      "Before calling SocketDeinitSocketProvider",
      "Exit",
  };
  size_t previous = 0;
  for (const auto& message : order) {
    const size_t at = env.IndexOf(kCleanUp, message);
    ASSERT_LT(at, env.log.Records().size()) << message << "\n" << env.log.Dump();
    EXPECT_GE(at, previous) << message;
    previous = at;
  }
  // The installation-status thread ended before clean-up went on.
  EXPECT_LT(env.IndexOf("CaAvInstallStatusThread", "Exit"),
            env.IndexOf(kCleanUp, "StopAvMessageHandlerThread() executed successfuly."));
  EXPECT_EQ(env.FreeCount(rpClient), 1u);
  EXPECT_EQ(GetRpTaskQueue(), nullptr) << "task pool still running";
  EXPECT_FALSE(IsHeartbeatThreadRunning());
  EXPECT_EQ(GetCoreState().rpClient.Peek(), nullptr);
  EXPECT_EQ(GetCoreState().cleanupEvent, nullptr);
  EXPECT_EQ(GetCoreState().installStatusThread, nullptr);
}

TEST_F(CleanUpTest, InPlaceInstallerKeepsTheConnectionRunning) {
  ASSERT_EQ(StartUpForTest(), 1);
  IRPClient* rpClient = GetCoreState().rpClient.Peek();
  EXPECT_CALL(env.preinst, PreInstallCleanUpCheck()).WillOnce(Return(1));
  ASSERT_EQ(CleanUpForTest(), 1);
  EXPECT_EQ(env.FreeCount(rpClient), 0u);
  EXPECT_NE(GetRpTaskQueue(), nullptr);
  EXPECT_TRUE(IsHeartbeatThreadRunning());
  // The environment stops pool and heartbeat thread when it goes.
}

}  // namespace
