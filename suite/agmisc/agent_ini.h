// Settings the library keeps in "agadv.ini" of the agent configuration
// folder, the INI file it shares with the agent's other components. Reads of
// a missing file or key give the documented default and succeed; writes
// replace the file atomically (platform/ini.h). Writes from this process are
// serialised so that two threads never lose each other's keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace agmisc {

inline constexpr const char16_t* kAgentIniFileName = u"agadv.ini";
inline constexpr const char16_t* kAvConfigSection = u"AV_CONFIG_FLAGS";
inline constexpr const char16_t* kAdvancedSection = u"ADMIN_CONSOLE_CLIENT_AGENT_ADV_SECTION";
inline constexpr const char16_t* kUpgradeCmdSection = u"UPGRADE_CMD_INFO";

// One setting: where it lives and what a missing key reads as.
struct IniSetting {
  const char16_t* section;
  const char16_t* key;
  int32_t default_value;
};

inline constexpr IniSetting kUpgradeType{kAdvancedSection, u"minorupgrade", 0};
inline constexpr IniSetting kAutoUpgradeConsent{kAdvancedSection, u"autoupgradeconsent", 0};
inline constexpr IniSetting kReducedHbMaxCount{kAdvancedSection, u"reducedhbmaxcount", 3};
inline constexpr IniSetting kReducedHbMinutes{kAdvancedSection, u"reducedhbvalue", 5};
inline constexpr IniSetting kAssetTagChanged{kAdvancedSection, u"assettagchanged", 0};
inline constexpr IniSetting kAvUpgradeStatus{kAvConfigSection, u"avupgradestatus", 0};
inline constexpr IniSetting kPtpStatus{kAvConfigSection, u"ptpstatus", 0};
inline constexpr IniSetting kWebServerInstalled{kAvConfigSection, u"webserverinstalled", 0};
inline constexpr IniSetting kAvDownloadUrlSource{kAvConfigSection, u"avdownloadurlsrc", 0};
inline constexpr const char16_t* kAssetTagKey = u"assettag";          // in kAdvancedSection
inline constexpr const char16_t* kProductIdKey = u"productid";        // in kAdvancedSection
inline constexpr const char* kDefaultProductId = "AGCLIENTAGENT";
inline constexpr const char16_t* kUpgradeDataKey = u"data";           // in the caller's section

// Full UTF-16 path of agadv.ini; nullopt (logged) without a config folder.
[[nodiscard]] std::optional<std::u16string> AgentIniPath();

[[nodiscard]] std::optional<uint32_t> ReadIniNumber(const IniSetting& setting);
[[nodiscard]] bool WriteIniNumber(const IniSetting& setting, uint32_t value);
// UTF-8 text of a key; `default_value` when missing.
[[nodiscard]] std::optional<std::string> ReadIniText(const char16_t* section, const char16_t* key,
                                                     const std::string& default_value);
// Binary blocks of exactly `size` bytes; a block stored with another size or
// a damaged checksum reads as missing.
[[nodiscard]] bool ReadIniBlock(const char16_t* section, const char16_t* key, void* data, uint32_t size);
[[nodiscard]] bool WriteIniBlock(const char16_t* section, const char16_t* key, const void* data, uint32_t size);

}  // namespace agmisc
