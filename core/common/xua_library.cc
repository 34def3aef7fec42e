#include "core/common/xua_library.h"

#include <agsuite/uaint.h>

#include <openssl/crypto.h>

#include <string>

#include "core/common/aglog.h"
#include "core/common/ua_passphrase.h"
#include "core/common/xua_guard.h"
#include "core/siblings/siblings.h"
#include "platform/error.h"
#include "platform/utf.h"

namespace {

constexpr size_t kMaxPathChars = 260;
constexpr uint32_t kProductIdSize = 260;
constexpr char16_t kAppPathsKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr char16_t kUnifiedAgentExe[] = u"UAAGENT.EXE";
constexpr char16_t kPathValue[] = u"Path";

struct UaintState {
  std::recursive_mutex mutex;
  platform::DynamicLibrary library;  // guarded by mutex
  bool subscribed = false;           // guarded by mutex
};

UaintState& State() {
  static UaintState state;
  return state;
}

// The App Paths key of the unified agent; empty when it would not fit the
// 260-character buffer the agent formats it into.
std::u16string UnifiedAgentKey() {
  std::u16string key = std::u16string(kAppPathsKey) + kUnifiedAgentExe;
  return key.size() < kMaxPathChars ? key : std::u16string();
}

std::string Narrow(std::u16string_view text) { return platform::Utf16ToUtf8(text).value_or(std::string()); }

}  // namespace

std::unique_lock<std::recursive_mutex> LockUaintLibrary() { return std::unique_lock(State().mutex); }

void* ResolveUaintExport(const char* name, uint32_t* error) {
  void* address = State().library.Symbol(name);
  *error = address != nullptr ? platform::kErrorSuccess : platform::kErrorProcNotFound;
  return address;
}

bool IsXUAInstalled() try {
  const std::u16string key = UnifiedAgentKey();
  if (key.empty()) {
    AGLOG(AG_LOG_FAILURE, "StringCchPrintf failed Error code:(%X).", platform::kErrorInsufficientBuffer);
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "Calling IsRegistryKeyValuePresent() for key path(%s)).", Narrow(key).c_str());
  if (!IsRegKeyValuePresent(platform::RegistryHive::kLocalMachine, key.c_str())) {
    AGLOG(AG_LOG_FAILURE, "IsRegKeyValuePresent Failed");
    return false;
  }
  return true;
}
XUA_CATCH_AND_LOG(false)

bool IsRegKeyValuePresent(platform::RegistryHive root, const char16_t* keyPath) try {
  if (keyPath == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input");
    return false;
  }
  const size_t length = platform::U16Length(keyPath, kMaxPathChars);
  if (length >= kMaxPathChars) {
    AGLOG(AG_LOG_FAILURE, "StringCchCopyW() FAILED for wszKeyName with pcwszRegKeyPath.");
    return false;
  }
  platform::RegistryKey key;
  if (const uint32_t code = key.Open(root, std::u16string_view(keyPath, length), platform::RegistryAccess::kQuery);
      code != platform::kErrorSuccess) {
    AGLOG(AG_LOG_FAILURE, "RegQueryValueEx failed Error code:(%ld).", static_cast<long>(code));
    return false;
  }
  key.Close();
  return true;
}
XUA_CATCH_AND_LOG(false)

bool GetQuoltAgentPath(char* buffer, uint32_t size) try {
  if (buffer == nullptr || size == 0) {
    AGLOG(AG_LOG_FAILURE, "Invalid input");
    return false;
  }
  const std::u16string keyPath = UnifiedAgentKey();
  if (keyPath.empty()) {
    AGLOG(AG_LOG_FAILURE, "StringCchPrintf failed for App Path\tError code:(%X).", platform::kErrorInsufficientBuffer);
    return false;
  }
  platform::RegistryKey key;
  if (const uint32_t code = key.Open(platform::RegistryHive::kLocalMachine, keyPath, platform::RegistryAccess::kQuery);
      code != platform::kErrorSuccess) {
    AGLOG(AG_LOG_FAILURE, "RegOpenKeyEx failed\tError code:(%ld).", static_cast<long>(code));
    return false;
  }
  std::u16string folder;
  uint32_t code = key.ReadString(kPathValue, &folder);
  const std::string text = Narrow(folder);
  // The value is read into the caller's buffer as it is: one that does not
  // fit with its NUL is refused, never cut.
  if (code == platform::kErrorSuccess && text.size() >= size) code = platform::kErrorMoreData;
  if (code != platform::kErrorSuccess) {
    AGLOG(AG_LOG_FAILURE, "RegQueryValueEx failed\tError code:(%ld).", static_cast<long>(code));
    key.Close();
    return false;
  }
  key.Close();
  text.copy(buffer, text.size());
  buffer[text.size()] = '\0';
  AGLOG(AG_LOG_VERBOSE, "QuoltAgent path: (%s).", buffer);
  return true;
}
XUA_CATCH_AND_LOG(false)

