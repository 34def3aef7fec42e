// The start-up sequence of the agent core, after the argument checks of the
// export: repair the secure-protocol setting, finish a pending self-upgrade,
// make sure of the client's identities, write the tenant's proxy settings
// once, then start the threads and register the callbacks. Runs on the
// service's thread; the threads it starts may run before it returns.
#include <agsuite/agdevid.h>
#include <agsuite/agmisc.h>
#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "core/agcore/consent_thread.h"
#include "core/agcore/core_state.h"
#include "core/agcore/lifecycle.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/casupp/upgrade.h"
#include "core/cathread/install_status_thread.h"
#include "core/common/aglog.h"
#include "core/common/xuacomm.h"
#include "core/config/paths.h"
#include "core/config/tenant_info.h"
#include "core/rpclcore/connection.h"
#include "core/rpclcore/core_notification.h"
#include "core/rpclcore/heartbeat_thread.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/policy.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/dynlib.h"
#include "platform/error.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "platform/utf.h"

#define STARTUP_LOG(level, ...) AGLOG_AS(kStartUpRoutine, level, __VA_ARGS__)

namespace {

constexpr uint32_t kIdentityBufferSize = 100;
constexpr size_t kErrorTextSize = 500;
constexpr const char* kTenantKeyIsProxySet = "isProxySet";
constexpr const char* kDeviceIdLibrary = "libagdevid.so";
// The Windows codes the loader reports for a missing module and a missing
// export; the dynamic linker's own text follows at verbose level.
constexpr unsigned long kErrorModNotFound = 126;
constexpr int kErrorProcNotFound = 127;

// The system's GUID generator: a random (version 4) GUID in its 36-character
// text form, lowercase, groups 8-4-4-4-12.
bool CreateGuidText(char* buffer, size_t size) {
  unsigned char bytes[16];
  if (size < 37 || RAND_bytes(bytes, sizeof bytes) != 1) return false;
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  size_t out = 0;
  for (size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) buffer[out++] = '-';
    buffer[out++] = kHex[bytes[i] >> 4];
    buffer[out++] = kHex[bytes[i] & 0x0F];
  }
  buffer[out] = '\0';
  return true;
}

// Step 3: the stored client GUID, or a new one stored for next time. Only a
// GUID that was never stored is generated: a store that cannot be read (say
// briefly locked) must not cost the client its identity, so start-up fails.
bool EnsureClientGuid(char* guid) {
  ISupportLibrary* support = Siblings().support;
  if (!support->GetClientGUID(guid, kIdentityBufferSize)) {
    STARTUP_LOG(AG_LOG_FAILURE, "Client GUID cannot be read from the client data store");
    return false;
  }
  if (guid[0] != '\0') return true;
  if (CreateGuidText(guid, kIdentityBufferSize)) {
    STARTUP_LOG(AG_LOG_PROGRESS, "Client GUID generated");
    (void)support->SetClientGUID(guid);
  } else {
    STARTUP_LOG(AG_LOG_FAILURE, "Client GUID generation FAILED");
  }
  return true;
}

// Step 7: the stored UDI, or one generated locally or by the unified agent.
// As with the GUID, a UDI that cannot be read is not replaced.
void EnsureClientUdi(char* udi, bool onPrem, bool xuaInstalled) {
  ISupportLibrary* support = Siblings().support;
  if (!support->GetClientUDI(udi, kIdentityBufferSize)) {
    STARTUP_LOG(AG_LOG_FAILURE, "Client UDI cannot be read from the client data store");
    return;
  }
  if (udi[0] != '\0') return;
  const bool obtained =
      (onPrem || !xuaInstalled) ? ASGenerateClientUDI(udi, kIdentityBufferSize) : GetUDIFromXUA(udi, kIdentityBufferSize);
  if (obtained) {
    STARTUP_LOG(AG_LOG_PROGRESS, "Client UDI generated");
    (void)support->SetClientUDI(udi);
  } else {
    STARTUP_LOG(AG_LOG_FAILURE, "Client UDI generation FAILED");
  }
}

