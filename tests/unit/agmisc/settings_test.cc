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
  AgUpgradeCmdRecord records[2] = {};
  std::strcpy(records[0].szCmdGuid, "guid-of-major-upgrade");
  std::strcpy(records[1].szCmdGuid, "guid-of-sp-upgrade");
  for (uint32_t slot : {0u, 1u}) ASSERT_EQ(SetUpgrdCmdInfoToINI(slot, &records[slot]), 1);
  for (uint32_t slot : {0u, 1u}) {
    AgUpgradeCmdRecord back{};
    ASSERT_EQ(GetUpgrdCmdInfoFromINI(slot, &back), 1);
    EXPECT_STREQ(back.szCmdGuid, records[slot].szCmdGuid);
  }
}

// Each number other components write into agadv.ini: its default without a
// file, then the value written under its key.
TEST_F(SettingsTest, NumbersReadTheirDefaultsWithoutFileAndWhatOthersWrote) {
  struct Number {
    uint8_t (*read)(uint32_t*);
    const char16_t* section;
    const char16_t* key;
    uint32_t default_value;
    uint32_t written;
    uint32_t value() const {
      uint32_t value = 99;
      return read(&value) == 1 ? value : 99;
    }
  };
  const Number kNumbers[] = {
      {GetClientUpgradeType, kAdvanced, u"minorupgrade", 0, 2},
      {GetgetURLReducedClientHBMaxCount, kAdvanced, u"reducedhbmaxcount", 3, 6},
      {GetgetURLReducedClientHBValue, kAdvanced, u"reducedhbvalue", 5, 7},
      {GetAVUpgradeStatus, u"AV_CONFIG_FLAGS", u"avupgradestatus", 0, 4},
  };
  for (const auto& n : kNumbers) EXPECT_EQ(n.value(), n.default_value) << platform::Utf16ToUtf8(n.key).value_or("");
  for (const auto& n : kNumbers) WriteIni(n.section, n.key, platform::Utf8ToUtf16(std::to_string(n.written))->c_str());
  for (const auto& n : kNumbers) EXPECT_EQ(n.value(), n.written) << platform::Utf16ToUtf8(n.key).value_or("");

  // The core's minor-upgrade check and the consent read what the setters write.
  ASSERT_EQ(SetClientUpgradeType(1), 1);
  ASSERT_EQ(SetClientAutoUpgrade(1), 1);
  EXPECT_EQ(kNumbers[0].value(), 1u);
  EXPECT_EQ(platform::GetPrivateProfileIntW(kAdvanced, u"autoupgradeconsent", 0, AgentIni().c_str()), 1u);
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
