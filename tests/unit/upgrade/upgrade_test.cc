// Upgrade handling: the upgrade data an upgraded agent finds at start (whether
// it is meant for this version, what it restores and stores), the upgrade
// command acknowledgements (which command and status go out, what stays
// behind after each outcome, and that an upgrade is acknowledged once however
// many tasks ask for it), and the installation-status thread that turns the
// installer's and the upgrade tools' events into those tasks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/agcore/core_state.h"
#include "core/casupp/pending_records.h"
#include "core/casupp/upgrade.h"
#include "core/cathread/install_status_thread.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "platform/folders.h"
#include "platform/ini.h"
#include "platform/named_event.h"
#include "platform/utf.h"
#include "tests/unit/heartbeat/gate_clock.h"
#include "tests/unit/heartbeat/heartbeat_test_env.h"
#include "tests/unit/mocks/scratch_folder.h"

namespace {

using ::testing::_;
using ::testing::Invoke;

constexpr const char* kCmdGuid = "5f0c2a1e-upgrade-command";

// The upgrade data ("DATA_FOR_UPGRADE") an upgrade leaves for the new agent;
// the target version matches the version the messaging environment reports.
struct UpgradeData {
  std::string guid = "client-guid-from-old-agent";
  uint32_t type = 2;
  uint32_t consent = 1;
  std::string target = "4.2.0.9";
  std::u16string avFromCdn = u"https://cdn/av";
  std::u16string avFromUa = u"https://ua/av";
  std::u16string avFromServer = u"https://server/av";

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> record(AG_UPGRADE_DATA_SIZE, 0);
    std::memcpy(record.data(), guid.data(), guid.size());
    std::memcpy(record.data() + 100, &type, 4);
    std::memcpy(record.data() + 104, &consent, 4);
    std::memcpy(record.data() + 376, target.data(), target.size());
    const auto wide = [&](size_t offset, const std::u16string& text) {
      std::memcpy(record.data() + offset, text.data(), text.size() * sizeof(char16_t));
    };
    wide(1156, avFromCdn);
    wide(2716, avFromUa);
    wide(4276, avFromServer);
    return record;
  }
};

class UpgradeTestEnv : public HeartbeatEnv {
 public:
  UpgradeTestEnv() : machine_("upgrade-machine-") {
    previousMachineRoot_ = platform::MachineRoot();
    platform::SetMachineRoot(machine_.path() + "/");
    char16_t folder[260] = {};
    support.GetModulePathW(folder, 260);
    moduleFolder_ = platform::Utf16ToUtf8(folder).value_or("");
  }
  ~UpgradeTestEnv() { platform::SetMachineRoot(previousMachineRoot_); }

  // "UPGRD_RESULT_INFO"/"InstallResult" of a result file beside the core.
  void WriteInstallResult(const std::string& file, const std::string& value) const {
    ASSERT_TRUE(platform::WritePrivateProfileStringW(u"UPGRD_RESULT_INFO", u"InstallResult",
                                                     platform::Utf8ToUtf16(value)->c_str(), Path(file).c_str()));
  }
  std::u16string Path(const std::string& file) const { return *platform::Utf8ToUtf16(moduleFolder_ + file); }

  static AgUpgradeCmdRecord CmdRecord(const std::string& guid) {
    AgUpgradeCmdRecord record{};
    record.dwLeading = 7;
    std::strncpy(record.szCmdGuid, guid.c_str(), sizeof(record.szCmdGuid) - 1);
    return record;
  }
  void PutCmdRecord(uint32_t id, const std::string& guid) { support.PutValue(id, CmdRecord(guid)); }

  // The upgrade data and the agent INI's copy of the command record.
  void LeaveUpgradeData(const UpgradeData& data, const std::string& cmdGuid) {
    const auto bytes = data.Bytes();
    ASSERT_EQ(support.SetClientAgentGlobalInfoToINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE, bytes.data()), 1u);
    const AgUpgradeCmdRecord command = CmdRecord(cmdGuid);
    ASSERT_EQ(support.SetUpgrdCmdInfoToINI(0, &command), 1u);
  }

 private:
  test_support::ScratchFolder machine_;
  std::string previousMachineRoot_;
  std::string moduleFolder_;
};