// One text field of the proxy record: looked up, converted to UTF-16 and
// copied whole, or left all zero.
void FillProxyText(const CTenantInfo& tenant, const char* key, char16_t* field, size_t units,
                   const char* lookupFailure, const char* conversionFailure) {
  char* value = nullptr;
  if (!tenant.GetTenantInfoOfGivenKey(key, &value) || value == nullptr) {
    std::free(value);
    STARTUP_LOG(AG_LOG_FAILURE, "%s", lookupFailure);
    return;
  }
  const auto wide = platform::Utf8ToUtf16(value);
  OPENSSL_cleanse(value, std::strlen(value));  // may be the proxy password
  std::free(value);
  if (!wide || !platform::U16Copy(field, units, *wide)) {
    std::memset(field, 0, units * sizeof(char16_t));
    STARTUP_LOG(AG_LOG_FAILURE, "%s", conversionFailure);
  }
}

// Step 8: the tenant's proxy settings go to the support library once per
// installation; the store flag records that it was done.
void WriteProxySettingsOnce() {
  uint8_t written = 0;
  if (GetClientBlobData(DB_ID_CLIENT_PROXY_SETT_WRITTEN, sizeof written, &written) && written != 0) return;

  STARTUP_LOG(AG_LOG_PROGRESS, "Writting proxy settings");
  CTenantInfo* tenant = CTenantInfo::getInstance(true);
  if (tenant == nullptr) {
    STARTUP_LOG(AG_LOG_FAILURE, "getinstance failed");
    return;
  }

  // Aligned so that its UTF-16 fields, at even offsets, can be written
  // through char16_t pointers.
  alignas(8) AgProxySettings record;
  std::memset(&record, 0, sizeof record);
  bool* enabled = nullptr;
  if (tenant->GetTenantInfoOfGivenKey(kTenantKeyIsProxySet, &enabled) && enabled != nullptr) {
    record.bProxyEnabled = *enabled ? 1 : 0;
  } else {
    STARTUP_LOG(AG_LOG_PROGRESS, "Did not find proxy setting configured");
  }
  std::free(enabled);
  FillProxyText(*tenant, TENANT_INFO_PROXY_SERVER, record.szProxyServer, std::size(record.szProxyServer),
                "GetTenantInfoOfGivenKey failed for TENANT_INFO_PROXY_SERVER", "Failed to convert proxy server name");
  uint32_t* port = nullptr;
  if (tenant->GetTenantInfoOfGivenKey(TENANT_INFO_PROXY_PORT, &port) && port != nullptr) {
    record.dwProxyPort = *port;
  } else {
    STARTUP_LOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey failed for TENANT_INFO_PROXY_PORT");
  }
  std::free(port);
  FillProxyText(*tenant, TENANT_INFO_PROXY_USER, record.szProxyUser, std::size(record.szProxyUser),
                "GetTenantInfoOfGivenKey failed for TENANT_INFO_PROXY_USER", "Failed to convert proxy user name");
  FillProxyText(*tenant, TENANT_INFO_PROXY_PASS, record.szProxyPassword, std::size(record.szProxyPassword),
                "GetTenantInfoOfGivenKey failed for TENANT_INFO_PROXY_PASS", "Failed to convert proxy pwd");

  if (Siblings().support->WriteProxySettings(&record)) {
    written = 1;
    if (!SetClientBlobData(DB_ID_CLIENT_PROXY_SETT_WRITTEN, sizeof written, &written)) {
      STARTUP_LOG(AG_LOG_FAILURE, "SetClientBlobData failed for DB_ID_CLIENT_PROXY_SETT_WRITTEN");
    }
  } else {
    STARTUP_LOG(AG_LOG_FAILURE, "WriteProxySettings failed");
  }
  OPENSSL_cleanse(&record, sizeof record);
  CTenantInfo::release(tenant);
}

