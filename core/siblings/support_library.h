// How the core reaches the support library (libagmisc). One method per call
// the core makes; production forwards to the library's exports, tests install
// a fake or a mock (see siblings.h).
#pragma once

#include <agsuite/agmisc.h>

class ISupportLibrary {
 public:
  virtual ~ISupportLibrary() = default;
  virtual uint8_t CLOpenDatabase(CLDBHANDLE* phDb) = 0;
  virtual uint8_t CLCloseDatabase(CLDBHANDLE hDb) = 0;
  virtual uint8_t CLGetDataByType(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, void* buffer) = 0;
  virtual uint8_t CLSetDataByType(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, const void* buffer) = 0;
  virtual uint8_t CLDeleteDataById(CLDBHANDLE hDb, uint32_t id) = 0;
  virtual uint8_t CLSetPendingCommand(CLDBHANDLE hDb, uint32_t list, uint32_t type, uint32_t size, const void* record) = 0;
  virtual uint8_t CLGetPendingTasksUpTo(CLDBHANDLE hDb, uint32_t dwMaxCount, CLPendingTaskList** ppList) = 0;
  virtual uint8_t CLFreePendingTasks(CLPendingTaskList* pList) = 0;
  virtual uint8_t CLCompletePendingTask(CLDBHANDLE hDb, uint64_t recordId) = 0;
  virtual uint8_t CLReturnPendingTask(CLDBHANDLE hDb, uint64_t recordId) = 0;
  virtual uint8_t CLSetDataWithLeasedPending(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size,
                                             const void* buffer, uint32_t list, uint32_t recordSize,
                                             const void* record, uint64_t* pRecordId) = 0;
  virtual uint8_t CLUpdatePendingTask(CLDBHANDLE hDb, uint64_t recordId, uint32_t size, const void* record) = 0;
  virtual uint8_t CLGetDataByEvtID(CLDBHANDLE hDb, uint32_t eventId, int32_t* pFrequency, int64_t* pLastSync) = 0;
  virtual uint8_t CLAddEventLastSync(CLDBHANDLE hDb, uint32_t eventId, int32_t frequency, int64_t lastSync) = 0;

  virtual uint8_t GetClientGUID(char* buffer, uint32_t size) = 0;
  virtual uint8_t SetClientGUID(const char* guid) = 0;
  virtual uint8_t GetClientGUIDText(char* buffer, uint32_t size) = 0;
  virtual uint8_t GetClientUDI(char* buffer, uint32_t size) = 0;
  virtual uint8_t SetClientUDI(const char* udi) = 0;
  virtual uint8_t EncryptTenantId(const char* tenantId, char* buffer, uint32_t size) = 0;
  virtual uint8_t GetProductIDForXUA(char* buffer, uint32_t size) = 0;

  virtual uint8_t GetClientAgentRootDir(char16_t* buffer, uint32_t sizeUnits) = 0;
  virtual uint8_t GetClientAgentConfigDir(char16_t* buffer, uint32_t sizeUnits) = 0;
  virtual uint8_t GetClientAgentTempDir(char16_t* buffer, uint32_t sizeUnits) = 0;
  virtual uint8_t GetModulePathW(char16_t* buffer, uint32_t sizeUnits) = 0;

  virtual uint8_t WriteProxySettings(const AgProxySettings* settings) = 0;

  virtual uint32_t GetClientAgentGlobalInfoFromINI(uint32_t reserved, const char16_t* section, uint32_t size, void* record) = 0;
  virtual uint32_t SetClientAgentGlobalInfoToINI(uint32_t reserved, const char16_t* section, uint32_t size, const void* record) = 0;
  virtual uint8_t GetUpgrdCmdInfoFromINI(uint32_t which, AgUpgradeCmdRecord* record) = 0;
  virtual uint8_t SetUpgrdCmdInfoToINI(uint32_t which, const AgUpgradeCmdRecord* record) = 0;
  virtual uint8_t GetClientUpgradeType(uint32_t* type) = 0;
  virtual uint8_t SetClientUpgradeType(uint32_t type) = 0;
  virtual uint8_t SetClientAutoUpgrade(uint32_t consent) = 0;
  virtual uint8_t GetAVUpgradeStatus(uint32_t* status) = 0;

  virtual uint8_t GetClientRegStatus(uint32_t* status, uint8_t relay) = 0;
  virtual uint8_t SetClientRegStatus(uint32_t status, uint8_t relay) = 0;
  virtual uint8_t GetClientConnectionStatus(uint32_t* state) = 0;
  virtual uint8_t SetLastConnectedTime(uint64_t secondsSince1970) = 0;

  virtual uint8_t GetPTPStatus(uint8_t* enabled) = 0;
  virtual uint8_t GetIsWebServerInstalled(uint8_t* installed) = 0;
  virtual uint8_t GetgetURLReducedClientHBMaxCount(uint32_t* value) = 0;
  virtual uint8_t GetgetURLReducedClientHBValue(uint32_t* value) = 0;
  virtual uint8_t GetAVDownloadUrlSrc(uint32_t* value) = 0;
  virtual uint8_t GetOrSetAssetTagName(char* buffer, uint32_t size, uint8_t* flag, uint32_t mode) = 0;
};
