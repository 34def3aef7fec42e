// INI-held settings (agadv.ini), the agent folders and the proxy record.
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "agmisc_test_env.h"
#include "platform/ini.h"
#include "platform/utf.h"

namespace {

using agmisc_test::AgentRootTest;

constexpr const char16_t* kAdvanced = u"ADMIN_CONSOLE_CLIENT_AGENT_ADV_SECTION";

class SettingsTest : public AgentRootTest {
 protected:
  std::u16string AgentIni() const { return *platform::Utf8ToUtf16(ConfigPath("agadv.ini")); }
  void WriteIni(const char16_t* section, const char16_t* key, const char16_t* value) {
    std::filesystem::create_directories(root_ + "config");
    ASSERT_TRUE(platform::WritePrivateProfileStringW(section, key, value, AgentIni().c_str()));
  }
};

TEST_F(SettingsTest, UpgradeDataIsOneBlockUnderTheCallersSectionAndAPartialWriteKeepsTheRest) {
  std::vector<uint8_t> back(AG_UPGRADE_DATA_SIZE);
  EXPECT_EQ(GetClientAgentGlobalInfoFromINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE, back.data()), 0u);
  std::vector<uint8_t> record(AG_UPGRADE_DATA_SIZE);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(3 + i * 7);
  ASSERT_EQ(SetClientAgentGlobalInfoToINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE, record.data()), 1u);
  ASSERT_EQ(platform::GetPrivateProfileStructW(u"DATA_FOR_UPGRADE", u"DATA", back.data(), AG_UPGRADE_DATA_SIZE,
                                               AgentIni().c_str()),
            1);
  EXPECT_EQ(back, record);

  const char guid[100] = "11111111-2222-3333-4444-555555555555";
  ASSERT_EQ(SetClientAgentGlobalInfoToINI(0, u"DATA_FOR_UPGRADE", sizeof(guid), guid), 1u);
  ASSERT_EQ(GetClientAgentGlobalInfoFromINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE, back.data()), 1u);
  std::memcpy(record.data(), guid, sizeof(guid));
  EXPECT_EQ(back, record);
}

TEST_F(SettingsTest, UpgradeCommandCopiesAreKeptApart) {
  AgUpgradeCmdRecord first{};
  std::strcpy(first.szCmdGuid, "guid-of-major-upgrade");
  AgUpgradeCmdRecord second{};
  std::strcpy(second.szCmdGuid, "guid-of-sp-upgrade");
  ASSERT_EQ(SetUpgrdCmdInfoToINI(0, &first), 1);
  ASSERT_EQ(SetUpgrdCmdInfoToINI(1, &second), 1);
  AgUpgradeCmdRecord back{};
  ASSERT_EQ(GetUpgrdCmdInfoFromINI(0, &back), 1);
  EXPECT_STREQ(back.szCmdGuid, first.szCmdGuid);
  ASSERT_EQ(GetUpgrdCmdInfoFromINI(1, &back), 1);
  EXPECT_STREQ(back.szCmdGuid, second.szCmdGuid);
}