// A second start-up in the same process must find the state a freshly loaded
// library has: no threads registered for passive notifications, the last
// connection state 0, the first status item skipped again, the first policy
// check treating every feature as modified again.
void ResetLoadTimeState() {
  RpResetPassiveNotificationRegistry();
  ResetLastConnectionState();
  ResetFirstStatusSkipFlag();
  ResetFirstPolicyCheckFlag();
}

// Folder of the file this code was loaded from (libagcore.so, or the test
// program that links the core's objects), with a trailing '/'.
std::string CoreLibraryFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ASGenerateClientUDI), &info) == 0 || info.dli_fname == nullptr) return {};
  std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool CallGenerateUDI(uint16_t (*generate)(char* buffer, int32_t* pLength), char* buffer, uint32_t size) {
  int32_t length = size > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(size);
  const uint16_t status = generate(buffer, &length);
  // A non-zero status that leaves the length at zero still counts as done:
  // that is how the device-id library has always been read.
  if (status != 0 && length > 0) {
    AGLOG_AS("ASGenerateClientUDI", AG_LOG_PROGRESS, "pfnProcGetUdi failed. Error: (%d).", status);
    return false;
  }
  AGLOG_AS("ASGenerateClientUDI", AG_LOG_FAILURE, "exit");
  return true;
}

bool ASGenerateClientUDI(char* buffer, uint32_t size) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  if (buffer == nullptr) {
    AGLOG(AG_LOG_FAILURE, "NULL Parameter Received");
    return false;
  }
  // Loaded once and kept for the life of the process.
  static std::mutex library_mutex;
  static platform::DynamicLibrary library;
  std::lock_guard lock(library_mutex);
  if (!library.IsLoaded()) {
    const std::string folder = CoreLibraryFolder();
    if (!folder.empty()) library = platform::DynamicLibrary::Load(folder + kDeviceIdLibrary);
    if (!library.IsLoaded()) library = platform::DynamicLibrary::Load(kDeviceIdLibrary);
  }
  if (!library.IsLoaded()) {
    AGLOG(AG_LOG_PROGRESS, "LoadLibraryEx() failed (Error = %lu)", kErrorModNotFound);
    AGLOG(AG_LOG_VERBOSE, "%s", library.Error().c_str());
    return false;
  }
  std::string error;
  auto* generate = library.Get<uint16_t(char*, int32_t*)>(kGenerateUdiExport, &error);
  if (generate == nullptr) {
    AGLOG(AG_LOG_PROGRESS, "GetProcAddress failed. Error: (%d).", kErrorProcNotFound);
    AGLOG(AG_LOG_VERBOSE, "%s", error.c_str());
    return false;
  }
  return CallGenerateUDI(generate, buffer, size);
}

