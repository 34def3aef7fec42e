// Clean-up leaves no thread of the core behind, not even when a failed
// re-initialisation emptied the RP client slot.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/agcore/core_state.h"
#include "tests/unit/lifecycle/lifecycle_env.h"

namespace {

TEST(CleanUpThreadsTest, AnEmptyRpClientSlotDoesNotKeepThreadsRunning) {
  LifecycleEnv env;
  ASSERT_EQ(StartUpForTest(), 1);
  // What a re-initialisation whose CreateRPClientObject failed leaves behind.
  GetCoreState().rpClient.Exchange(nullptr);
  ASSERT_EQ(CleanUpForTest(), 1);
  EXPECT_FALSE(IsHeartbeatThreadRunning());
  EXPECT_EQ(GetRpTaskQueue(), nullptr);
}

}  // namespace
