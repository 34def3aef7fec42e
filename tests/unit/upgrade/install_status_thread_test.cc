// The installation-status thread: each named event becomes one task, sets
// made before the thread runs are served, clean-up never swallows a pending
// installation status, and an upgrade acknowledgement whose signal found no
// holder is still queued once the thread has its events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "core/agcore/core_state.h"
#include "core/casupp/upgrade.h"
#include "core/cathread/install_status_thread.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "platform/named_event.h"
#include "tests/unit/mocks/gate.h"
#include "tests/unit/upgrade/upgrade_test_env.h"

namespace {

constexpr const char* kWaiting = "Waiting for either event...";
constexpr const char* kInstallStatus = "Global\\VXAV_Installation_Status";
constexpr const char* kDownloadStatus = "Global\\VXAV_Download_Status";
constexpr const char* kSpUpgrade = "Global\\VX_Sp_Upgrd_Status";
constexpr const char* kUpUpgrade = "Global\\VX_Up_Upgrd_Status";
constexpr const char* kDownloadFailed = "Global\\VXAV_Download_Failed";
constexpr const char* kDownloadInfo = "Global\\VXAV_Download_Info";

class InstallStatusThreadTest : public ::testing::Test {
 protected:
  InstallStatusThreadTest() {
    RpResetPassiveNotificationRegistry();
    env.WriteTenantJson();
    // The performers wait for their RP client object until the test ends, so
    // the tasks the thread queues stay in the queue for the test to read.
    ON_CALL(env.transport, CreateCSClientObject(::testing::_, ::testing::_))
        .WillByDefault(::testing::Invoke([this](ICSClient**, uint32_t*) {
          performersHeld_.Wait();
          return uint8_t{0};
        }));
    StartRpTaskPerformerThreadPool();
    GetCoreState().cleanupEvent = platform::Event::Create(platform::Event::Reset::kManual, false);
  }
  ~InstallStatusThreadTest() override {
    if (thread_.joinable()) Stop();
    performersHeld_.Open();
    StopRpTaskPerformerThreadPool();
    GetCoreState().cleanupEvent.reset();
    RpResetPassiveNotificationRegistry();
  }

  void Start() {
    thread_ = std::thread([this] { CaAvInstallStatusThread(&param_); });
  }
  // Waits until the thread is back in its wait for the `rounds`-th time, that
  // is, until it handled rounds - 1 signals.
  bool WaitForRounds(size_t rounds) { return env.WaitForLog(kWaiting, rounds); }
  void Stop() {
    GetCoreState().cleanupEvent->Set();
    Join();
  }
  void Join() { thread_.join(); }

  static std::vector<TaskEntry> Queued() {
    std::vector<TaskEntry> tasks;
    TaskEntry entry{};
    while (GetRpTaskQueue()->tryRemove(&entry)) tasks.push_back(entry);
    return tasks;
  }
  // An outside process holding the event, as the installer does.
  static std::unique_ptr<platform::NamedEvent> Hold(const char* name) {
    return platform::NamedEvent::CreateOrOpen(name, true, false, nullptr);
  }

  UpgradeTestEnv env;
  Gate performersHeld_;
  CaCoreParam param_{};
  std::thread thread_;
};

struct SignalCase {
  const char* name;
  const char* event;
  uint32_t urlSource;
  std::vector<TaskEntry> tasks;
};

class InstallStatusThreadSignal : public InstallStatusThreadTest, public ::testing::WithParamInterface<SignalCase> {};

// Three sets before the thread first waits: the event was set before the
// thread created it, and the sets count as one.
TEST_P(InstallStatusThreadSignal, SetsMadeBeforeTheThreadStartsAreServedOnce) {
  const SignalCase& c = GetParam();
  env.support.SetAvDownloadUrlSrc(c.urlSource);
  auto installer = Hold(c.event);
  ASSERT_NE(installer, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(installer->Set());

  Start();
  ASSERT_TRUE(WaitForRounds(2)) << env.log.Dump();
  Stop();

  EXPECT_EQ(Queued(), c.tasks) << env.log.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Events, InstallStatusThreadSignal,
    ::testing::Values(
        SignalCase{"InstallationStatus", kInstallStatus, 0, {{8, 114}}},
        SignalCase{"DownloadStatusFromTheUnifiedAgent", kDownloadStatus, 2, {{10, 130}}},
        SignalCase{"DownloadStatusFromElsewhere", kDownloadStatus, 1, {}},
        SignalCase{"SpUpgrade", kSpUpgrade, 0, {{116, 0}}},
        SignalCase{"UpUpgrade", kUpUpgrade, 0, {{120, 0}}},
        SignalCase{"DownloadFailed", kDownloadFailed, 0, {{13, 134}}},
        SignalCase{"DownloadInfo", kDownloadInfo, 0, {{10, 130}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallStatusThreadTest, InstallationStatusSetTogetherWithCleanUpIsStillQueued) {
  auto installer = Hold(kInstallStatus);
  ASSERT_TRUE(installer->Set());
  GetCoreState().cleanupEvent->Set();
  Start();
  Join();
  EXPECT_EQ(Queued(), (std::vector<TaskEntry>{{8, 114}}));
}

struct BuildResultCase {
  const char* name;
  const char16_t* result;
  bool notifiesProduct;
};

class InstallStatusThreadBuildResult : public InstallStatusThreadTest,
                                       public ::testing::WithParamInterface<BuildResultCase> {};

TEST_P(InstallStatusThreadBuildResult, OnlyResult506NotifiesTheProductAfterQueueingTheStatus) {
  const BuildResultCase& c = GetParam();
  ASSERT_TRUE(platform::WritePrivateProfileStringW(u"INSTALL", u"RESULT", c.result, env.Path("agbldn.ini").c_str()));
  auto installer = Hold(kInstallStatus);
  ASSERT_TRUE(installer->Set());
  Start();
  ASSERT_TRUE(WaitForRounds(2)) << env.log.Dump();
  Stop();

  EXPECT_EQ(Queued(), (std::vector<TaskEntry>{{8, 114}}));
  std::vector<uint32_t> ids;
  for (const auto& r : env.Requests()) ids.push_back(r.id);
  EXPECT_EQ(ids, (c.notifiesProduct ? std::vector<uint32_t>{18, 37} : std::vector<uint32_t>{}));
  if (c.notifiesProduct && ids.size() == 2) {
    EXPECT_EQ(env.Requests()[1].payload, "{\"rsts\":0}\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Results, InstallStatusThreadBuildResult,
                         ::testing::Values(BuildResultCase{"Result506", u"506", true},
                                           BuildResultCase{"WrapsOnto506", u"4294967802", false},
                                           BuildResultCase{"NotANumber", u"done", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The upgraded agent's start-up signals the UP event before the thread has
// created it; with nobody else holding it the signal is lost, yet the
// acknowledgement is queued once the thread has its events.
TEST_F(InstallStatusThreadTest, UpgradeAcknowledgementWhoseSignalFoundNoHolderIsQueued) {
  env.LeaveUpgradeData(UpgradeData{}, "upgrade-command-guid");
  ASSERT_TRUE(HandleUpgradationScenario());

  Start();
  ASSERT_TRUE(WaitForRounds(2)) << env.log.Dump();
  Stop();

  EXPECT_EQ(Queued(), (std::vector<TaskEntry>{{120, 0}}));
}

}  // namespace