bool RunClientAgentCoreStartUp(const CaCoreParam& args) {
  CoreState& state = GetCoreState();

  auto* param = static_cast<CaCoreParam*>(std::calloc(1, sizeof(CaCoreParam)));
  if (param == nullptr) {
    STARTUP_LOG(AG_LOG_FAILURE, "Unable to allocate memory for pCaCoreParam");
    STARTUP_LOG(AG_LOG_FAILURE, "Exit failed");
    return false;
  }
  state.cleanupEvent = platform::Event::Create(platform::Event::Reset::kManual, false);
  if (!state.cleanupEvent) {
    char error_text[kErrorTextSize];
    std::snprintf(error_text, sizeof error_text, "CreateEvent Failed for (ErrorNo = %u)",
                  platform::ErrorFromErrno(errno));
    STARTUP_LOG(AG_LOG_FAILURE, "%s", error_text);
    std::free(param);
    STARTUP_LOG(AG_LOG_FAILURE, "Exit failed");
    return false;
  }
  ResetLoadTimeState();

  if (!ChkSecureProtocolKey()) STARTUP_LOG(AG_LOG_FAILURE, "ChkSecureProtocolKey failed.");

  if (!HandleUpgradationScenario()) {
    STARTUP_LOG(AG_LOG_FAILURE, "HandleUpgradationScenario failed. Unable to upgrade client.");
    state.cleanupEvent.reset();
    std::free(param);
    return false;
  }

  char guid[kIdentityBufferSize] = {};
  if (!EnsureClientGuid(guid)) {
    state.cleanupEvent.reset();
    std::free(param);
    STARTUP_LOG(AG_LOG_FAILURE, "Exit failed");
    return false;
  }

  bool onPrem = false;
  (void)IsOnPrem(&onPrem);

  bool xuaInstalled = false;
  if (IsXUAInstalled()) {
    STARTUP_LOG(AG_LOG_PROGRESS, "XUA is Installed.");
    xuaInstalled = true;
  }
  if (!onPrem && xuaInstalled && !SubscribeForXUACommn()) STARTUP_LOG(AG_LOG_FAILURE, "SubscribeForXUACommn failed");

  char udi[kIdentityBufferSize] = {};
  EnsureClientUdi(udi, onPrem, xuaInstalled);

  WriteProxySettingsOnce();

  *param = args;
  param->wZero = 0;
  param->dwZero = 0;

  if (!StartRpTaskPerformerThreadPool()) STARTUP_LOG(AG_LOG_PASSED_OVER, "StartRpTaskPerformerThreadPool failed. Continue");

  // The record of an earlier start-up in this process has no reader left: its
  // installation-status thread ended in clean-up.
  std::free(state.coreParam);
  state.coreParam = param;
  state.installStatusThread = platform::Thread::Start([param] { return CaAvInstallStatusThread(param); }, "ag-inst-status");
  if (!state.installStatusThread) {
    STARTUP_LOG(AG_LOG_FAILURE, "AV Install Status Thread creation failed.");
    state.cleanupEvent.reset();
    state.coreParam = nullptr;
    std::free(param);
    return false;
  }

  IRPClient* rpClient = nullptr;
  if (!CreateRPObject(&rpClient)) {
    STARTUP_LOG(AG_LOG_FAILURE, "CreateRPObject() failed.");
    state.cleanupEvent->Set();
    AGLOG_AS("AgentServerCoreStartUp", AG_LOG_PROGRESS, "Waiting for AV install status thread to return...");
    state.installStatusThread->Join();
    state.installStatusThread.reset();
    state.cleanupEvent.reset();
    state.coreParam = nullptr;
    std::free(param);
    STARTUP_LOG(AG_LOG_FAILURE, "Exit failed");
    return false;
  }

  state.rpClient.Exchange(rpClient);
  STARTUP_LOG(AG_LOG_PROGRESS, "RP client object created");
  if (!StartClientHeartBeatThread(rpClient)) {
    STARTUP_LOG(AG_LOG_FAILURE, "StartClientHeartBeatThread() failed. Continuing...");
  }
  if (!NotifyDataChangeToAV(AIAV_ACTION_SET_CLIENT_GUID, nullptr, nullptr)) {
    STARTUP_LOG(AG_LOG_FAILURE, "NotifyDataChangeToAV failed for AIAV_ACTION_SET_CLIENT_GUID:%s", guid);
  }
  if (!NotifyDataChangeToAV(AIAV_ACTION_SET_EDR_TENANT_ID, nullptr, nullptr)) {
    STARTUP_LOG(AG_LOG_FAILURE, "NotifyDataChangeToAV failed for AIAV_ACTION_SET_EDR_TENANT_ID");
  }
  if (!Siblings().resp->HandleClientAgentCoreStartup(&NotifyClientCoreForRpTask)) {
    STARTUP_LOG(AG_LOG_FAILURE, "HandleClientAgentCoreStartup failed");
  }
  // The consent thread ends by itself once clean-up flushes the session-event
  // waits; clean-up joins it.
  state.consentThread = platform::Thread::Start([] { return LaunchConsentDlgThread(); }, "ag-consent");
  if (!RegisterUnregisterCACallBackForAVEmergency(true)) {
    STARTUP_LOG(AG_LOG_FAILURE, "RegisterCACallBackForAVEmergency failed");
  }
  STARTUP_LOG(AG_LOG_PROGRESS, "Exit");
  return true;
}
