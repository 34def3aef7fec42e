#include "agent_ini.h"

#include <mutex>
#include <vector>

#include "agent_folders.h"
#include "agmisc_log.h"
#include "platform/ini.h"
#include "platform/utf.h"

namespace agmisc {
namespace {

// Longest text value read from the file (asset tag, product id).
constexpr uint32_t kMaxTextUnits = 1024;

std::mutex& IniWriteLock() {
  static std::mutex lock;
  return lock;
}

std::string Narrow(const char16_t* text) { return platform::Utf16ToUtf8(text).value_or("?"); }

}  // namespace

std::optional<std::u16string> AgentIniPath() {
  const auto folder = AgentFolderPath(AgentFolder::kConfig);
  if (!folder) return std::nullopt;
  auto wide = platform::Utf8ToUtf16(*folder);
  if (!wide) {
    AGMISC_LOG(AG_LOG_FAILURE, "The configuration folder %s is not valid UTF-8", folder->c_str());
    return std::nullopt;
  }
  return *wide + kAgentIniFileName;
}

std::optional<uint32_t> ReadIniNumber(const IniSetting& setting) {
  const auto file = AgentIniPath();
  if (!file) return std::nullopt;
  return platform::GetPrivateProfileIntW(setting.section, setting.key, setting.default_value, file->c_str());
}

bool WriteIniNumber(const IniSetting& setting, uint32_t value) {
  const auto file = AgentIniPath();
  if (!file) return false;
  const std::u16string text = *platform::Utf8ToUtf16(std::to_string(value));
  std::lock_guard<std::mutex> guard(IniWriteLock());
  if (!platform::WritePrivateProfileStringW(setting.section, setting.key, text.c_str(), file->c_str())) {
    AGMISC_LOG(AG_LOG_FAILURE, "WritePrivateProfileStringW failed for [%s] %s", Narrow(setting.section).c_str(),
               Narrow(setting.key).c_str());
    return false;
  }
  return true;
}

std::optional<std::string> ReadIniText(const char16_t* section, const char16_t* key,
                                       const std::string& default_value) {
  const auto file = AgentIniPath();
  if (!file) return std::nullopt;
  const auto wide_default = platform::Utf8ToUtf16(default_value);
  if (!wide_default) return std::nullopt;
  std::vector<char16_t> buffer(kMaxTextUnits);
  const uint32_t units = platform::GetPrivateProfileStringW(section, key, wide_default->c_str(), buffer.data(),
                                                            kMaxTextUnits, file->c_str());
  auto text = platform::Utf16ToUtf8(std::u16string_view(buffer.data(), units));
  if (!text) AGMISC_LOG(AG_LOG_FAILURE, "[%s] %s is not valid UTF-16", Narrow(section).c_str(), Narrow(key).c_str());
  return text;
}

bool ReadIniBlock(const char16_t* section, const char16_t* key, void* data, uint32_t size) {
  const auto file = AgentIniPath();
  if (!file) return false;
  return platform::GetPrivateProfileStructW(section, key, data, size, file->c_str());
}

bool WriteIniBlock(const char16_t* section, const char16_t* key, const void* data, uint32_t size) {
  const auto file = AgentIniPath();
  if (!file) return false;
  std::lock_guard<std::mutex> guard(IniWriteLock());
  if (!platform::WritePrivateProfileStructW(section, key, data, size, file->c_str())) {
    AGMISC_LOG(AG_LOG_FAILURE, "WritePrivateProfileStructW failed for [%s] %s", Narrow(section).c_str(),
               Narrow(key).c_str());
    return false;
  }
  return true;
}

}  // namespace agmisc