// Each number other components write into agadv.ini: its default without a
// file, then the value written under its key.
TEST_F(SettingsTest, NumbersReadTheirDefaultsWithoutFileAndWhatOthersWrote) {
  struct Number {
    uint8_t (*number)(uint32_t*);
    uint8_t (*flag)(uint8_t*);
    const char16_t* section;
    const char16_t* key;
    uint32_t default_value;
    uint32_t written;
    uint32_t read() const {
      uint32_t value = 99;
      uint8_t small = 99;
      if (number != nullptr) return number(&value) == 1 ? value : 99;
      return flag(&small) == 1 ? small : 99;
    }
  };
  const Number kNumbers[] = {
      {GetClientUpgradeType, nullptr, kAdvanced, u"minorupgrade", 0, 2},
      {GetgetURLReducedClientHBMaxCount, nullptr, kAdvanced, u"reducedhbmaxcount", 3, 6},
      {GetgetURLReducedClientHBValue, nullptr, kAdvanced, u"reducedhbvalue", 5, 7},
      {GetAVUpgradeStatus, nullptr, u"AV_CONFIG_FLAGS", u"avupgradestatus", 0, 4},
      {GetAVDownloadUrlSrc, nullptr, u"AV_CONFIG_FLAGS", u"avdownloadurlsrc", 0, 2},
      {nullptr, GetPTPStatus, u"AV_CONFIG_FLAGS", u"ptpstatus", 0, 1},
      {nullptr, GetIsWebServerInstalled, u"AV_CONFIG_FLAGS", u"webserverinstalled", 0, 1},
  };
  for (const auto& n : kNumbers) EXPECT_EQ(n.read(), n.default_value) << platform::Utf16ToUtf8(n.key).value_or("");
  for (const auto& n : kNumbers) WriteIni(n.section, n.key, platform::Utf8ToUtf16(std::to_string(n.written))->c_str());
  for (const auto& n : kNumbers) EXPECT_EQ(n.read(), n.written) << platform::Utf16ToUtf8(n.key).value_or("");

  // The core's minor-upgrade check and the consent read what the setters write.
  ASSERT_EQ(SetClientUpgradeType(1), 1);
  ASSERT_EQ(SetClientAutoUpgrade(1), 1);
  EXPECT_EQ(kNumbers[0].read(), 1u);
  EXPECT_EQ(platform::GetPrivateProfileIntW(kAdvanced, u"autoupgradeconsent", 0, AgentIni().c_str()), 1u);

  char id[260];
  ASSERT_EQ(GetProductIDForXUA(id, sizeof(id)), 1);
  EXPECT_STREQ(id, "AGCLIENTAGENT");
  WriteIni(kAdvanced, u"productid", u"EPP-7");
  ASSERT_EQ(GetProductIDForXUA(id, sizeof(id)), 1);
  EXPECT_STREQ(id, "EPP-7");
}

TEST_F(SettingsTest, AssetTagIsReadWithItsFlagAndTheFlagIsReset) {
  char tag[17] = "x";
  uint8_t changed = 9;
  ASSERT_EQ(GetOrSetAssetTagName(tag, sizeof(tag), &changed, 1), 1);
  EXPECT_STREQ(tag, "");
  EXPECT_EQ(changed, 0);
  WriteIni(kAdvanced, u"assettag", u"LAPTOP-0042");
  WriteIni(kAdvanced, u"assettagchanged", u"1");
  ASSERT_EQ(GetOrSetAssetTagName(tag, sizeof(tag), &changed, 1), 1);
  EXPECT_STREQ(tag, "LAPTOP-0042");
  EXPECT_EQ(changed, 1);
  ASSERT_EQ(GetOrSetAssetTagName(tag, sizeof(tag), &changed, 2), 1);
  ASSERT_EQ(GetOrSetAssetTagName(tag, sizeof(tag), &changed, 1), 1);
  EXPECT_EQ(changed, 0);
  EXPECT_STREQ(tag, "LAPTOP-0042");
  WriteIni(kAdvanced, u"assettag", u"A-TAG-LONGER-THAN-16");
  EXPECT_EQ(GetOrSetAssetTagName(tag, sizeof(tag), &changed, 1), 0);
  EXPECT_STREQ(tag, "");
}

TEST_F(SettingsTest, ProxyRecordRoundTripsInAPrivateFileAndATruncatedOneIsRefused) {
  AgProxySettings settings{};
  EXPECT_EQ(ReadProxySettings(&settings), 0);
  settings.bProxyEnabled = 1;
  platform::U16Copy(settings.szProxyServer, 260, u"proxy.example.test");
  settings.dwProxyPort = 3128;
  platform::U16Copy(settings.szProxyPassword, 256, u"pa\u00DFword");
  ASSERT_EQ(WriteProxySettings(&settings), 1);
  AgProxySettings back{};
  ASSERT_EQ(ReadProxySettings(&back), 1);
  EXPECT_EQ(std::memcmp(&back, &settings, sizeof(back)), 0);
  struct stat info {};
  ASSERT_EQ(::stat(ConfigPath("proxy.dat").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  std::ofstream(ConfigPath("proxy.dat"), std::ios::binary) << std::string(100, '\1');
  EXPECT_EQ(ReadProxySettings(&back), 0);
}

}  // namespace
