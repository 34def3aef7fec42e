#include "core/config/paths.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/common/aglog.h"
#include "core/siblings/siblings.h"
#include "platform/error.h"
#include "platform/folders.h"
#include "platform/os_version.h"
#include "platform/registry.h"
#include "platform/utf.h"

namespace {

constexpr uint32_t kMaxPathUnits = 260;
constexpr char16_t kAppPathsKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr char16_t kScannerExe[] = u"avscan.exe";
constexpr char16_t kSecureProtocolsKey[] =
    u"S-1-5-18\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char16_t kSecureProtocolsValue[] = u"SecureProtocols";
// The scanner's "Path" is read into 520 bytes, an update manager's into 260;
// a value that does not fit with its terminator is not read at all.
constexpr size_t kScannerPathUnits = 520 / sizeof(char16_t);
constexpr size_t kUpdateManagerPathUnits = 260 / sizeof(char16_t);
// Windows 10 in the version equality test.
constexpr int kOsVersionIdWindows10 = 9;

struct UpdateManagerVersion {
  int major;
  int minor;
};

char16_t FoldCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// "Path" of the App Paths entry of `exeName`; nullopt when the key or the
// value is missing or the value does not fit `maxUnits` with a terminator.
std::optional<std::u16string> ReadAppPath(std::u16string_view exeName, size_t maxUnits) {
  std::u16string keyPath(kAppPathsKey);
  keyPath += u'\\';
  keyPath += exeName;
  if (keyPath.size() >= kMaxPathUnits) return std::nullopt;
  platform::RegistryKey key;
  if (key.Open(platform::RegistryHive::kLocalMachine, keyPath, platform::RegistryAccess::kQuery) !=
      platform::kErrorSuccess) {
    return std::nullopt;
  }
  std::u16string value;
  if (key.ReadString(u"Path", &value) != platform::kErrorSuccess || value.size() >= maxUnits) return std::nullopt;
  return value;
}

std::u16string UpdateManagerExeName(UpdateManagerVersion version) {
  char name[kMaxPathUnits] = {};
  snprintf(name, sizeof(name), "agupdmgr%d%02d.exe", version.major, version.minor);
  return platform::Utf8ToUtf16(name).value_or(u"");
}

// The folder with every link and relative part resolved, keeping the
// trailing separator: what the agent calls the long form of a path.
std::optional<std::u16string> LongFormOf(const std::u16string& folder) {
  const auto utf8 = platform::Utf16ToUtf8(folder);
  if (!utf8) return std::nullopt;
  char resolved[PATH_MAX] = {};
  if (realpath(utf8->c_str(), resolved) == nullptr) return std::nullopt;
  std::string longForm(resolved);
  if (longForm.back() != '/') longForm += '/';
  auto result = platform::Utf8ToUtf16(longForm);
  if (!result || result->size() >= kMaxPathUnits) return std::nullopt;
  return result;
}

void CopyTruncated(char16_t* buffer, size_t sizeUnits, std::u16string_view text) {
  const size_t copied = text.size() < sizeUnits ? text.size() : sizeUnits - 1;
  text.copy(buffer, copied);
  buffer[copied] = u'\0';
}

}  // namespace

bool GetModuleFolder(char16_t* buffer, uint32_t sizeUnits) {
  if (buffer == nullptr || sizeUnits == 0) return false;
  const std::string folder = platform::ModuleFolder();
  if (folder.empty()) return false;
  const auto wide = platform::Utf8ToUtf16(folder);
  return wide && platform::U16Copy(buffer, sizeUnits, *wide);
}

bool CFGetVornexPath(char* buffer, uint32_t size) {
  if (buffer == nullptr) return false;
  char16_t moduleFolder[kMaxPathUnits] = {};
  if (!GetModuleFolder(moduleFolder, kMaxPathUnits)) return false;
  const std::u16string module(moduleFolder, platform::U16Length(moduleFolder, kMaxPathUnits));

  const auto scannerPath = ReadAppPath(kScannerExe, kScannerPathUnits);
  if (!scannerPath) return false;

  std::u16string result;
  if (EqualIgnoringCase(*scannerPath, module)) {
    result = module;
  } else {
    const auto longForm = LongFormOf(module);
    if (!longForm) return false;
    result = EqualIgnoringCase(*scannerPath, *longForm) ? *longForm : *scannerPath;
  }

  const auto utf8 = platform::Utf16ToUtf8(result);
  if (!utf8 || utf8->size() >= size) return false;
  utf8->copy(buffer, utf8->size());
  buffer[utf8->size()] = '\0';
  return true;
}

