#include "core/casupp/download_locations.h"

#include <json/json.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "core/casupp/product_notifications.h"
#include "core/common/aglog.h"
#include "core/config/tenant_info.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/ini.h"
#include "platform/utf.h"

namespace {

constexpr uint32_t kRelayRegistered = 3;
constexpr size_t kPathBytes = 260;
constexpr const char16_t* kBuildInfoSection = u"agbldn_info";

// A slot as text; a slot that lost its terminator is cut at its last byte.
std::string_view Slot(const char (&slot)[kLocationSlotBytes]) {
  return std::string_view(slot, strnlen(slot, kLocationSlotBytes - 1));
}

void CopyBounded(char* out, uint32_t size, std::string_view text) {
  if (out == nullptr || size == 0) return;
  const size_t length = std::min<size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
}

bool IsEmpty(const char* buffer, uint32_t size) { return buffer == nullptr || size == 0 || buffer[0] == '\0'; }

// The unified agent's base address leads to its build folder.
std::string WithBuildPath(std::string_view base) { return std::string(base) + kUaBuildPathSuffix; }

// First choice from the installed-version record: a peer location when
// peer-to-peer is on, else the unified agent's or the server's location.
void ChooseFirstLocation(const DownloadLocationRecord& record, bool countRetry, char* first, uint32_t firstSize,
                         char* second, uint32_t secondSize) {
  uint8_t ptp = 0;
  if (Siblings().support->GetPTPStatus(&ptp) && ptp == 1) {
    if (!Slot(record.firstPeer).empty()) {
      CopyBounded(first, firstSize, Slot(record.firstPeer));
      if (countRetry && !UpdateRetryCountForAVDownload()) {
        AGLOG_AS("GetUrlsforAVDownload", AG_LOG_FAILURE, "UpdateRetryCountForAVDownload failed for %d",
                 static_cast<int>(DB_ID_AV_DOWNLOAD_RETRY_COUNT));
      }
    }
    if (!Slot(record.secondPeer).empty()) CopyBounded(second, secondSize, Slot(record.secondPeer));
  }
  if (!Slot(record.firstPeer).empty() || !Slot(record.secondPeer).empty()) return;
  if (!Slot(record.avFromUa).empty()) {
    CopyBounded(first, firstSize, WithBuildPath(Slot(record.avFromUa)));
  } else if (!Slot(record.avFromServer).empty()) {
    CopyBounded(first, firstSize, Slot(record.avFromServer));
  }
}

bool ReadLocations(uint32_t id, DownloadLocationRecord* record) {
  return GetClientBlobData(id, sizeof(*record), record);
}

// Narrow value of agbldn_info/`key` (ASCII) with default "1", logged as a
// pair; nullopt, with `failure` logged, when nothing was read.
std::optional<std::string> ReadBuildInfo(const char* key, const char* failure, const std::u16string& path) {
  const std::u16string wideKey(key, key + std::strlen(key));
  char16_t value[kPathBytes] = {};
  if (platform::GetPrivateProfileStringW(kBuildInfoSection, wideKey.c_str(), u"1", value, kPathBytes,
                                         path.c_str()) == 0) {
    AGLOG_AS("IsBuildAvailable", AG_LOG_FAILURE, "%s", failure);
    return std::nullopt;
  }
  std::string text = platform::Utf16ToUtf8(value).value_or("");
  AGLOG_AS("IsBuildAvailable", AG_LOG_PROGRESS, "GetPrivateProfileString (%s=%s)", key, text.c_str());
  return text;
}

std::string WriteCommandPayload(Json::Value data, uint32_t commandId) {
  Json::Value cmd(Json::objectValue);
  cmd["data"] = std::move(data);
  cmd["type"] = 2;
  cmd["context"] = 2;
  cmd["id"] = Json::UInt(commandId);
  Json::Value root(Json::objectValue);
  root["cmd"] = std::move(cmd);
  return Json::StyledWriter().write(root);
}

}  // namespace

bool UpdateRetryCountForAVDownload() {
  uint32_t count = 0;
  return IncrementClientCounter(DB_ID_AV_DOWNLOAD_RETRY_COUNT, &count);
}

bool GetUrlsforAVDownload(char* first, uint32_t firstSize, char* second, uint32_t secondSize, const char* third) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  CopyBounded(first, firstSize, "");
  CopyBounded(second, secondSize, "");
  DownloadLocationRecord record{};
  if (!ReadLocations(DB_ID_AV_BUILD_URLS, &record)) {
    AGLOG(AG_LOG_FAILURE, "GetClientBlobData failed for updating UA URLs.");
    record = DownloadLocationRecord{};
  }
  ChooseFirstLocation(record, true, first, firstSize, second, secondSize);

  bool result = true;
  bool roaming = false;
  if (!CheckIfRoamingIsSupported(&roaming)) {
    AGLOG(AG_LOG_FAILURE, "CheckIfRoamingIsSupported failed");
    roaming = false;
  }
  if (roaming) {
    uint32_t relayStatus = 0;
    if (!Siblings().support->GetClientRegStatus(&relayStatus, 1)) {
      result = false;
    } else if (relayStatus == kRelayRegistered) {
      AGLOG(AG_LOG_PROGRESS, "Registered to RP.");
      std::string cdnUrl;
      if (GetCDNUrlFromDat(&cdnUrl)) {
        CopyBounded(second, secondSize, cdnUrl);
      } else {
        AGLOG(AG_LOG_FAILURE, "GetCDNUrlFromDat Failed.");
        result = false;
      }
    }
  }
  if (IsEmpty(first, firstSize) && !roaming) CopyBounded(first, firstSize, Slot(record.avFromCdn));
  if (IsEmpty(second, secondSize) && !Slot(record.avFromCdn).empty()) {
    CopyBounded(second, secondSize, Slot(record.avFromCdn));
  } else if (IsEmpty(first, firstSize) && !IsEmpty(second, secondSize)) {
    CopyBounded(first, firstSize, second);
  }
  AGLOG(AG_LOG_PROGRESS, "AV Download Urls from DB: %s, %s, %s", first != nullptr ? first : "",
        second != nullptr ? second : "", third != nullptr ? third : "");
  AGLOG(AG_LOG_PROGRESS, "End");
  return result;
}