class UpgradeTest : public ::testing::Test {
 protected:
  // A left-over record `recordId` with the installer's `result` in `resultFile` (null: none).
  void Leave(uint32_t recordId, const char* resultFile = "UPResult.ini", const char* result = "0") {
    if (recordId != 0) env.PutCmdRecord(recordId, kCmdGuid);
    if (resultFile != nullptr) env.WriteInstallResult(resultFile, result);
  }
  void Leave(const UpgradeData& data) { env.LeaveUpgradeData(data, kCmdGuid); }

  UpgradeTestEnv env;
};

struct VersionCase {
  const char* name;
  uint8_t major;
  uint8_t minor;
  const char* target;
  uint32_t type;
  uint32_t consent;
  bool meantForThisAgent;
  uint32_t storedType;
  uint32_t storedConsent;  // 0: not stored
};

class UpgradeScenarioVersion : public UpgradeTest, public ::testing::WithParamInterface<VersionCase> {};

// The data is consumed only by the agent whose version prefixes the target;
// the type and consent are stored only when valid.
TEST_P(UpgradeScenarioVersion, DataIsConsumedOnlyByTheAgentItIsMeantFor) {
  const VersionCase& c = GetParam();
  ON_CALL(env.version, GetProductVersion(_, _)).WillByDefault(Invoke([&c](const char16_t*, uint8_t parts[4]) {
    std::copy_n(std::vector<uint8_t>{c.major, c.minor, 0, 1}.begin(), 4, parts);
    return uint8_t{1};
  }));
  UpgradeData data;
  data.target = c.target;
  data.type = c.type;
  data.consent = c.consent;
  Leave(data);

  EXPECT_TRUE(HandleUpgradationScenario());

  std::vector<uint8_t> left(AG_UPGRADE_DATA_SIZE, 0xEE);
  env.support.GetClientAgentGlobalInfoFromINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE, left.data());
  EXPECT_EQ(left, c.meantForThisAgent ? std::vector<uint8_t>(AG_UPGRADE_DATA_SIZE, 0) : data.Bytes());
  EXPECT_EQ(env.support.Guid() == data.guid, c.meantForThisAgent);
  const auto command = env.support.Value<AgUpgradeCmdRecord>(52);
  EXPECT_EQ(command ? std::string(command->szCmdGuid) : "<none>", c.meantForThisAgent ? kCmdGuid : "<none>");
  EXPECT_EQ(env.support.UpgradeType(), c.storedType);
  EXPECT_EQ(env.support.AutoUpgrade(), c.storedConsent);
}

