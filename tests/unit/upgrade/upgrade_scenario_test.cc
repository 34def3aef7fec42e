// The upgrade data an upgraded agent finds at start: whether it is meant for
// this version, what it restores and stores, and that it is consumed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
  void AgentVersion(uint8_t major, uint8_t minor) {
    ON_CALL(env.version, GetProductVersion(_, _)).WillByDefault(Invoke([=](const char16_t*, uint8_t parts[4]) {
      parts[0] = major;
      parts[1] = minor;
      parts[2] = 0;
      parts[3] = 1;
      return uint8_t{1};
    }));
  }
  std::vector<uint8_t> LeftInIni() {
    std::vector<uint8_t> bytes(AG_UPGRADE_DATA_SIZE, 0xEE);
    env.support.GetClientAgentGlobalInfoFromINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE, bytes.data());
    return bytes;
  }
  static std::string Slot(const std::vector<uint8_t>& record, size_t offset) {
    return std::string(reinterpret_cast<const char*>(record.data() + offset));
  }

  UpgradeTestEnv env;
};

struct VersionCase {
  const char* name;
  uint8_t major;
  uint8_t minor;
  const char* target;
  bool meantForThisAgent;
};

class UpgradeScenarioVersion : public UpgradeScenarioTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(UpgradeScenarioVersion, DataIsConsumedOnlyByTheAgentWhoseVersionPrefixesTheTarget) {
  const VersionCase& c = GetParam();
  AgentVersion(c.major, c.minor);
  UpgradeData data;
  data.target = c.target;
  Leave(data);

  EXPECT_TRUE(HandleUpgradationScenario());

  const auto left = LeftInIni();
  if (c.meantForThisAgent) {
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(env.support.Guid(), data.guid);
    const auto restored = env.support.Value<AgUpgradeCmdRecord>(52);
    ASSERT_TRUE(restored.has_value());
    EXPECT_STREQ(restored->szCmdGuid, "upgrade-command-guid");
    EXPECT_EQ(env.InstallResult("UPResult.ini"), "0");
  } else {
    EXPECT_EQ(left, data.Bytes());
    EXPECT_TRUE(env.log.Contains("Upgrade cmd is not for this client version"));
    EXPECT_FALSE(env.support.HasBlob(52));
    EXPECT_NE(env.support.Guid(), data.guid);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, UpgradeScenarioVersion,
                         ::testing::Values(VersionCase{"TextPrefixNotVersionOrder", 10, 2, "10.20.1", true},
                                           VersionCase{"SameMajorMinor", 10, 2, "10.2.0.1", true},
                                           VersionCase{"OtherMinor", 10, 2, "10.3.1", false},
                                           VersionCase{"PrefixMustStartTheTarget", 4, 2, "14.2.0.1", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeScenarioTest, NoUpgradeDataIsNoUpgrade) {
  EXPECT_TRUE(HandleUpgradationScenario());
  EXPECT_TRUE(env.log.Contains("So this is not upgradation case so returning."));
  EXPECT_FALSE(env.support.HasBlob(52));
}

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
  const auto minor = env.support.Blob(46);
  ASSERT_TRUE(minor.has_value());
  EXPECT_EQ(Slot(*minor, 0), "https://ua/av");
  EXPECT_EQ(Slot(*minor, 0x400), "https://cdn/av");
  EXPECT_EQ(Slot(*minor, 0x800), "https://server/av");
  const auto ua = env.support.Blob(69);
  ASSERT_TRUE(ua.has_value());
  EXPECT_EQ(Slot(*ua, 0), "earlier-av");
  EXPECT_EQ(Slot(*ua, 0x1400), "https://ua/ua");
  EXPECT_EQ(env.support.UpgradeType(), 1u);
}

TEST_F(UpgradeScenarioTest, MajorUpgradeStoresItsLocationsAs40And69) {
  Leave(UpgradeData{});
  EXPECT_TRUE(HandleUpgradationScenario());
  EXPECT_FALSE(env.support.HasBlob(46));
  for (uint32_t id : {40u, 69u}) {
    const auto stored = env.support.Blob(id);
    ASSERT_TRUE(stored.has_value()) << id;
    EXPECT_EQ(Slot(*stored, 0x400), "https://cdn/av") << id;
  }
  EXPECT_TRUE(env.log.Contains("UA was not present on this client"));
}

TEST_F(UpgradeScenarioTest, EmptyCdnLocationStoresNoLocations) {
  UpgradeData data;
  data.avFromCdn.clear();
  Leave(data);
  EXPECT_TRUE(HandleUpgradationScenario());
  for (uint32_t id : {40u, 46u, 69u}) EXPECT_FALSE(env.support.HasBlob(id)) << id;
}

TEST_F(UpgradeScenarioTest, MinorUpgradeWhoseLocationsCannotBeStoredStopsStartUp) {
  UpgradeData data;
  data.type = 1;
  Leave(data);
  env.support.Fail(InMemorySupportLibrary::Op::kSet);
  EXPECT_FALSE(HandleUpgradationScenario());
  EXPECT_TRUE(env.log.Contains("Aborting minor upgrade as SetClientBlobData failed"));
}

struct TypeConsentCase {
  const char* name;
  uint32_t type;
  uint32_t consent;
  uint32_t storedType;
  uint32_t storedConsent;  // 0: not stored
};

class UpgradeScenarioTypeConsent : public UpgradeScenarioTest,
                                   public ::testing::WithParamInterface<TypeConsentCase> {};

TEST_P(UpgradeScenarioTypeConsent, TypeAndConsentAreStoredOnlyWhenValid) {
  const TypeConsentCase& c = GetParam();
  UpgradeData data;
  data.type = c.type;
  data.consent = c.consent;
  Leave(data);
  EXPECT_TRUE(HandleUpgradationScenario());
  EXPECT_EQ(env.support.UpgradeType(), c.storedType);
  EXPECT_EQ(env.support.AutoUpgrade(), c.storedConsent);
}

INSTANTIATE_TEST_SUITE_P(Values, UpgradeScenarioTypeConsent,
                         ::testing::Values(TypeConsentCase{"MajorWithConsentZero", 2, 0, 2, 0},
                                           TypeConsentCase{"MajorWithConsentTwo", 2, 2, 2, 2},
                                           TypeConsentCase{"MinorIgnoresConsent", 1, 1, 1, 0},
                                           TypeConsentCase{"UnknownTypeIsIgnored", 3, 1, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
