// The RP client object: made from a CS client object of the transport
// library, initialised with a connection record read from the tenant store.
// Callers own the slot they pass; nothing here keeps state between calls.
#include "core/rpclcore/connection.h"

#include <cstdlib>
#include <cstring>

#include "core/common/aglog.h"
#include "core/config/paths.h"
#include "core/config/tenant_info.h"
#include "core/siblings/siblings.h"

namespace {

// Used when the support library has no client GUID yet, so that the record
// always carries some identity the server can answer.
constexpr const char* kDefaultClientGuid = "5c3f0e8a9b7d4c21a6e2f1d0b8c7a943";

// Copies `text` into a fixed field, truncated to the field's width less one.
template <size_t N>
void CopyField(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  if (text == nullptr) return;
  std::memcpy(field, text, strnlen(text, N - 1));
}

// Holds one value read from the tenant store (a malloc'd copy) until the
// holder goes out of scope.
template <typename T>
struct TenantValue {
  T* value = nullptr;
  TenantValue() = default;
  TenantValue(const TenantValue&) = delete;
  TenantValue& operator=(const TenantValue&) = delete;
  ~TenantValue() { std::free(value); }
};

// Holds a reference to the tenant store for the life of a routine.
class TenantRef {
 public:
  explicit TenantRef(bool reRead) : info_(CTenantInfo::getInstance(reRead)) {}
  ~TenantRef() {
    if (info_ != nullptr) CTenantInfo::release(info_);
  }
  TenantRef(const TenantRef&) = delete;
  TenantRef& operator=(const TenantRef&) = delete;
  CTenantInfo* get() const { return info_; }

 private:
  CTenantInfo* info_;
};

bool ReadText(CTenantInfo* info, const char* key, TenantValue<char>* out) {
  return info->GetTenantInfoOfGivenKey(key, &out->value) && out->value != nullptr && out->value[0] != '\0';
}

}  // namespace

bool CreateRPObject(IRPClient** slot) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (slot == nullptr) return false;

  ICSClient* csClient = nullptr;
  uint32_t error = 0;
  if (!Siblings().transport->CreateCSClientObject(&csClient, &error) || csClient == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CreateCSClientObject failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "CS client obj ptr => (%x)",
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(csClient)));

  bool onPrem = false;
  {
    TenantRef tenant(false);
    TenantValue<bool> flag;
    if (tenant.get() != nullptr && tenant.get()->GetTenantInfoOfGivenKey("onPrem", &flag.value) &&
        flag.value != nullptr) {
      onPrem = *reinterpret_cast<const uint8_t*>(flag.value) == 1;
    }
  }

  if (!Siblings().transport->CreateRPClientObject(csClient, slot, &error, onPrem ? 1 : 0) || *slot == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CreateRPClientObject failed.");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool PopulateCSConnectionInfo(CSConnectionInfo* info) {
  if (info == nullptr) return false;
  TenantRef tenant(false);
  CTenantInfo* store = tenant.get();
  if (store == nullptr) return false;

  TenantValue<char> url, appName, clientService, rpService, policyService, notificationService, generalService;
  TenantValue<uint32_t> port;
  // Every required value must be there before the record is touched, so a
  // half-filled record never reaches the RP client object.
  if (!ReadText(store, "csUrl", &url) || !ReadText(store, "csAppNm", &appName) ||
      !ReadText(store, "csSrvCl", &clientService) ||
      !store->GetTenantInfoOfGivenKey("csPrtNo", &port.value) || port.value == nullptr || *port.value == 0 ||
      !ReadText(store, "csSrvRp", &rpService) || !ReadText(store, "csSrvPo", &policyService) ||
      !ReadText(store, "csSrvNe", &notificationService) || !ReadText(store, "csSrvGn", &generalService)) {
    return false;
  }
  TenantValue<char> relayAddress;
  TenantValue<uint32_t> relayPort;
  const bool hasRelayAddress = store->GetTenantInfoOfGivenKey("rpIP", &relayAddress.value) && relayAddress.value;
  const bool hasRelayPort = store->GetTenantInfoOfGivenKey("rpPrtNo", &relayPort.value) && relayPort.value;

  CopyField(info->szServerUrl, url.value);
  CopyField(info->szServerAppName, appName.value);
  CopyField(info->szClientService, clientService.value);
  CopyField(info->szRpService, rpService.value);
  CopyField(info->szNotificationService, notificationService.value);
  CopyField(info->szPolicyService, policyService.value);
  CopyField(info->szGeneralService, generalService.value);
  info->wServerPort = static_cast<uint16_t>(*port.value & 0xFFFFu);
  CopyField(info->szRelayAddress, nullptr);
  info->wRelayPort = 0;
  if (hasRelayAddress && hasRelayPort && *relayPort.value != 0) {
    CopyField(info->szRelayAddress, relayAddress.value);
    info->wRelayPort = static_cast<uint16_t>(*relayPort.value & 0xFFFFu);
  }
  return true;
}