INSTANTIATE_TEST_SUITE_P(Versions, UpgradeScenarioVersion,
                         ::testing::Values(VersionCase{"TextPrefixNotVersionOrder", 10, 2, "10.20.1", 2, 1, true, 2, 1},
                                           VersionCase{"PrefixMustStartTheTarget", 4, 2, "14.2.0.1", 2, 1, false, 0, 0},
                                           VersionCase{"MajorWithConsentZero", 4, 2, "4.2.0.9", 2, 0, true, 2, 0},
                                           VersionCase{"MinorIgnoresConsent", 4, 2, "4.2.0.9", 1, 1, true, 1, 0},
                                           VersionCase{"UnknownTypeIsIgnored", 4, 2, "4.2.0.9", 3, 1, true, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeTest, MinorUpgradeWhoseLocationsCannotBeStoredStopsStartUp) {
  UpgradeData data;
  data.type = 1;
  Leave(data);
  env.support.Fail(InMemorySupportLibrary::Op::kSet);
  EXPECT_FALSE(HandleUpgradationScenario());
}

class UpgradeAckTest : public UpgradeTest {};

// How the server answers the acknowledgement; without a response it is taken to have it.
enum Reply { kNoReply, kAccepted, kRefused, kUnreachable };

// One upgrade that ran, and one outcome of its acknowledgement's exchange.
struct AckCase {
  const char* name;
  uint32_t taskType;
  uint32_t upgradeType;  // as stored by the upgraded agent's start-up
  uint32_t recordId;
  const char* resultFile;
  const char* installResult;
  Reply reply;
  uint32_t cmdId;
  uint32_t status;
  bool kept;  // the record stays and the pending list carries the acknowledgement
};

class UpgradeAckKind : public UpgradeAckTest, public ::testing::WithParamInterface<AckCase> {};

// Whatever happened, once the server has the acknowledgement or the pending
// list carries it, a later event of the upgrade tool sends nothing more.
TEST_P(UpgradeAckKind, AcknowledgesTheUpgradeThatRanOnceAndKeepsWhatTheServerHasNot) {
  const AckCase& c = GetParam();
  env.support.SetClientUpgradeType(c.upgradeType);
  Leave(c.recordId, c.resultFile, c.installResult);
  TestServerResponse response(c.reply == kAccepted);
  env.SetAckResult(c.reply == kUnreachable ? 0 : 1,
                   c.reply == kAccepted || c.reply == kRefused ? &response.response : nullptr);

  EXPECT_TRUE(SendUpgradeCmdAck(c.taskType, &env.rpClient));
  ASSERT_EQ(env.Acks().size(), 1u) << env.log.Dump();
  EXPECT_EQ(env.Acks()[0].id, c.cmdId);
  EXPECT_EQ(env.Acks()[0].guid, kCmdGuid);
  EXPECT_EQ(env.Acks()[0].status, c.status);
  // The installer's text travels as is; only the exact text "0" is success.
  EXPECT_EQ(env.Acks()[0].payload, std::string(R"({"app":1,"dt":1700000000,"dt1":"spisdt1","ecd":")") +
                                       c.installResult + R"(","hr":"spishr1"})" + "\n");
  EXPECT_EQ(env.support.HasBlob(c.recordId), c.kept);
  const auto pending = env.support.PendingInList(14);
  ASSERT_EQ(pending.size(), c.kept ? 1u : 0u);
  if (c.kept) {
    const auto stored = ParsePendingCommandAck(pending[0].data.data(), pending[0].data.size());
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(std::make_tuple(stored->cmdId, stored->guid, stored->status),
              std::make_tuple(c.cmdId, std::string(kCmdGuid), c.status));
  }
  EXPECT_FALSE(IsUpgradeCmdAckOutstanding(c.taskType));

  EXPECT_FALSE(SendUpgradeCmdAck(c.taskType, &env.rpClient));
  EXPECT_EQ(env.Acks().size(), 1u) << env.log.Dump();
  EXPECT_EQ(env.support.PendingInList(14).size(), pending.size());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UpgradeAckKind,
    ::testing::Values(
        AckCase{"MajorUpgradeAcknowledges117", 120, 2, 52, "UPResult.ini", "0", kNoReply, 117, kCmdAckDone, false},
        AckCase{"MinorUpgradeAcknowledges120", 120, 1, 52, "UPResult.ini", "0", kAccepted, 120, kCmdAckDone, false},
        AckCase{"SpUpgradeAcknowledges116", 116, 1, 51, "SPResult.ini", "0", kNoReply, 116, kCmdAckDone, false},
        AckCase{"DoubleZeroIsAFailure", 120, 2, 52, "UPResult.ini", "00", kNoReply, 117, kCmdAckFailed, false},
        AckCase{"ServerUnreachable", 120, 2, 52, "UPResult.ini", "0", kUnreachable, 117, kCmdAckDone, true},
        AckCase{"ServerRefuses", 120, 2, 52, "UPResult.ini", "0", kRefused, 117, kCmdAckDone, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeAckTest, AcknowledgementThatCouldNotBeStoredIsSentAgainByTheNextEvent) {
  Leave(52);
  env.support.Fail(InMemorySupportLibrary::Op::kSetPending);
  env.SetAckResult(0);
  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_TRUE(IsUpgradeCmdAckOutstanding(120));

  env.support.Fail(InMemorySupportLibrary::Op::kSetPending, false);
  env.SetAckResult(1);
  EXPECT_TRUE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_EQ(env.Acks().size(), 2u);
  EXPECT_FALSE(env.support.HasBlob(52));
}

TEST_F(UpgradeAckTest, MissingResultFileOrRecordSendsNothingAndKeepsTheRecord) {
  Leave(52, nullptr);
  EXPECT_FALSE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_TRUE(env.support.HasBlob(52));
  env.support.CLDeleteDataById(nullptr, 52);
  Leave(0);
  EXPECT_FALSE(SendUpgradeCmdAck(120, &env.rpClient));
  EXPECT_TRUE(env.Acks().empty());
}

// Two performers holding a task 120 each (two sets of the UP event on either
// side of the thread's reset): one acknowledgement.
TEST_F(UpgradeAckTest, TwoPerformersRacingSendOneAcknowledgement) {
  Leave(52);
  std::thread first([&] { SendUpgradeCmdAck(120, &env.rpClient); });
  std::thread second([&] { SendUpgradeCmdAck(120, &env.rpClient); });
  first.join();
  second.join();
  EXPECT_EQ(env.Acks().size(), 1u) << env.log.Dump();
}

class InstallStatusThreadTest : public UpgradeTest {
 protected:
  InstallStatusThreadTest() {
    RpResetPassiveNotificationRegistry();
    env.WriteTenantJson();
    // The performers wait for their RP client object until the test ends, so
    // the tasks the thread queues stay in the queue for the test to read.
    ON_CALL(env.transport, CreateCSClientObject(_, _)).WillByDefault(Invoke([this](ICSClient**, uint32_t*) {
      held_.wait();
      return uint8_t{0};
    }));
    StartRpTaskPerformerThreadPool();
    GetCoreState().cleanupEvent = platform::Event::Create(platform::Event::Reset::kManual, false);
  }
  ~InstallStatusThreadTest() override {
    GetCoreState().cleanupEvent->Set();
    if (thread_.joinable()) thread_.join();
    release_.set_value();
    StopRpTaskPerformerThreadPool();
    GetCoreState().cleanupEvent.reset();
    RpResetPassiveNotificationRegistry();
  }

  // Starts the thread and answers the tasks it queued once it waits again after one signal.
  std::vector<TaskEntry> QueuedByOneSignal() {
    thread_ = std::thread([this] { CaAvInstallStatusThread(&param_); });
    EXPECT_TRUE(clock_.AwaitWaits(2));
    std::vector<TaskEntry> tasks;
    for (TaskEntry entry{}; GetRpTaskQueue()->tryRemove(&entry);) tasks.push_back(entry);
    return tasks;
  }

  GateClock clock_;
  platform::ScopedClock clockScope_{&clock_};
  std::promise<void> release_;
  std::shared_future<void> held_ = release_.get_future().share();
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

// An installer's event set three times before the thread has created it is one task.
TEST_P(InstallStatusThreadSignal, EachEventBecomesItsTaskOnce) {
  const SignalCase& c = GetParam();
  env.support.SetAvDownloadUrlSrc(c.urlSource);
  auto installer = platform::NamedEvent::CreateOrOpen(c.event, true, false, nullptr);
  ASSERT_NE(installer, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(installer->Set());
  EXPECT_EQ(QueuedByOneSignal(), c.tasks) << env.log.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Events, InstallStatusThreadSignal,
    ::testing::Values(SignalCase{"InstallationStatus", "Global\\VXAV_Installation_Status", 0, {{8, 114}}},
                      SignalCase{"DownloadStatusFromTheUnifiedAgent", "Global\\VXAV_Download_Status", 2, {{10, 130}}},
                      SignalCase{"DownloadStatusFromElsewhere", "Global\\VXAV_Download_Status", 1, {}},
                      SignalCase{"SpUpgrade", "Global\\VX_Sp_Upgrd_Status", 0, {{116, 0}}},
                      SignalCase{"UpUpgrade", "Global\\VX_Up_Upgrd_Status", 0, {{120, 0}}},
                      SignalCase{"DownloadFailed", "Global\\VXAV_Download_Failed", 0, {{13, 134}}},
                      SignalCase{"DownloadInfo", "Global\\VXAV_Download_Info", 0, {{10, 130}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The upgraded agent's start-up signals the UP event before the thread has
// created it; with nobody holding it the signal is lost, yet the
// acknowledgement is queued once the thread has its events.
TEST_F(InstallStatusThreadTest, UpgradeAcknowledgementWhoseSignalFoundNoHolderIsQueued) {
  env.LeaveUpgradeData(UpgradeData{}, kCmdGuid);
  ASSERT_TRUE(HandleUpgradationScenario());
  EXPECT_EQ(QueuedByOneSignal(), (std::vector<TaskEntry>{{120, 0}})) << env.log.Dump();
}

}  // namespace
