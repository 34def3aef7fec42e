// Which download locations the pre-install library gets, whether a build
// already waits on disk, and the two command payloads that carry a location.
#include "core/casupp/download_locations.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <fstream>
#include <string>

#include "tests/unit/mocks/messaging_env.h"
#include "tests/unit/transport/has_members.h"

namespace {

void Put(char (&slot)[kLocationSlotBytes], const char* text) { std::strncpy(slot, text, kLocationSlotBytes - 1); }

struct LocationCase {
  const char* name;
  bool peerToPeer;
  const char* firstPeer;
  const char* secondPeer;
  const char* fromUa;
  const char* fromServer;
  const char* fromCdn;
  bool onPrem;
  uint32_t relayStatus;
  bool recordStored;
  const char* expectFirst;
  const char* expectSecond;
  uint32_t expectRetryCount;
};

// Peer-to-peer first, then the unified agent (with its build folder) or the
// server; the relay's CDN address once registered with it; the CDN slot fills
// what is left.
constexpr LocationCase kLocationCases[] = {
    {"PeerFirstThenCdn", true, "http://peer1/b", "", "", "", "https://cdn/b", false, 0, true, "http://peer1/b",
     "https://cdn/b", 1},
    {"PeerSlotsIgnoredWhenOff", false, "http://peer1/b", "", "https://ua", "", "https://cdn/b", false, 0, true,
     "https://cdn/b", "https://cdn/b", 0},
    {"UnifiedAgentGetsBuildFolder", false, "", "", "https://ua:8443", "", "", false, 0, true,
     "https://ua:8443/update/build/", "", 0},
    {"ServerWhenNoUnifiedAgent", false, "", "", "", "https://cs/s1/", "https://cdn/b", false, 0, true,
     "https://cs/s1/", "https://cdn/b", 0},
    {"RelayRegisteredUsesTenantCdn", false, "", "", "", "", "", true, 3, true, "https://tenant-cdn/b",
     "https://tenant-cdn/b", 0},
    {"RelayNotRegisteredKeepsCdnSlotOutOfFirst", false, "", "", "", "", "https://cdn/b", true, 1, true, "",
     "https://cdn/b", 0},
    {"UnreadableRecordNoRelay", true, "", "", "", "", "", false, 0, false, "", "", 0},
};

class LocationChoiceTest : public ::testing::TestWithParam<LocationCase> {
 protected:
  MessagingEnv env;
};

TEST_P(LocationChoiceTest, PicksFirstAndSecondLocation) {
  const LocationCase& c = GetParam();
  env.WriteTenantJson(std::string(R"({"tenantId":"T-1","cdnURL":"https://tenant-cdn/b","onPrem":)") +
                      (c.onPrem ? "1" : "0") + "}");
  env.support.SetPtpEnabled(c.peerToPeer ? 1 : 0);
  env.support.SetRegStatusValue(c.relayStatus, true);
  if (c.recordStored) {
    DownloadLocationRecord record{};
    Put(record.firstPeer, c.firstPeer);
    Put(record.secondPeer, c.secondPeer);
    Put(record.avFromUa, c.fromUa);
    Put(record.avFromServer, c.fromServer);
    Put(record.avFromCdn, c.fromCdn);
    env.support.PutValue(DB_ID_AV_BUILD_URLS, record);
  }
  char first[kDownloadUrlBufferSize] = "stale";
  char second[kDownloadUrlBufferSize] = "stale";
  EXPECT_TRUE(GetUrlsforAVDownload(first, sizeof(first), second, sizeof(second), nullptr));
  EXPECT_STREQ(first, c.expectFirst);
  EXPECT_STREQ(second, c.expectSecond);
  EXPECT_EQ(env.support.Value<uint32_t>(DB_ID_AV_DOWNLOAD_RETRY_COUNT).value_or(0), c.expectRetryCount);
}

INSTANTIATE_TEST_SUITE_P(Table, LocationChoiceTest, ::testing::ValuesIn(kLocationCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DownloadLocationsTest, RelayWithoutTenantCdnMakesTheResultFalse) {
  MessagingEnv env;
  env.WriteTenantJson(R"({"tenantId":"T-1","onPrem":1})");  // no "cdnURL"
  env.support.SetRegStatusValue(3, true);
  char first[64] = {};
  char second[64] = {};
  EXPECT_FALSE(GetUrlsforAVDownload(first, sizeof(first), second, sizeof(second), "third"));
}

TEST(DownloadLocationsTest, LongLocationIsCutToTheBuffer) {
  MessagingEnv env;
  env.WriteTenantJson(R"({"tenantId":"T-1","onPrem":0})");
  DownloadLocationRecord record{};
  std::memset(record.avFromUa, 'u', kLocationSlotBytes);  // no terminator: cut at 1023 bytes
  env.support.PutValue(DB_ID_AV_BUILD_URLS, record);
  char first[kDownloadUrlBufferSize] = {};
  char second[16] = {};
  EXPECT_TRUE(GetUrlsforAVDownload(first, sizeof(first), second, sizeof(second), nullptr));
  EXPECT_EQ(std::string(first), std::string(1023, 'u') + "/update/build/");
  char small[8] = {};
  GetAVBuildUrls(2, small, sizeof(small), second, sizeof(second));
  EXPECT_STREQ(small, "uuuuuuu");
}

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

  first[0] = second[0] = '\0';
  GetUABuildUrls(2, first, sizeof(first), second, sizeof(second));
  EXPECT_STREQ(first, "https://ua/update/build/");
  EXPECT_STREQ(second, "https://cdn/ua");
  GetUABuildUrls(kMinorUpgradeBuildKind, first, sizeof(first), second, sizeof(second));
  EXPECT_STREQ(first, "https://cs/ua-minor");
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
      {"[agbldn_info]\nbuild.exe=99\n", 0},
  };
  for (const auto& [content, expected] : cases) {
    if (content != nullptr) std::ofstream(folder + "buildinf.ini") << content;
    EXPECT_EQ(IsBuildAvailable(), expected) << (content != nullptr ? content : "no file");
  }
}

// The default location's command (39): ThrottleTest.
TEST(DownloadLocationsTest, UnifiedAgentBuildCommandCarriesOnlyItsLocation) {
  std::string text;
  Json::Value root;
  ASSERT_TRUE(GetUABuildCommandPayload(&text, 20, "https://ua/update/build/"));
  ASSERT_TRUE(Json::Reader().parse(text, root));
  EXPECT_TRUE(json_test::HasMembers(root, R"({"cmd":{"id":20,"data":{"uabld":"https://ua/update/build/"}}})"));
  EXPECT_EQ(root["cmd"]["data"].size(), 1u);
}

}  // namespace
