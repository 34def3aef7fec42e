// Which download locations the pre-install library gets and whether a build
// already waits on disk. The default location's command (39): ThrottleTest.
#include "core/casupp/download_locations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

#include "tests/unit/mocks/messaging_env.h"

namespace {

// A text filling the whole slot is stored without its terminator.
void Put(char (&slot)[kLocationSlotBytes], const std::string& text) {
  std::memcpy(slot, text.data(), std::min(text.size(), kLocationSlotBytes));
}

constexpr char kCloud[] = R"({"tenantId":"T-1","cdnURL":"https://tenant-cdn/b","onPrem":0})";
constexpr char kOnPrem[] = R"({"tenantId":"T-1","cdnURL":"https://tenant-cdn/b","onPrem":1})";

struct LocationCase {
  const char* name;
  const char* tenant;
  bool peerToPeer;
  uint32_t relayStatus;
  std::string firstPeer, fromUa, fromServer, fromCdn;
  bool result;
  std::string expectFirst, expectSecond;
  uint32_t expectRetryCount;
};

// Peer-to-peer first, then the unified agent (with its build folder) or the
// server; the relay's CDN address once registered with it; the CDN slot fills
// what is left.
const LocationCase kLocationCases[] = {
    {"PeerFirstThenCdn", kCloud, true, 0, "http://peer1/b", "", "", "https://cdn/b", true, "http://peer1/b",
     "https://cdn/b", 1},
    {"PeerSlotsIgnoredWhenOff", kCloud, false, 0, "http://peer1/b", "https://ua", "", "https://cdn/b", true,
     "https://cdn/b", "https://cdn/b", 0},
    {"UnifiedAgentGetsBuildFolder", kCloud, false, 0, "", "https://ua:8443", "", "", true,
     "https://ua:8443/update/build/", "", 0},
    {"LongUnifiedAgentLocationIsCutToItsSlot", kCloud, false, 0, "", std::string(kLocationSlotBytes, 'u'), "",
     "", true, std::string(kLocationSlotBytes - 1, 'u') + "/update/build/", "", 0},
    {"ServerWhenNoUnifiedAgent", kCloud, false, 0, "", "", "https://cs/s1/", "https://cdn/b", true,
     "https://cs/s1/", "https://cdn/b", 0},
    {"RelayRegisteredUsesTenantCdn", kOnPrem, false, 3, "", "", "", "", true, "https://tenant-cdn/b",
     "https://tenant-cdn/b", 0},
    {"RelayWithoutTenantCdnFails", R"({"tenantId":"T-1","onPrem":1})", false, 3, "", "", "", "", false, "", "",
     0},
    {"RelayNotRegisteredKeepsCdnSlotOutOfFirst", kOnPrem, false, 1, "", "", "", "https://cdn/b", true, "",
     "https://cdn/b", 0},
};

class LocationChoiceTest : public ::testing::TestWithParam<LocationCase> {
 protected:
  MessagingEnv env;
};

TEST_P(LocationChoiceTest, PicksFirstAndSecondLocation) {
  const LocationCase& c = GetParam();
  env.WriteTenantJson(c.tenant);
  env.support.SetPtpEnabled(c.peerToPeer ? 1 : 0);
  env.support.SetRegStatusValue(c.relayStatus, true);
  DownloadLocationRecord record{};
  Put(record.firstPeer, c.firstPeer);
  Put(record.avFromUa, c.fromUa);
  Put(record.avFromServer, c.fromServer);
  Put(record.avFromCdn, c.fromCdn);
  env.support.PutValue(DB_ID_AV_BUILD_URLS, record);
  char first[kDownloadUrlBufferSize] = "stale";
  char second[kDownloadUrlBufferSize] = "stale";
  EXPECT_EQ(GetUrlsforAVDownload(first, sizeof(first), second, sizeof(second), nullptr), c.result);
  if (!c.result) return;
  EXPECT_EQ(first, c.expectFirst);
  EXPECT_EQ(second, c.expectSecond);
  EXPECT_EQ(env.support.Value<uint32_t>(DB_ID_AV_DOWNLOAD_RETRY_COUNT).value_or(0), c.expectRetryCount);
}

INSTANTIATE_TEST_SUITE_P(Table, LocationChoiceTest, ::testing::ValuesIn(kLocationCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DownloadLocationsTest, BuildUrlsByKind) {
  MessagingEnv env;
  DownloadLocationRecord minor{};
  Put(minor.avFromServer, "https://cs/minor");
  Put(minor.avFromCdn, "https://cdn/minor");
  Put(minor.uaFromServer, "https://cs/ua-minor");
  env.support.PutValue(DB_ID_MINOR_UPGRADE_BUILD_URLS, minor);
  DownloadLocationRecord ua{};
  Put(ua.uaFromUa, "https://ua");
  Put(ua.uaFromServer, "https://cs/ua");
  Put(ua.uaFromCdn, "https://cdn/ua");
  env.support.PutValue(DB_ID_UA_BUILD_URLS, ua);

  char first[kDownloadUrlBufferSize] = {};
  char second[kDownloadUrlBufferSize] = {};
  GetAVBuildUrls(kMinorUpgradeBuildKind, first, sizeof(first), second, sizeof(second));
  EXPECT_STREQ(first, "");  // a minor upgrade fills only the second location
  EXPECT_STREQ(second, "https://cdn/minor");
  GetUABuildUrls(2, first, sizeof(first), second, sizeof(second));
  EXPECT_STREQ(first, "https://ua/update/build/");
  EXPECT_STREQ(second, "https://cdn/ua");
  char small[8] = {};
  GetUABuildUrls(kMinorUpgradeBuildKind, small, sizeof(small), second, sizeof(second));
  EXPECT_STREQ(small, "https:/");  // cut to the caller's buffer
}

// A build waits on disk once the downloader has written download=0.
TEST(DownloadLocationsTest, BuildIsAvailableOnceTheDownloadIsDone) {
  MessagingEnv env;
  char16_t config[260] = {};
  env.support.GetClientAgentConfigDir(config, 260);
  const std::string folder = *platform::Utf16ToUtf8(config);
  std::filesystem::create_directories(folder);
  const std::pair<const char*, uint32_t> cases[] = {
      {nullptr, 0},
      {"[agbldn_info]\ndownload=0\n", 1},
      {"[agbldn_info]\ndownload=1\nbuild.exe=99\n", 0},
  };
  for (const auto& [content, expected] : cases) {
    if (content != nullptr) std::ofstream(folder + "buildinf.ini") << content;
    EXPECT_EQ(IsBuildAvailable(), expected) << (content != nullptr ? content : "no file");
  }
}

}  // namespace
