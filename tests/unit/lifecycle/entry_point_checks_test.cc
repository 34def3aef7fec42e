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

class StartUpChecks : public ::testing::Test {
 protected:
  // A refused start-up must not reach any sibling library.
  void ExpectRefusedWith(const std::string& message) {
    EXPECT_TRUE(env.Logged(kStartUp, "Entry"));
    EXPECT_EQ(env.LevelOf(kStartUp, message), AG_LOG_FAILURE) << env.log.Dump();
    EXPECT_GT(env.IndexOf(kStartUp, "Exit failed"), env.IndexOf(kStartUp, message));
    EXPECT_EQ(env.LevelOf(kStartUp, "Exit failed"), AG_LOG_FAILURE);
    EXPECT_EQ(GetCoreState().cleanupEvent, nullptr);
    EXPECT_EQ(env.support.Guid(), "");
  }

  LifecycleEnv env;
};

TEST_F(StartUpChecks, CertificateConnectionWithoutKeyFileIsRefused) {
  EXPECT_CALL(env.transport, CreateCSClientObject(_, _)).Times(0);
  EXPECT_EQ(StartUpForTest(2, "client.pem", nullptr), 0);
  ExpectRefusedWith("NULL Parameter received (Certificate file, Key File)");
}

TEST_F(StartUpChecks, CertificateConnectionWithoutCertificateFileIsRefused) {
  EXPECT_EQ(StartUpForTest(1, nullptr, "client.key"), 0);
  ExpectRefusedWith("NULL Parameter received (Certificate file, Key File)");
}

TEST_F(StartUpChecks, UnknownConnectionTypeIsRefusedEvenWithEveryPointerSet) {
  EXPECT_EQ(StartUpForTest(3, "client.pem", "client.key"), 0);
  ExpectRefusedWith("Invalid Connection type");
  EXPECT_FALSE(env.log.Contains("NULL Parameter received"));
}

TEST_F(StartUpChecks, MissingTextsAreRefused) {
  EXPECT_EQ(StartUpForTest(0, nullptr, nullptr, nullptr, "text"), 0);
  ExpectRefusedWith("NULL Parameter received");
  env.log.Clear();
  EXPECT_EQ(StartUpForTest(0, nullptr, nullptr, u"wide", nullptr), 0);
  ExpectRefusedWith("NULL Parameter received");
}

TEST_F(StartUpChecks, TheCertificateCheckComesBeforeTheTextCheck) {
  EXPECT_EQ(StartUpForTest(1, nullptr, nullptr, nullptr, nullptr), 0);
  ExpectRefusedWith("NULL Parameter received (Certificate file, Key File)");
  EXPECT_FALSE(env.Logged(kStartUp, "NULL Parameter received"));
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
  EXPECT_EQ(env.LevelOf(kCleanUp, "NULL  parameter received."), AG_LOG_PROGRESS);
  EXPECT_FALSE(env.log.Contains("Before setting cleanup event."));
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
  EXPECT_EQ(dlsym(library, "RunClientAgentCoreStartUp"), nullptr);
  dlclose(library);
}

}  // namespace
