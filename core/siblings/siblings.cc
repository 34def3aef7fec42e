// Production binding of the sibling interfaces: each method forwards to the
// export of the same name in the suite's shared library.
#include "core/siblings/siblings.h"

namespace {

class ProductionSupportLibrary final : public ISupportLibrary {
 public:
  uint8_t CLOpenDatabase(CLDBHANDLE* phDb) override { return ::CLOpenDatabase(phDb); }
  uint8_t CLCloseDatabase(CLDBHANDLE hDb) override { return ::CLCloseDatabase(hDb); }
  uint8_t CLGetDataByType(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, void* buffer) override { return ::CLGetDataByType(hDb, id, type, size, buffer); }
  uint8_t CLSetDataByType(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, const void* buffer) override { return ::CLSetDataByType(hDb, id, type, size, buffer); }
  uint8_t CLDeleteDataById(CLDBHANDLE hDb, uint32_t id) override { return ::CLDeleteDataById(hDb, id); }
  uint8_t CLSetPendingCommand(CLDBHANDLE hDb, uint32_t list, uint32_t type, uint32_t size, const void* record) override { return ::CLSetPendingCommand(hDb, list, type, size, record); }
  uint8_t CLGetPendingTasksUpTo(CLDBHANDLE hDb, uint32_t dwMaxCount, CLPendingTaskList** ppList) override {
    return ::CLGetPendingTasksUpTo(hDb, dwMaxCount, ppList);
  }
  uint8_t CLFreePendingTasks(CLPendingTaskList* pList) override { return ::CLFreePendingTasks(pList); }
  uint8_t CLCompletePendingTask(CLDBHANDLE hDb, uint64_t recordId) override { return ::CLCompletePendingTask(hDb, recordId); }
  uint8_t CLReturnPendingTask(CLDBHANDLE hDb, uint64_t recordId) override { return ::CLReturnPendingTask(hDb, recordId); }
  uint8_t CLSetDataWithLeasedPending(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, const void* buffer,
                                     uint32_t list, uint32_t recordSize, const void* record,
                                     uint64_t* pRecordId) override {
    return ::CLSetDataWithLeasedPending(hDb, id, type, size, buffer, list, recordSize, record, pRecordId);
  }
  uint8_t CLUpdatePendingTask(CLDBHANDLE hDb, uint64_t recordId, uint32_t size, const void* record) override {
    return ::CLUpdatePendingTask(hDb, recordId, size, record);
  }
  uint8_t CLGetDataByEvtID(CLDBHANDLE hDb, uint32_t eventId, int32_t* pFrequency, int64_t* pLastSync) override { return ::CLGetDataByEvtID(hDb, eventId, pFrequency, pLastSync); }
  uint8_t CLAddEventLastSync(CLDBHANDLE hDb, uint32_t eventId, int32_t frequency, int64_t lastSync) override { return ::CLAddEventLastSync(hDb, eventId, frequency, lastSync); }
  uint8_t GetClientGUID(char* buffer, uint32_t size) override { return ::GetClientGUID(buffer, size); }
  uint8_t SetClientGUID(const char* guid) override { return ::SetClientGUID(guid); }
  uint8_t GetClientGUIDText(char* buffer, uint32_t size) override { return ::GetClientGUIDText(buffer, size); }
  uint8_t GetClientUDI(char* buffer, uint32_t size) override { return ::GetClientUDI(buffer, size); }
  uint8_t SetClientUDI(const char* udi) override { return ::SetClientUDI(udi); }
  uint8_t EncryptTenantId(const char* tenantId, char* buffer, uint32_t size) override { return ::EncryptTenantId(tenantId, buffer, size); }
  uint8_t GetProductIDForXUA(char* buffer, uint32_t size) override { return ::GetProductIDForXUA(buffer, size); }
  uint8_t GetClientAgentRootDir(char16_t* buffer, uint32_t sizeUnits) override { return ::GetClientAgentRootDir(buffer, sizeUnits); }
  uint8_t GetClientAgentConfigDir(char16_t* buffer, uint32_t sizeUnits) override { return ::GetClientAgentConfigDir(buffer, sizeUnits); }
  uint8_t GetClientAgentTempDir(char16_t* buffer, uint32_t sizeUnits) override { return ::GetClientAgentTempDir(buffer, sizeUnits); }
  uint8_t GetModulePathW(char16_t* buffer, uint32_t sizeUnits) override { return ::GetModulePathW(buffer, sizeUnits); }
  uint8_t WriteProxySettings(const AgProxySettings* settings) override { return ::WriteProxySettings(settings); }
  uint32_t GetClientAgentGlobalInfoFromINI(uint32_t reserved, const char16_t* section, uint32_t size, void* record) override { return ::GetClientAgentGlobalInfoFromINI(reserved, section, size, record); }
  uint32_t SetClientAgentGlobalInfoToINI(uint32_t reserved, const char16_t* section, uint32_t size, const void* record) override { return ::SetClientAgentGlobalInfoToINI(reserved, section, size, record); }
  uint8_t GetUpgrdCmdInfoFromINI(uint32_t which, AgUpgradeCmdRecord* record) override { return ::GetUpgrdCmdInfoFromINI(which, record); }
  uint8_t SetUpgrdCmdInfoToINI(uint32_t which, const AgUpgradeCmdRecord* record) override { return ::SetUpgrdCmdInfoToINI(which, record); }
  uint8_t GetClientUpgradeType(uint32_t* type) override { return ::GetClientUpgradeType(type); }
  uint8_t SetClientUpgradeType(uint32_t type) override { return ::SetClientUpgradeType(type); }
  uint8_t SetClientAutoUpgrade(uint32_t consent) override { return ::SetClientAutoUpgrade(consent); }
  uint8_t GetAVUpgradeStatus(uint32_t* status) override { return ::GetAVUpgradeStatus(status); }
  uint8_t GetClientRegStatus(uint32_t* status, uint8_t relay) override { return ::GetClientRegStatus(status, relay); }
  uint8_t SetClientRegStatus(uint32_t status, uint8_t relay) override { return ::SetClientRegStatus(status, relay); }
  uint8_t GetClientConnectionStatus(uint32_t* state) override { return ::GetClientConnectionStatus(state); }
  uint8_t SetLastConnectedTime(uint64_t secondsSince1970) override { return ::SetLastConnectedTime(secondsSince1970); }
  uint8_t GetPTPStatus(uint8_t* enabled) override { return ::GetPTPStatus(enabled); }
  uint8_t GetIsWebServerInstalled(uint8_t* installed) override { return ::GetIsWebServerInstalled(installed); }
  uint8_t GetgetURLReducedClientHBMaxCount(uint32_t* value) override { return ::GetgetURLReducedClientHBMaxCount(value); }
  uint8_t GetgetURLReducedClientHBValue(uint32_t* value) override { return ::GetgetURLReducedClientHBValue(value); }
  uint8_t GetAVDownloadUrlSrc(uint32_t* value) override { return ::GetAVDownloadUrlSrc(value); }
  uint8_t GetOrSetAssetTagName(char* buffer, uint32_t size, uint8_t* flag, uint32_t mode) override { return ::GetOrSetAssetTagName(buffer, size, flag, mode); }
};

class ProductionMessageGeneratorLibrary final : public IMessageGeneratorLibrary {
 public:
  uint8_t CreateICSPMsgGenObj(ICSPMsgGen** ppObj) override { return ::CreateICSPMsgGenObj(ppObj); }
  uint8_t DeleteICSPMsgGenObj(ICSPMsgGen* pObj) override { return ::DeleteICSPMsgGenObj(pObj); }
};

class ProductionMessageParserLibrary final : public IMessageParserLibrary {
 public:
  uint8_t CreateICSPMsgParserObj(ICSPMsgParser** ppObj) override { return ::CreateICSPMsgParserObj(ppObj); }
  uint8_t DeleteICSPMsgParserObj(ICSPMsgParser* pObj) override { return ::DeleteICSPMsgParserObj(pObj); }
};

class ProductionResponseGeneratorLibrary final : public IResponseGeneratorLibrary {
 public:
  uint8_t CreateCAResponseGenObjNew(ICAResponseGen** ppObj, PFN_NOTIFY_CLIENT_CORE callback) override { return ::CreateCAResponseGenObjNew(ppObj, callback); }
  uint8_t DeleteCAResponseGenObj(ICAResponseGen* pObj) override { return ::DeleteCAResponseGenObj(pObj); }
  uint8_t HandleClientAgentCoreStartup(PFN_NOTIFY_CLIENT_CORE callback) override { return ::HandleClientAgentCoreStartup(callback); }
  uint8_t HandleClientAgentCoreCleanup() override { return ::HandleClientAgentCoreCleanup(); }
  uint8_t StopAvMessageHandlerThread() override { return ::StopAvMessageHandlerThread(); }
};

class ProductionTransportLibrary final : public ITransportLibrary {
 public:
  uint8_t CreateCSClientObject(ICSClient** ppCsClient, uint32_t* pdwError) override { return ::CreateCSClientObject(ppCsClient, pdwError); }
  uint8_t CreateRPClientObject(ICSClient* pCsClient, IRPClient** ppRpClient, uint32_t* pdwError, uint8_t onPrem) override { return ::CreateRPClientObject(pCsClient, ppRpClient, pdwError, onPrem); }
  uint8_t FreeRPClientObject(IRPClient* pRpClient, uint32_t* pdwError) override { return ::FreeRPClientObject(pRpClient, pdwError); }
};

class ProductionPreInstallLibrary final : public IPreInstallLibrary {
 public:
  uint8_t AGPreInstInstall(const char* pszUrl1, const char* pszUrl2, uint32_t buildKind) override { return ::AGPreInstInstall(pszUrl1, pszUrl2, buildKind); }
  uint8_t AGPreInstIsAvInstalled() override { return ::AGPreInstIsAvInstalled(); }
  uint8_t AGPreInstUninstall() override { return ::AGPreInstUninstall(); }
  uint8_t AGPreInstGetAvInstallationPath(char16_t* buffer, uint32_t sizeUnits) override { return ::AGPreInstGetAvInstallationPath(buffer, sizeUnits); }
  uint8_t LaunchBuildDownloader(const char* pszUrl1, const char* pszUrl2) override { return ::LaunchBuildDownloader(pszUrl1, pszUrl2); }
  uint8_t PreInstallCleanUpCheck() override { return ::PreInstallCleanUpCheck(); }
};

class ProductionSystemLibrary final : public ISystemLibrary {
 public:
  void SystemCleanUpCall(uint32_t* pdwStatus) override { ::SystemCleanUpCall(pdwStatus); }
};

class ProductionVersionLibrary final : public IVersionLibrary {
 public:
  uint8_t GetProductVersion(const char16_t* folder, uint8_t parts[4]) override { return ::GetProductVersion(folder, parts); }
};

SiblingSet& Current() {
  static ProductionSupportLibrary support;
  static ProductionMessageGeneratorLibrary msggen;
  static ProductionMessageParserLibrary msgparse;
  static ProductionResponseGeneratorLibrary resp;
  static ProductionTransportLibrary transport;
  static ProductionPreInstallLibrary preinst;
  static ProductionSystemLibrary system;
  static ProductionVersionLibrary version;
  static SiblingSet set{&support, &msggen, &msgparse, &resp, &transport, &preinst, &system, &version};
  return set;
}

template <typename T>
void Replace(T*& slot, T* replacement) {
  if (replacement != nullptr) slot = replacement;
}

}  // namespace

const SiblingSet& Siblings() { return Current(); }

ScopedSiblings::ScopedSiblings(const SiblingSet& override_set) : previous_(Current()) {
  SiblingSet& set = Current();
  Replace(set.support, override_set.support);
  Replace(set.msggen, override_set.msggen);
  Replace(set.msgparse, override_set.msgparse);
  Replace(set.resp, override_set.resp);
  Replace(set.transport, override_set.transport);
  Replace(set.preinst, override_set.preinst);
  Replace(set.system, override_set.system);
  Replace(set.version, override_set.version);
}

ScopedSiblings::~ScopedSiblings() { Current() = previous_; }
