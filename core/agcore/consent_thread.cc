// The consent thread and the heartbeat's consent check. When a major upgrade
// was offered with the user's consent, the build downloader is started with
// the two build URLs of the upgrade data, once a user is logged on.
#include "core/agcore/consent_thread.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/common/aglog.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/named_event.h"
#include "platform/os_version.h"
#include "platform/process.h"
#include "platform/session_events.h"
#include "platform/utf.h"

namespace {

constexpr size_t kUpgradeTypeOffset = 100;
constexpr size_t kConsentOffset = 104;
constexpr size_t kFirstUrlOffset = 5316;
constexpr size_t kSecondUrlOffset = 5836;
constexpr size_t kUrlUnits = 260;
constexpr uint32_t kMajorUpgrade = 2;
constexpr const char* kDownloaderEventName = "agbldn_1.0";

struct AgentVersion {
  int major;
  int minor;
};
// Versions of the downloader that announce themselves with a versioned event.
constexpr std::array<AgentVersion, 38> kAgentVersions = {{
    {3, 50}, {4, 0},  {4, 1},  {4, 2},  {4, 5},  {4, 6},  {5, 0},  {5, 1},  {5, 2},  {5, 3},
    {6, 0},  {6, 1},  {6, 2},  {6, 3},  {6, 4},  {7, 0},  {7, 1},  {7, 2},  {7, 3},  {7, 4},
    {7, 5},  {7, 6},  {7, 60}, {10, 0}, {10, 1}, {10, 2}, {10, 3}, {10, 4}, {10, 5}, {10, 6},
    {10, 7}, {10, 8}, {10, 9}, {10, 10}, {10, 11}, {10, 12}, {10, 13}, {10, 14},
}};

// The upgrade-data record, zeroed before each read.
class UpgradeData {
 public:
  UpgradeData() : bytes_(AG_UPGRADE_DATA_SIZE, 0) {}
  uint32_t Read() {
    std::fill(bytes_.begin(), bytes_.end(), 0);
    return Siblings().support->GetClientAgentGlobalInfoFromINI(0, u"DATA_FOR_UPGRADE", AG_UPGRADE_DATA_WHOLE,
                                                               bytes_.data());
  }
  uint32_t U32(size_t offset) const {
    uint32_t value = 0;
    std::memcpy(&value, bytes_.data() + offset, sizeof(value));
    return value;
  }
  // The URL narrowed unit by unit to its low byte, as the launcher takes it.
  std::string NarrowUrl(size_t offset) const {
    std::string url;
    for (size_t i = 0; i < kUrlUnits; ++i) {
      char16_t unit = 0;
      std::memcpy(&unit, bytes_.data() + offset + 2 * i, sizeof(unit));
      if (unit == 0) break;
      url.push_back(static_cast<char>(unit & 0xFF));
    }
    return url;
  }

 private:
  std::vector<uint8_t> bytes_;
};

bool OpenDownloaderEvent(const std::string& name) {
  uint32_t error = 0;
  if (platform::NamedEvent::OpenExisting(name, &error)) return true;
  // Another user's object of that name is an impostor, not a running launcher.
  if (error == platform::kErrorInvalidOwner) {
    AGLOG(AG_LOG_FAILURE, "Event %s belongs to another user: ignored", name.c_str());
  }
  return false;
}

bool AgbldnAlreadyRunning(const char* name) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (name == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid Parameters.");
    return false;
  }
  const std::optional<platform::OsVersionRecord> os = platform::CurrentOsVersion();
  const platform::OsVersionRecord* record = os ? &*os : nullptr;
  const bool global = platform::IsNtPlatform(record) && platform::GetNtGeneration(record) != platform::NtGeneration::kNt4;
  const std::string eventName = global ? std::string("Global\\") + name : std::string(name);
  if (OpenDownloaderEvent(eventName)) {
    AGLOG(AG_LOG_FAILURE, "Openevent Succeded with error code %d.", 0);
    return true;
  }
  for (const AgentVersion& version : kAgentVersions) {
    char versioned[300];
    std::snprintf(versioned, sizeof(versioned), "%s %d.%d", eventName.c_str(), version.major, version.minor);
    if (OpenDownloaderEvent(versioned)) {
      AGLOG(AG_LOG_FAILURE, "Openevent2 succeded with code %d.", 0);
      return true;
    }
  }
  AGLOG(AG_LOG_FAILURE, "Openevent2 Failed with code %d.", 2);
  AGLOG(AG_LOG_PROGRESS, "End.");
  return false;
}