platform::DynamicLibrary LoadDllFromQuoltAgentDir(const char* dllName) try {
  if (dllName == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input");
    return {};
  }
  char folder[kMaxPathChars] = {};
  if (!GetQuoltAgentPath(folder, sizeof folder)) {
    AGLOG(AG_LOG_FAILURE, "GetQuoltAgentPath failed.");
    return {};
  }
  const std::string path = std::string(folder) + dllName;
  if (path.size() >= kMaxPathChars) {
    AGLOG(AG_LOG_FAILURE, "StringCchCat failed Error code:(%X).", platform::kErrorInsufficientBuffer);
    return {};
  }
  AGLOG(AG_LOG_VERBOSE, "DLL Path: (%s).", path.c_str());
  platform::DynamicLibrary library = platform::DynamicLibrary::Load(path);
  if (!library.IsLoaded()) {
    AGLOG(AG_LOG_FAILURE, "LoadLibraryEx Failed with error (%lu).", static_cast<unsigned long>(platform::kErrorModNotFound));
    AGLOG(AG_LOG_VERBOSE, "%s", library.Error().c_str());
  }
  return library;
}
XUA_CATCH_AND_LOG({})

bool SubscribeForXUACommn() try {
  AGLOG(AG_LOG_PROGRESS, "Start");
  const auto lock = LockUaintLibrary();
  UaintState& state = State();
  char productId[kProductIdSize] = {};
  if (!Siblings().support->GetProductIDForXUA(productId, kProductIdSize)) {
    AGLOG(AG_LOG_FAILURE, "GetProductIDForXUA Failed");
    return false;
  }
  char passphrase[UA_PASSPHRASE_BUFFER_SIZE] = {};
  if (GenerateUAPassphrase(passphrase, UA_PASSPHRASE_BUFFER_SIZE) != UA_PASSPHRASE_SUCCESS) {
    AGLOG(AG_LOG_FAILURE, "GenerateUAPassphrase Failed");
    return false;
  }
  if (!state.library.IsLoaded()) {
    state.library = LoadDllFromQuoltAgentDir(kUaintLibraryName);
    if (!state.library.IsLoaded()) {
      AGLOG(AG_LOG_FAILURE, "LoadDllFromQuoltAgentDir Failed");
      return false;
    }
  }
  uint32_t error = 0;
  auto subscribe = reinterpret_cast<PFN_UA_SUBSCRIBE_V2>(ResolveUaintExport(kUaSubscribeV2Export, &error));
  if (subscribe == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetProcAddress Failed for SubscribeV2 Error code:(%ld)", static_cast<long>(error));
    UnloadUaintLibrary();
    return false;
  }
  const int32_t status = subscribe(kUaClientTypeAgent, passphrase, productId);
  OPENSSL_cleanse(passphrase, sizeof passphrase);
  if (status != 0) {
    AGLOG(AG_LOG_FAILURE, "pfnSubscribeV2 Failed");
    UnloadUaintLibrary();
    return false;
  }
  state.subscribed = true;
  auto registerCallback = reinterpret_cast<PFN_UA_REGISTER_NOTIFICATION_CALLBACK>(
      ResolveUaintExport(kUaRegisterNotificationCallbackExport, &error));
  if (registerCallback == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetProcAddress Failed for RegisterNotificationCallback Error code:(%ld)",
          static_cast<long>(error));
    UnsubcribeCommnWithXUA();
    return false;
  }
  registerCallback(&CallbackForNotification);
  AGLOG(AG_LOG_PROGRESS, "Subscribed for communication with XUA Successfully.");
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}
XUA_CATCH_AND_LOG(false)

bool UnsubcribeCommnWithXUA() try {
  AGLOG(AG_LOG_PROGRESS, "Start");
  const auto lock = LockUaintLibrary();
  UaintState& state = State();
  if (!state.library.IsLoaded()) {
    AGLOG(AG_LOG_PROGRESS, "Already QAC client un-subcribed with XUA");
    return true;
  }
  uint32_t error = 0;
  auto unsubscribe = reinterpret_cast<PFN_UA_UNSUBSCRIBE>(ResolveUaintExport(kUaUnSubscribeExport, &error));
  if (unsubscribe == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetProcAddress Failed for UnSubscribe Error code:(%d)", static_cast<int>(error));
    UnloadUaintLibrary();
    return false;
  }
  if (state.subscribed) {
    if (unsubscribe(kUaClientTypeAgent) != 0) {
      AGLOG(AG_LOG_FAILURE, "pfnUnSubscribe Failed");
      UnloadUaintLibrary();
      return false;
    }
    state.subscribed = false;
  }
  UnloadUaintLibrary();
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}
XUA_CATCH_AND_LOG(false)

void UnloadUaintLibrary() try {
  AGLOG(AG_LOG_PROGRESS, "Start");
  const auto lock = LockUaintLibrary();
  UaintState& state = State();
  if (state.library.IsLoaded()) {
    state.library.Unload();
    state.subscribed = false;
    AGLOG(AG_LOG_PROGRESS, "End");
  }
}
XUA_CATCH_AND_LOG()

void CallbackForNotification(const char* /*json*/) try {
  AGLOG(AG_LOG_PROGRESS, "Start");
  AGLOG(AG_LOG_PROGRESS, "End");
}
XUA_CATCH_AND_LOG()

bool ConnectToXUA(const char* routine) {
  const UaintState& state = State();
  if (state.subscribed && state.library.IsLoaded()) return true;
  if (!SubscribeForXUACommn()) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "SubscribeForXUACommn failed");
    return false;
  }
  return true;
}