bool IsOldUpdateManagerPresent(bool* found, char16_t* path, uint32_t sizeUnits) {
  if (found == nullptr) return false;
  *found = false;
  // The 10.5x builds came after 10.13 but are the likelier leftovers, so they
  // are looked for first.
  static constexpr UpdateManagerVersion kOldVersions[] = {
      {10, 50}, {10, 51}, {10, 52}, {10, 3},  {10, 4},  {10, 5},  {10, 6},
      {10, 7},  {10, 8},  {10, 9},  {10, 10}, {10, 11}, {10, 12}, {10, 13},
  };
  std::optional<std::u16string> managerPath;
  for (const UpdateManagerVersion version : kOldVersions) {
    managerPath = ReadAppPath(UpdateManagerExeName(version), kUpdateManagerPathUnits);
    if (managerPath) break;
  }
  if (!managerPath) return false;
  *found = true;
  if (path != nullptr && sizeUnits >= 1 && sizeUnits <= 0x7FFFFFFFu) CopyTruncated(path, sizeUnits, *managerPath);
  return true;
}

bool IsUpdateManagerPresent(bool* found) {
  if (found == nullptr) return false;
  *found = false;
  if (!ReadAppPath(UpdateManagerExeName({10, 14}), kUpdateManagerPathUnits)) return false;
  *found = true;
  return true;
}

bool AppPathExists(const char16_t* exeName) {
  return exeName != nullptr && ReadAppPath(exeName, kUpdateManagerPathUnits).has_value();
}

bool GetClientVersion(char* buffer, uint32_t size, bool full) {
  if (buffer == nullptr) return false;
  char16_t rootFolder[kMaxPathUnits] = {};
  if (!Siblings().support->GetClientAgentRootDir(rootFolder, kMaxPathUnits)) return false;
  uint8_t parts[4] = {};
  if (!Siblings().version->GetProductVersion(rootFolder, parts)) return false;
  if (full) {
    snprintf(buffer, size, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  } else {
    snprintf(buffer, size, "%u.%u", parts[0], parts[1]);
  }
  return true;
}

bool ChkSecureProtocolKey() {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  const auto os = platform::CurrentOsVersion();
  bool isWindows10 = false;
  if (platform::IsOsVersionEqual(os ? &*os : nullptr, kOsVersionIdWindows10, &isWindows10) && !isWindows10) {
    AGLOG(AG_LOG_FAILURE, "OS not applicable to remove SecureProtocol Key.");
    return false;
  }

  platform::RegistryKey key;
  const uint32_t openError =
      key.Open(platform::RegistryHive::kUsers, kSecureProtocolsKey, platform::RegistryAccess::kAllAccess);
  if (openError != platform::kErrorSuccess) {
    AGLOG(AG_LOG_FAILURE, "RegOpenKeyEx() Failed with error(%u).", openError);
    return false;
  }
  uint32_t protocols = 0;
  const uint32_t readError = key.ReadDword(kSecureProtocolsValue, &protocols);
  if (readError != platform::kErrorSuccess) {
    AGLOG(AG_LOG_FAILURE, "RegQueryValueEx() Failed with name(SecureProtocols) and error(%u).", readError);
    return false;
  }
  // Only an explicit 0 (every protocol switched off for the system account)
  // is repaired; any other choice is the administrator's.
  if (protocols == 0) {
    const uint32_t deleteError = key.DeleteValue(kSecureProtocolsValue);
    if (deleteError == platform::kErrorSuccess) {
      AGLOG(AG_LOG_FAILURE, "Deleted SecureProtocol Key");
    } else {
      AGLOG(AG_LOG_FAILURE, "RegDeleteValue failed with error (%d)", static_cast<int>(deleteError));
    }
  }
  key.Close();
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}
