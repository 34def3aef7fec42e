// The argument checks of the start-up export as the service host can reach
// them: what is refused, with which log line, and that a refusal touches
// nothing. Clean-up's null checks guard calls the host never makes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/agcore/core_state.h"
#include "core/agcore/entry_points.h"
#include "lifecycle_env.h"

namespace {

using ::testing::_;

constexpr const char* kNullCertificate = "NULL Parameter received (Certificate file, Key File)";

// The certificate check comes before the text check, and an unknown
// connection type is refused even with every pointer set.
TEST(StartUpChecks, RefusalsTouchNothing) {
  const struct {
    uint32_t connectionType;
    const char* cert;
    const char* key;
    const char16_t* wide;
    const char* text;
    const char* refusal;
  } kRefusals[] = {
      {2, "client.pem", nullptr, u"wide", "text", kNullCertificate},
      {1, nullptr, nullptr, nullptr, nullptr, kNullCertificate},
      {3, "client.pem", "client.key", u"wide", "text", "Invalid Connection type"},
      {0, nullptr, nullptr, u"wide", nullptr, "NULL Parameter received"},
  };
  for (const auto& r : kRefusals) {
    SCOPED_TRACE(r.refusal);
    LifecycleEnv env;
    EXPECT_CALL(env.transport, CreateCSClientObject(_, _)).Times(0);
    EXPECT_EQ(StartUpForTest(r.connectionType, r.cert, r.key, r.wide, r.text), 0);
    EXPECT_TRUE(env.log.ContainsAtLevel(AG_LOG_FAILURE, r.refusal)) << env.log.Dump();
    EXPECT_EQ(GetCoreState().cleanupEvent, nullptr);
    EXPECT_EQ(env.support.Guid(), "");
  }
}

}  // namespace
