// INI-held settings of the library's C interface (all in agadv.ini; see
// agent_ini.h for the sections and keys).
#include <agsuite/agmisc.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent_ini.h"
#include "agmisc_log.h"

using agmisc::IniSetting;

namespace {

constexpr uint32_t kAssetTagModeRead = 1;
constexpr uint32_t kAssetTagModeResetFlag = 2;

const char16_t* UpgradeCmdKey(uint32_t which) {
  if (which == 0) return u"CmdRecord0";
  if (which == 1) return u"CmdRecord1";
  return nullptr;
}

template <typename T>
uint8_t ReadNumber(const IniSetting& setting, T* value) {
  if (value == nullptr) return 0;
  const auto number = agmisc::ReadIniNumber(setting);
  if (!number) return 0;
  *value = static_cast<T>(*number);
  return 1;
}

uint8_t ReadFlag(const IniSetting& setting, uint8_t* value) {
  if (value == nullptr) return 0;
  const auto number = agmisc::ReadIniNumber(setting);
  if (!number) return 0;
  *value = *number != 0 ? 1 : 0;
  return 1;
}

// Copies `text` with its terminator; false (empty buffer) when it does not fit.
bool CopyText(const std::string& text, char* buffer, uint32_t size) {
  if (text.size() >= size) {
    AGMISC_LOG(AG_LOG_FAILURE, "A text of %zu characters does not fit %u bytes", text.size(), size);
    buffer[0] = '\0';
    return false;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

extern "C" {

// `size` selects how much of the record the caller holds; the block in the
// file is always the whole record, so a shorter write keeps the rest.
uint32_t GetClientAgentGlobalInfoFromINI(uint32_t, const char16_t* section, uint32_t size, void* record) {
  if (section == nullptr || record == nullptr || size == 0) return 0;
  if (size == AG_UPGRADE_DATA_WHOLE) size = AG_UPGRADE_DATA_SIZE;
  if (size > AG_UPGRADE_DATA_SIZE) return 0;
  std::vector<uint8_t> whole(AG_UPGRADE_DATA_SIZE);
  if (!agmisc::ReadIniBlock(section, agmisc::kUpgradeDataKey, whole.data(), AG_UPGRADE_DATA_SIZE)) return 0;
  std::memcpy(record, whole.data(), size);
  return 1;
}

uint32_t SetClientAgentGlobalInfoToINI(uint32_t, const char16_t* section, uint32_t size, const void* record) {
  if (section == nullptr || record == nullptr || size == 0) return 0;
  if (size == AG_UPGRADE_DATA_WHOLE) size = AG_UPGRADE_DATA_SIZE;
  if (size > AG_UPGRADE_DATA_SIZE) return 0;
  std::vector<uint8_t> whole(AG_UPGRADE_DATA_SIZE, 0);
  if (size < AG_UPGRADE_DATA_SIZE) {
    // No earlier record means the rest stays zero.
    static_cast<void>(
        agmisc::ReadIniBlock(section, agmisc::kUpgradeDataKey, whole.data(), AG_UPGRADE_DATA_SIZE));
  }
  std::memcpy(whole.data(), record, size);
  return agmisc::WriteIniBlock(section, agmisc::kUpgradeDataKey, whole.data(), AG_UPGRADE_DATA_SIZE) ? 1 : 0;
}

uint8_t GetUpgrdCmdInfoFromINI(uint32_t which, AgUpgradeCmdRecord* record) {
  const char16_t* key = UpgradeCmdKey(which);
  if (key == nullptr || record == nullptr) return 0;
  return agmisc::ReadIniBlock(agmisc::kUpgradeCmdSection, key, record, sizeof(*record)) ? 1 : 0;
}

uint8_t SetUpgrdCmdInfoToINI(uint32_t which, const AgUpgradeCmdRecord* record) {
  const char16_t* key = UpgradeCmdKey(which);
  if (key == nullptr || record == nullptr) return 0;
  return agmisc::WriteIniBlock(agmisc::kUpgradeCmdSection, key, record, sizeof(*record)) ? 1 : 0;
}

uint8_t GetClientUpgradeType(uint32_t* type) { return ReadNumber(agmisc::kUpgradeType, type); }
uint8_t SetClientUpgradeType(uint32_t type) { return agmisc::WriteIniNumber(agmisc::kUpgradeType, type) ? 1 : 0; }
uint8_t SetClientAutoUpgrade(uint32_t consent) {
  return agmisc::WriteIniNumber(agmisc::kAutoUpgradeConsent, consent) ? 1 : 0;
}
uint8_t GetAVUpgradeStatus(uint32_t* status) { return ReadNumber(agmisc::kAvUpgradeStatus, status); }

uint8_t GetPTPStatus(uint8_t* enabled) { return ReadFlag(agmisc::kPtpStatus, enabled); }
uint8_t GetIsWebServerInstalled(uint8_t* installed) { return ReadFlag(agmisc::kWebServerInstalled, installed); }
uint8_t GetgetURLReducedClientHBMaxCount(uint32_t* value) { return ReadNumber(agmisc::kReducedHbMaxCount, value); }
uint8_t GetgetURLReducedClientHBValue(uint32_t* value) { return ReadNumber(agmisc::kReducedHbMinutes, value); }
uint8_t GetAVDownloadUrlSrc(uint32_t* value) { return ReadNumber(agmisc::kAvDownloadUrlSource, value); }

uint8_t GetProductIDForXUA(char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const auto id = agmisc::ReadIniText(agmisc::kAdvancedSection, agmisc::kProductIdKey, agmisc::kDefaultProductId);
  if (!id || id->empty()) {
    buffer[0] = '\0';
    return 0;
  }
  return CopyText(*id, buffer, size) ? 1 : 0;
}

uint8_t GetOrSetAssetTagName(char* buffer, uint32_t size, uint8_t* flag, uint32_t mode) {
  if (mode == kAssetTagModeResetFlag) {
    if (!agmisc::WriteIniNumber(agmisc::kAssetTagChanged, 0)) return 0;
    if (flag != nullptr) *flag = 0;
    return 1;
  }
  if (mode != kAssetTagModeRead) {
    AGMISC_LOG(AG_LOG_FAILURE, "Asset tag mode %u is not known", mode);
    return 0;
  }
  if (buffer == nullptr || size == 0 || flag == nullptr) return 0;
  const auto tag = agmisc::ReadIniText(agmisc::kAdvancedSection, agmisc::kAssetTagKey, "");
  const auto changed = agmisc::ReadIniNumber(agmisc::kAssetTagChanged);
  if (!tag || !changed) {
    buffer[0] = '\0';
    return 0;
  }
  if (!CopyText(*tag, buffer, size)) return 0;
  *flag = *changed != 0 ? 1 : 0;
  return 1;
}

}  // extern "C"