bool InitCSConnectionObject(CSConnectionInfo* info) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (info == nullptr) return false;
  TenantRef tenant(false);
  CTenantInfo* store = tenant.get();
  if (store == nullptr) {
    AGLOG(AG_LOG_FAILURE, "getInstance() failed.");
    return false;
  }

  TenantValue<char> tenantId;
  if (!store->GetTenantInfoOfGivenKey("tenantId", &tenantId.value) || tenantId.value == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed.");
    return false;
  }
  CopyField(info->szTenantId, tenantId.value);

  char version[20] = {};
  if (!GetClientVersion(version, sizeof(version), true)) {
    AGLOG(AG_LOG_FAILURE, "GetClientVersion() failed.");
    return false;
  }
  CopyField(info->szClientVersion, version);
  AGLOG(AG_LOG_PROGRESS, "Client Version: %s", info->szClientVersion);

  TenantValue<char> locale;
  if (!store->GetTenantInfoOfGivenKey("locale", &locale.value) || locale.value == nullptr) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey failed for TENANT_INFO_CLIENT_LOCALE");
    return false;
  }
  CopyField(info->szLocale, locale.value);
  AGLOG(AG_LOG_PROGRESS, "Client locale : %s", info->szLocale);

  char guid[100] = {};
  if (!Siblings().support->GetClientGUID(guid, sizeof(guid)) || guid[0] == '\0') {
    AGLOG(AG_LOG_PASSED_OVER, "GetClientGUID() failed. Continuing...");
    CopyField(info->szClientGuid, kDefaultClientGuid);
  } else {
    guid[sizeof(guid) - 1] = '\0';
    CopyField(info->szClientGuid, guid);
  }

  if (!PopulateCSConnectionInfo(info)) {
    AGLOG(AG_LOG_FAILURE, "PopulateCSConnectionInfo failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool CreateAndInitializeRpObject(IRPClient** slot, bool alreadyCreated) {
  CSConnectionInfo info;
  std::memset(&info, 0, sizeof(info));
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (slot == nullptr) return false;
  if (!alreadyCreated && !CreateRPObject(slot)) {
    AGLOG(AG_LOG_FAILURE, "CreateRPObject failed");
    return false;
  }
  if (!InitCSConnectionObject(&info)) {
    AGLOG(AG_LOG_FAILURE, "InitCSConnectionObject failed");
    return false;
  }
  if (*slot == nullptr || !(*slot)->InitCSClient(&info)) {
    AGLOG(AG_LOG_FAILURE, "InitCSClient failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool ReInitialiseCommunicationObjects(IRPClient** slot) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  {
    TenantRef tenant(false);
    if (tenant.get() == nullptr) {
      AGLOG(AG_LOG_FAILURE, "CTenantInfo::getInstance() failed");
      return false;
    }
    if (!tenant.get()->PopulateTenantInfo(nullptr)) {
      AGLOG(AG_LOG_FAILURE, "pTenantInfo->PopulateTenantInfo() failed");
      return false;
    }
  }
  if (slot == nullptr) return false;
  if (*slot != nullptr) {
    DeInitAndDestroyRpObject(*slot);
    *slot = nullptr;
  }
  if (!CreateAndInitializeRpObject(slot, false)) {
    AGLOG(AG_LOG_FAILURE, "CreateAndInitializeRpObject() failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "Rp initialization done.");
  AGLOG(AG_LOG_PROGRESS, "end");
  return true;
}

bool DeInitAndDestroyRpObject(IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (rpClient == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return false;
  }
  if (!rpClient->DeInitializeRPClient()) {
    AGLOG(AG_LOG_FAILURE, "DeInitializeRPClient() failed.");
  }
  uint32_t error = 0;
  if (!Siblings().transport->FreeRPClientObject(rpClient, &error)) {
    AGLOG(AG_LOG_FAILURE, "FreeRPClientObject() failed.");
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}
