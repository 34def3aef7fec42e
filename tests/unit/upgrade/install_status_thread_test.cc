// The installation-status thread: each named event becomes one task, sets
// made before the thread runs are served, clean-up never swallows a pending
// installation status, and an upgrade acknowledgement whose signal found no
// holder is still queued once the thread has its events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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

constexpr const char* kThread = "CaAvInstallStatusThread";
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
  const char* logLine;
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
  EXPECT_EQ(env.log.Count(c.logLine), 1u);
  EXPECT_TRUE(env.log.ContainsFrom(kThread, c.logLine));
}

INSTANTIATE_TEST_SUITE_P(
    Events, InstallStatusThreadSignal,
    ::testing::Values(
        SignalCase{"InstallationStatus", kInstallStatus, 0, {{8, 114}}, "AV Installation Status Event Fired!!"},
        SignalCase{"DownloadStatusFromTheUnifiedAgent", kDownloadStatus, 2, {{10, 130}},
                   "It Is OnCloud & GetAVDownloadUrlSrc succeded  URL source is UA so added event 130 in queue."},
        SignalCase{"DownloadStatusFromElsewhere", kDownloadStatus, 1, {}, "GetAVDownloadUrlSrc Faild."},
        SignalCase{"SpUpgrade", kSpUpgrade, 0, {{116, 0}}, "Upgrade SP status Event Fired!"},
        SignalCase{"UpUpgrade", kUpUpgrade, 0, {{120, 0}}, "Upgrade UP status Event Fired!"},
        SignalCase{"DownloadFailed", kDownloadFailed, 0, {{13, 134}}, "Av Download failed Event Fired!"},
        SignalCase{"DownloadInfo", kDownloadInfo, 0, {{10, 130}},
                   "Send AV Download Info To Server After P2P Enable from Server Event signalled"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallStatusThreadTest, InstallationStatusSetTogetherWithCleanUpIsStillQueued) {
  auto installer = Hold(kInstallStatus);
  ASSERT_TRUE(installer->Set());
  GetCoreState().cleanupEvent->Set();
  Start();
  Join();
  EXPECT_EQ(Queued(), (std::vector<TaskEntry>{{8, 114}}));
  EXPECT_TRUE(env.log.Contains("Cleanup Event signalled"));
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
  if (!c.notifiesProduct || ids.size() != 2) return;
  EXPECT_EQ(env.Requests()[1].payload, "{\"rsts\":0}\n");
  // The status task is queued before the product hears of the build.
  const auto records = env.log.Records();
  const auto first = [&](auto match) { return std::find_if(records.begin(), records.end(), match) - records.begin(); };
  EXPECT_LT(first([](const auto& r) { return r.routine == "AddTaskInQ" && r.message == "End"; }),
            first([](const auto& r) { return r.routine == "NotifyDataChangeToAV"; }));
}

INSTANTIATE_TEST_SUITE_P(Results, InstallStatusThreadBuildResult,
                         ::testing::Values(BuildResultCase{"Result506", u"506", true},
                                           BuildResultCase{"WrapsOnto506", u"4294967802", false},
                                           BuildResultCase{"Negative", u"-4294966790", false},
                                           BuildResultCase{"NotANumber", u"done", false},
                                           BuildResultCase{"Zero", u"0", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CreationFailureCase {
  const char* name;
  const char* event;
  const char* logLine;
};

class InstallStatusThreadCreationFailure : public InstallStatusThreadTest,
                                           public ::testing::WithParamInterface<CreationFailureCase> {};

TEST_P(InstallStatusThreadCreationFailure, EndsTheThreadAndReleasesTheEventsItMade) {
  const CreationFailureCase& c = GetParam();
  // Something that is not an event already carries the name.
  const std::string name = std::string(c.event).substr(std::string("Global\\").size());
  std::filesystem::create_directories(platform::NamedEvent::Folder());
  std::ofstream(std::filesystem::path(platform::NamedEvent::Folder()) / name) << "taken";

  Start();
  Join();

  EXPECT_TRUE(env.log.ContainsFrom(kThread, std::string(c.logLine) + " failed (Err = 6)")) << env.log.Dump();
  EXPECT_FALSE(env.log.Contains(kWaiting));
  for (const char* other : {kInstallStatus, kDownloadStatus, kSpUpgrade, kUpUpgrade, kDownloadFailed, kDownloadInfo}) {
    if (other == c.event) continue;
    uint32_t error = 0;
    EXPECT_EQ(platform::NamedEvent::OpenExisting(other, &error), nullptr) << other;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Events, InstallStatusThreadCreationFailure,
    ::testing::Values(
        CreationFailureCase{"InstallationStatus", kInstallStatus, "CreateEvent(AV inst status)"},
        CreationFailureCase{"DownloadStatus", kDownloadStatus, "CreateEvent(AV Download status)"},
        CreationFailureCase{"SpUpgrade", kSpUpgrade, "CreateEvent(UPGRD_STATUS_EVENT)"},
        CreationFailureCase{"UpUpgrade", kUpUpgrade, "CreateEvent(UPGRD_MAJOR_MINOR_STATUS_EVENT)"},
        CreationFailureCase{"DownloadFailed", kDownloadFailed, "CreateEvent(AV_DOWN_FAILED_EVENT)"},
        CreationFailureCase{"DownloadInfo", kDownloadInfo, "CreateEvent(CA_EVENT_SEND_AV_DOWNLOAD_INFO)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The upgraded agent's start-up signals the UP event before the thread has
// created it; with nobody else holding it the signal is lost, yet the
// acknowledgement is queued once the thread has its events.
TEST_F(InstallStatusThreadTest, UpgradeAcknowledgementWhoseSignalFoundNoHolderIsQueued) {
  env.LeaveUpgradeData(UpgradeData{}, "upgrade-command-guid");
  ASSERT_TRUE(HandleUpgradationScenario());
  ASSERT_TRUE(env.log.Contains("Open Event failed ( Global\\VX_Up_Upgrd_Status ) error (2)"));

  Start();
  ASSERT_TRUE(WaitForRounds(2)) << env.log.Dump();
  Stop();

  EXPECT_EQ(Queued(), (std::vector<TaskEntry>{{120, 0}}));
}

struct LeftOverCase {
  const char* name;
  uint32_t recordId;        // 0: none
  const char* resultFile;   // null: none
  std::vector<TaskEntry> tasks;
};

class InstallStatusThreadLeftOver : public InstallStatusThreadTest,
                                    public ::testing::WithParamInterface<LeftOverCase> {};

TEST_P(InstallStatusThreadLeftOver, AcknowledgementIsQueuedAtStartWhenRecordAndResultAreThere) {
  const LeftOverCase& c = GetParam();
  if (c.recordId != 0) env.PutCmdRecord(c.recordId, "left-over");
  if (c.resultFile != nullptr) env.WriteInstallResult(c.resultFile, "0");
  // Held from outside, so that a set the thread did not serve before it
  // stopped is still visible afterwards.
  auto sp = Hold(kSpUpgrade);
  auto up = Hold(kUpUpgrade);

  Start();
  ASSERT_TRUE(WaitForRounds(c.tasks.empty() ? 1 : 2)) << env.log.Dump();
  Stop();

  EXPECT_EQ(Queued(), c.tasks);
  platform::Waitable* upgradeEvents[] = {sp.get(), up.get()};
  EXPECT_EQ(platform::WaitAnyRealTime(upgradeEvents, 0), platform::kWaitTimeout);
}

INSTANTIATE_TEST_SUITE_P(LeftOvers, InstallStatusThreadLeftOver,
                         ::testing::Values(LeftOverCase{"UpRecordAndResult", 52, "UPResult.ini", {{120, 0}}},
                                           LeftOverCase{"SpRecordAndResult", 51, "SPResult.ini", {{116, 0}}},
                                           LeftOverCase{"RecordWithoutResult", 52, nullptr, {}},
                                           LeftOverCase{"ResultWithoutRecord", 0, "UPResult.ini", {}},
                                           LeftOverCase{"ResultOfTheOtherKind", 51, "UPResult.ini", {}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
