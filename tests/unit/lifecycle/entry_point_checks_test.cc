// The argument checks of the two exports: what is refused, with which log
// lines, and that a refusal touches nothing. One test loads the real shared
// library to prove the exports are reachable through dlopen/dlsym.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/agcore/core_state.h"
#include "core/agcore/entry_points.h"
#include "lifecycle_env.h"

namespace {

using ::testing::_;

constexpr const char* kStartUp = "ClientAgentCoreStartUp";
constexpr const char* kCleanUp = "ClientAgentCoreCleanUp";
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
      {1, nullptr, "client.key", u"wide", "text", kNullCertificate},
      {1, nullptr, nullptr, nullptr, nullptr, kNullCertificate},
      {3, "client.pem", "client.key", u"wide", "text", "Invalid Connection type"},
      {0, nullptr, nullptr, nullptr, "text", "NULL Parameter received"},
      {0, nullptr, nullptr, u"wide", nullptr, "NULL Parameter received"},
  };
  for (const auto& r : kRefusals) {
    SCOPED_TRACE(r.refusal);
    LifecycleEnv env;
    EXPECT_CALL(env.transport, CreateCSClientObject(_, _)).Times(0);
    EXPECT_EQ(StartUpForTest(r.connectionType, r.cert, r.key, r.wide, r.text), 0);
    EXPECT_EQ(env.LevelOf(kStartUp, r.refusal), AG_LOG_FAILURE) << env.log.Dump();
    EXPECT_EQ(env.Logged(kStartUp, "NULL Parameter received"), std::string(r.refusal) == "NULL Parameter received");
    EXPECT_GT(env.IndexOf(kStartUp, "Exit failed"), env.IndexOf(kStartUp, r.refusal));
    EXPECT_EQ(GetCoreState().cleanupEvent, nullptr);
    EXPECT_EQ(env.support.Guid(), "");
  }
}

TEST(CleanUpChecks, AnyNullOfTheFirstFourArgumentsIsRefusedAndTheCoreKeepsRunning) {
  LifecycleEnv env;
  ASSERT_EQ(StartUpForTest(), 1) << env.log.Dump();
  EXPECT_CALL(env.system, SystemCleanUpCall(_)).Times(0);
  EXPECT_CALL(env.preinst, PreInstallCleanUpCheck()).Times(0);
  int a = 0;
  EXPECT_EQ(CleanUpForTest(0, /*nullThird=*/true), 0);
  EXPECT_EQ(ClientAgentCoreCleanUp(nullptr, &a, &a, &a, 0, 0, 0, 0, 0, 1), 0);
  EXPECT_EQ(ClientAgentCoreCleanUp(&a, &a, &a, nullptr, 0, 0, 0, 0, 0, 1), 0);
  EXPECT_EQ(env.log.Count("NULL  parameter received."), 3u);
  EXPECT_NE(GetCoreState().installStatusThread, nullptr);
  EXPECT_FALSE(GetCoreState().cleanupEvent->IsSet());

  ::testing::Mock::VerifyAndClearExpectations(&env.system);
  ::testing::Mock::VerifyAndClearExpectations(&env.preinst);
  EXPECT_EQ(CleanUpForTest(), 1);
}

TEST(SharedLibrary, ExportsAreReachableThroughDlopen) {
  LogCapture log;
  void* library = dlopen(AGCORE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto startup = reinterpret_cast<PFN_CLIENT_AGENT_CORE_STARTUP>(dlsym(library, "ClientAgentCoreStartUp"));
  auto cleanup = reinterpret_cast<PFN_CLIENT_AGENT_CORE_CLEANUP>(dlsym(library, "ClientAgentCoreCleanUp"));
  ASSERT_NE(startup, nullptr);
  ASSERT_NE(cleanup, nullptr);
  // Only argument checks run, so no sibling library is reached.
  EXPECT_EQ(startup(nullptr, nullptr, u"w", "t", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7), 0);
  EXPECT_EQ(cleanup(nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_TRUE(log.ContainsFrom(kStartUp, "Invalid Connection type"));
  EXPECT_TRUE(log.ContainsFrom(kCleanUp, "NULL  parameter received."));
  dlclose(library);
}

}  // namespace