bool IsUserLoggedOn() {
  const std::optional<platform::OsVersionRecord> os = platform::CurrentOsVersion();
  if (platform::IsWindows2000Family(os ? &*os : nullptr)) {
    uint32_t pid = 0;
    uint32_t error = 0;
    return platform::FindProcessByName("explorer.exe", &pid, &error);
  }
  return platform::FirstActiveSession() != -1;
}

}  // namespace

uint32_t LaunchConsentDlgThread() {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  UpgradeData data;
  for (;;) {
    uint32_t flags = 0;
    if (platform::WaitForSessionEvent(platform::kSessionEventLogon | platform::kSessionEventConnect, &flags)) {
      AGLOG(AG_LOG_PROGRESS, "User event Detected Event Type: %d(20 logon,8 Connect)", static_cast<int>(flags));
      if (flags == 0) {
        AGLOG(AG_LOG_PROGRESS, "Stopping this LaunchConsentDlgThread");
        AGLOG(AG_LOG_PROGRESS, "Exit");
        return 1;
      }
      if ((flags & (platform::kSessionEventLogon | platform::kSessionEventConnect)) != 0) {
        AGLOG(AG_LOG_PROGRESS, "User Log in event Detected.");
        if (data.Read() == 1) {
          AGLOG(AG_LOG_PROGRESS, "GetClientAgentGlobalInfoFromINI Succeded on CA Startup.");
          const uint32_t consent = data.U32(kConsentOffset);
          if (data.U32(kUpgradeTypeOffset) == kMajorUpgrade && (consent == 1 || consent == 2)) {
            AGLOG(AG_LOG_PROGRESS, "CA Startup Consent check passed");
            const std::string first = data.NarrowUrl(kFirstUrlOffset);
            const std::string second = data.NarrowUrl(kSecondUrlOffset);
            if (!first.empty() || !second.empty()) {
              AGLOG(AG_LOG_PROGRESS, "Got Upgrade Url's for build download");
              AGLOG(AG_LOG_PROGRESS, "Calling agbldn.exe");
              Siblings().preinst->LaunchBuildDownloader(first.c_str(), second.c_str());
            }
          }
        }
      }
    }
    platform::GetClock().SleepMs(1000);
  }
}

uint8_t CheckAndLaunchConsentPromt() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  UpgradeData data;
  const uint32_t read = data.Read();
  if (read != 1) return static_cast<uint8_t>(read);
  AGLOG(AG_LOG_PROGRESS, "Heartbeat::GetClientAgentGlobalInfoFromINI Succeded on CA Startup.");
  if (data.U32(kUpgradeTypeOffset) != kMajorUpgrade || data.U32(kConsentOffset) != 1) return 1;
  AGLOG(AG_LOG_PROGRESS, "Heartbeat::CA Consent check passed");
  const std::string first = data.NarrowUrl(kFirstUrlOffset);
  const std::string second = data.NarrowUrl(kSecondUrlOffset);
  if (first.empty() && second.empty()) return 1;
  AGLOG(AG_LOG_PROGRESS, "Heartbeat::Got the build Url's.");
  if (AgbldnAlreadyRunning(kDownloaderEventName)) {
    AGLOG(AG_LOG_PROGRESS, "Heartbeat::agbldn.exe is running so not calling again.");
    return 1;
  }
  AGLOG(AG_LOG_PROGRESS, "Heartbeat::agbldn.exe is not running so checking for logged in user.");
  if (IsUserLoggedOn()) {
    AGLOG(AG_LOG_PROGRESS, "Heartbeat::User is logged in so calling agbldn.exe.");
    Siblings().preinst->LaunchBuildDownloader(first.c_str(), second.c_str());
  } else {
    AGLOG(AG_LOG_PROGRESS, "Heartbeat::User is not logged in so not calling agbldn.exe.");
  }
  return 1;
}
