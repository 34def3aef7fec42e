// The upgrade data an upgraded agent finds at start: whether it is meant for
// this version, what it restores and stores, and that it is consumed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "core/casupp/upgrade.h"
#include "tests/unit/upgrade/upgrade_test_env.h"

namespace {

using ::testing::_;
using ::testing::Invoke;

class UpgradeScenarioTest : public ::testing::Test {
 protected:
  void Leave(const UpgradeData& data) { env.LeaveUpgradeData(data, "upgrade-command-guid"); }
  std::string Slot(uint32_t id, size_t offset) {
    const auto record = env.support.Blob(id);
    return record ? std::string(reinterpret_cast<const char*>(record->data() + offset)) : "<none>";
  }

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

class UpgradeScenarioVersion : public UpgradeScenarioTest, public ::testing::WithParamInterface<VersionCase> {};

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
  EXPECT_EQ(Slot(52, offsetof(AgUpgradeCmdRecord, szCmdGuid)),
            c.meantForThisAgent ? "upgrade-command-guid" : "<none>");
  EXPECT_EQ(env.InstallResult("UPResult.ini").has_value(), c.meantForThisAgent);
  EXPECT_EQ(env.support.UpgradeType(), c.storedType);
  EXPECT_EQ(env.support.AutoUpgrade(), c.storedConsent);
}

INSTANTIATE_TEST_SUITE_P(Versions, UpgradeScenarioVersion,
                         ::testing::Values(VersionCase{"TextPrefixNotVersionOrder", 10, 2, "10.20.1", 2, 1, true, 2, 1},
                                           VersionCase{"OtherMinor", 10, 2, "10.3.1", 2, 1, false, 0, 0},
                                           VersionCase{"PrefixMustStartTheTarget", 4, 2, "14.2.0.1", 2, 1, false, 0, 0},
                                           VersionCase{"MajorWithConsentZero", 4, 2, "4.2.0.9", 2, 0, true, 2, 0},
                                           VersionCase{"MinorIgnoresConsent", 4, 2, "4.2.0.9", 1, 1, true, 1, 0},
                                           VersionCase{"UnknownTypeIsIgnored", 4, 2, "4.2.0.9", 3, 1, true, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeScenarioTest, MinorUpgradeStoresItsLocationsAs46AndRefreshesOnlyTheAgentSlotsOf69) {
  std::vector<uint8_t> earlier(8192, 0);
  std::memcpy(earlier.data(), "earlier-av", 10);
  std::memcpy(earlier.data() + 0x1400, "earlier-ua", 10);
  env.support.PutBlob(69, earlier.data(), earlier.size());
  UpgradeData data;
  data.type = 1;
  data.uaFromUa = u"https://ua/ua";
  Leave(data);

  EXPECT_TRUE(HandleUpgradationScenario());

  EXPECT_FALSE(env.support.HasBlob(40));
  EXPECT_EQ((std::vector<std::string>{Slot(46, 0), Slot(46, 0x400), Slot(46, 0x800), Slot(69, 0), Slot(69, 0x1400)}),
            (std::vector<std::string>{"https://ua/av", "https://cdn/av", "https://server/av", "earlier-av",
                                      "https://ua/ua"}));
}

TEST_F(UpgradeScenarioTest, MajorUpgradeStoresItsLocationsAs40And69) {
  Leave(UpgradeData{});
  EXPECT_TRUE(HandleUpgradationScenario());
  EXPECT_FALSE(env.support.HasBlob(46));
  EXPECT_EQ(Slot(40, 0x400), "https://cdn/av");
  EXPECT_EQ(Slot(69, 0x400), "https://cdn/av");
}

TEST_F(UpgradeScenarioTest, MinorUpgradeWhoseLocationsCannotBeStoredStopsStartUp) {
  UpgradeData data;
  data.type = 1;
  Leave(data);
  env.support.Fail(InMemorySupportLibrary::Op::kSet);
  EXPECT_FALSE(HandleUpgradationScenario());
}

}  // namespace