void GetAVBuildUrls(uint32_t kind, char* first, uint32_t firstSize, char* second, uint32_t secondSize) {
  DownloadLocationRecord record{};
  const uint32_t id = kind == kMinorUpgradeBuildKind ? DB_ID_MINOR_UPGRADE_BUILD_URLS : DB_ID_AV_BUILD_URLS;
  if (!ReadLocations(id, &record)) return;
  if (kind != kMinorUpgradeBuildKind) ChooseFirstLocation(record, false, first, firstSize, second, secondSize);
  if (IsEmpty(second, secondSize)) CopyBounded(second, secondSize, Slot(record.avFromCdn));
}

void GetUABuildUrls(uint32_t kind, char* first, uint32_t firstSize, char* second, uint32_t secondSize) {
  DownloadLocationRecord record{};
  const uint32_t id = kind == kMinorUpgradeBuildKind ? DB_ID_MINOR_UPGRADE_BUILD_URLS : DB_ID_UA_BUILD_URLS;
  if (!ReadLocations(id, &record)) return;
  // The unified agent's own location is used when it is known; testing that
  // slot itself never yields a bare "/update/build/".
  if (!Slot(record.uaFromUa).empty()) {
    CopyBounded(first, firstSize, WithBuildPath(Slot(record.uaFromUa)));
  } else {
    CopyBounded(first, firstSize, Slot(record.uaFromServer));
  }
  CopyBounded(second, secondSize, Slot(record.uaFromCdn));
}

uint32_t IsBuildAvailable() {
  AGLOG(AG_LOG_PROGRESS, "start.");
  char16_t folder[kPathBytes] = {};
  if (!Siblings().support->GetClientAgentConfigDir(folder, kPathBytes)) {
    AGLOG(AG_LOG_FAILURE, "GetConfigFolderPath failed.");
    return 0;
  }
  std::string path = platform::Utf16ToUtf8(std::u16string_view(folder, platform::U16Length(folder, kPathBytes)))
                         .value_or("");
  path += "buildinf.ini";
  if (path.size() >= kPathBytes) path.resize(kPathBytes - 1);
  AGLOG(AG_LOG_PROGRESS, "Ini Path (%s)", path.c_str());
  const std::u16string widePath = platform::Utf8ToUtf16(path).value_or(u"");
  if (widePath.empty() || access(path.c_str(), F_OK) != 0) {
    AGLOG(AG_LOG_FAILURE, "BUILDINF_INI not found.");
    return 0;
  }
  const auto download = ReadBuildInfo("download", "GetPrivateProfileString failed for DOWNLOAD.", widePath);
  if (!download) return 0;
  if (*download != "0") {
    AGLOG(AG_LOG_PROGRESS, "download value other than default value.");
    return 0;
  }
  const auto clean = ReadBuildInfo("clean.exe", "GetPrivateProfileString failed for CLEAN.EXE.", widePath);
  if (!clean) return 0;
  AGLOG(AG_LOG_PROGRESS, "Read clean checksum = %u", static_cast<unsigned>(std::strtoul(clean->c_str(), nullptr, 10)));
  if (!ReadBuildInfo("build.exe", "GetPrivateProfileString failed for BUILD.EXE.", widePath)) return 0;
  AGLOG(AG_LOG_PROGRESS, "end.");
  return 1;
}

bool GetCDNUrlFromDat(std::string* cdnUrl) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  ScopedTenantInfo tenant(true);
  if (!tenant) {
    AGLOG(AG_LOG_FAILURE, "getInstance() failed.");
    return false;
  }
  TenantInfoValue<char> url;
  if (!tenant->GetTenantInfoOfGivenKey("cdnURL", &url.value) || url.value == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed.");
    return false;
  }
  *cdnUrl = url.value;
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool GetServerUrlFromDat(std::string* serverUrl, std::string* port) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  ScopedTenantInfo tenant(true);
  if (!tenant) {
    AGLOG(AG_LOG_FAILURE, "getInstance() failed.");
    return false;
  }
  TenantInfoValue<char> url;
  TenantInfoValue<uint32_t> portNumber;
  if (!tenant->GetTenantInfoOfGivenKey("csUrl", &url.value) || url.value == nullptr ||
      !tenant->GetTenantInfoOfGivenKey("csPrtNo", &portNumber.value) || portNumber.value == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed.");
    return false;
  }
  *serverUrl = url.value;
  char text[40];
  std::snprintf(text, sizeof(text), "%d", static_cast<int>(*portNumber.value));
  *port = text;
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool getDefaultUaUrlForAv(std::string* payload, uint32_t commandId, const char* location) {
  Json::Value data(Json::objectValue);
  data["url1"] = location != nullptr ? location : "";
  data["url2"] = location != nullptr ? location : "";
  *payload = WriteCommandPayload(std::move(data), commandId);
  return true;
}

bool GetUABuildCommandPayload(std::string* payload, uint32_t commandId, const char* location) {
  Json::Value data(Json::objectValue);
  data["uabld"] = location != nullptr ? location : "";
  *payload = WriteCommandPayload(std::move(data), commandId);
  return true;
}
