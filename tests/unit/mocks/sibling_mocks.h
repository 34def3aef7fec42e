// GoogleMock classes for every sibling-library interface the core reaches
// through Siblings(), and for the objects those libraries hand out
// (message generator, parser, response generator, RP client).
//
// The library objects have protected destructors (callers give them back to
// the library that made them); the mocks add a public destructor so a test
// can own them on the stack. Install interface mocks with ScopedSiblings.
// Header-only; a mock is used by the test thread and by core threads that the
// test started and joins before the mock dies.
#pragma once

#include <agsuite/agmsg.h>
#include <gmock/gmock.h>

#include "core/siblings/siblings.h"

class MockSupportLibrary : public ISupportLibrary {
 public:
  MOCK_METHOD(uint8_t, CLOpenDatabase, (CLDBHANDLE * phDb), (override));
  MOCK_METHOD(uint8_t, CLCloseDatabase, (CLDBHANDLE hDb), (override));
  MOCK_METHOD(uint8_t, CLGetDataByType, (CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, void* buffer),
              (override));
  MOCK_METHOD(uint8_t, CLSetDataByType,
              (CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, const void* buffer), (override));
  MOCK_METHOD(uint8_t, CLDeleteDataById, (CLDBHANDLE hDb, uint32_t id), (override));
  MOCK_METHOD(uint8_t, CLSetPendingCommand,
              (CLDBHANDLE hDb, uint32_t list, uint32_t type, uint32_t size, const void* record), (override));
  MOCK_METHOD(uint8_t, CLGetPendingTasksUpTo, (CLDBHANDLE hDb, uint32_t dwMaxCount, CLPendingTaskList** ppList),
              (override));
  MOCK_METHOD(uint8_t, CLFreePendingTasks, (CLPendingTaskList * pList), (override));
  MOCK_METHOD(uint8_t, CLCompletePendingTask, (CLDBHANDLE hDb, uint64_t recordId), (override));
  MOCK_METHOD(uint8_t, CLReturnPendingTask, (CLDBHANDLE hDb, uint64_t recordId), (override));
  MOCK_METHOD(uint8_t, CLSetDataWithLeasedPending,
              (CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, const void* buffer, uint32_t list,
               uint32_t recordSize, const void* record, uint64_t* pRecordId),
              (override));
  MOCK_METHOD(uint8_t, CLUpdatePendingTask, (CLDBHANDLE hDb, uint64_t recordId, uint32_t size, const void* record),
              (override));
  MOCK_METHOD(uint8_t, CLGetDataByEvtID, (CLDBHANDLE hDb, uint32_t eventId, int32_t* pFrequency, int64_t* pLastSync),
              (override));
  MOCK_METHOD(uint8_t, CLAddEventLastSync, (CLDBHANDLE hDb, uint32_t eventId, int32_t frequency, int64_t lastSync),
              (override));

  MOCK_METHOD(uint8_t, GetClientGUID, (char* buffer, uint32_t size), (override));
  MOCK_METHOD(uint8_t, SetClientGUID, (const char* guid), (override));
  MOCK_METHOD(uint8_t, GetClientGUIDText, (char* buffer, uint32_t size), (override));
  MOCK_METHOD(uint8_t, GetClientUDI, (char* buffer, uint32_t size), (override));
  MOCK_METHOD(uint8_t, SetClientUDI, (const char* udi), (override));
  MOCK_METHOD(uint8_t, EncryptTenantId, (const char* tenantId, char* buffer, uint32_t size), (override));
  MOCK_METHOD(uint8_t, GetProductIDForXUA, (char* buffer, uint32_t size), (override));

  MOCK_METHOD(uint8_t, GetClientAgentRootDir, (char16_t * buffer, uint32_t sizeUnits), (override));
  MOCK_METHOD(uint8_t, GetClientAgentConfigDir, (char16_t * buffer, uint32_t sizeUnits), (override));
  MOCK_METHOD(uint8_t, GetClientAgentTempDir, (char16_t * buffer, uint32_t sizeUnits), (override));
  MOCK_METHOD(uint8_t, GetModulePathW, (char16_t * buffer, uint32_t sizeUnits), (override));

  MOCK_METHOD(uint8_t, WriteProxySettings, (const AgProxySettings* settings), (override));

  MOCK_METHOD(uint32_t, GetClientAgentGlobalInfoFromINI,
              (uint32_t reserved, const char16_t* section, uint32_t size, void* record), (override));
  MOCK_METHOD(uint32_t, SetClientAgentGlobalInfoToINI,
              (uint32_t reserved, const char16_t* section, uint32_t size, const void* record), (override));
  MOCK_METHOD(uint8_t, GetUpgrdCmdInfoFromINI, (uint32_t which, AgUpgradeCmdRecord* record), (override));
  MOCK_METHOD(uint8_t, SetUpgrdCmdInfoToINI, (uint32_t which, const AgUpgradeCmdRecord* record), (override));
  MOCK_METHOD(uint8_t, GetClientUpgradeType, (uint32_t * type), (override));
  MOCK_METHOD(uint8_t, SetClientUpgradeType, (uint32_t type), (override));
  MOCK_METHOD(uint8_t, SetClientAutoUpgrade, (uint32_t consent), (override));
  MOCK_METHOD(uint8_t, GetAVUpgradeStatus, (uint32_t * status), (override));

  MOCK_METHOD(uint8_t, GetClientRegStatus, (uint32_t * status, uint8_t relay), (override));
  MOCK_METHOD(uint8_t, SetClientRegStatus, (uint32_t status, uint8_t relay), (override));
  MOCK_METHOD(uint8_t, GetClientConnectionStatus, (uint32_t * state), (override));
  MOCK_METHOD(uint8_t, SetLastConnectedTime, (uint64_t secondsSince1970), (override));

  MOCK_METHOD(uint8_t, GetPTPStatus, (uint8_t * enabled), (override));
  MOCK_METHOD(uint8_t, GetIsWebServerInstalled, (uint8_t * installed), (override));
  MOCK_METHOD(uint8_t, GetgetURLReducedClientHBMaxCount, (uint32_t * value), (override));
  MOCK_METHOD(uint8_t, GetgetURLReducedClientHBValue, (uint32_t * value), (override));
  MOCK_METHOD(uint8_t, GetAVDownloadUrlSrc, (uint32_t * value), (override));
  MOCK_METHOD(uint8_t, GetOrSetAssetTagName, (char* buffer, uint32_t size, uint8_t* flag, uint32_t mode),
              (override));
};

class MockMessageGeneratorLibrary : public IMessageGeneratorLibrary {
 public:
  MOCK_METHOD(uint8_t, CreateICSPMsgGenObj, (ICSPMsgGen * *ppObj), (override));
  MOCK_METHOD(uint8_t, DeleteICSPMsgGenObj, (ICSPMsgGen * pObj), (override));
};

class MockMessageParserLibrary : public IMessageParserLibrary {
 public:
  MOCK_METHOD(uint8_t, CreateICSPMsgParserObj, (ICSPMsgParser * *ppObj), (override));
  MOCK_METHOD(uint8_t, DeleteICSPMsgParserObj, (ICSPMsgParser * pObj), (override));
};

class MockResponseGeneratorLibrary : public IResponseGeneratorLibrary {
 public:
  MOCK_METHOD(uint8_t, CreateCAResponseGenObjNew, (ICAResponseGen * *ppObj, PFN_NOTIFY_CLIENT_CORE callback),
              (override));
  MOCK_METHOD(uint8_t, DeleteCAResponseGenObj, (ICAResponseGen * pObj), (override));
  MOCK_METHOD(uint8_t, HandleClientAgentCoreStartup, (PFN_NOTIFY_CLIENT_CORE callback), (override));
  MOCK_METHOD(uint8_t, HandleClientAgentCoreCleanup, (), (override));
  MOCK_METHOD(uint8_t, StopAvMessageHandlerThread, (), (override));
};

class MockTransportLibrary : public ITransportLibrary {
 public:
  MOCK_METHOD(uint8_t, CreateCSClientObject, (ICSClient * *ppCsClient, uint32_t* pdwError), (override));
  MOCK_METHOD(uint8_t, CreateRPClientObject,
              (ICSClient * pCsClient, IRPClient** ppRpClient, uint32_t* pdwError, uint8_t onPrem), (override));
  MOCK_METHOD(uint8_t, FreeRPClientObject, (IRPClient * pRpClient, uint32_t* pdwError), (override));
};

class MockPreInstallLibrary : public IPreInstallLibrary {
 public:
  MOCK_METHOD(uint8_t, AGPreInstInstall, (const char* pszUrl1, const char* pszUrl2, uint32_t buildKind),
              (override));
  MOCK_METHOD(uint8_t, AGPreInstIsAvInstalled, (), (override));
  MOCK_METHOD(uint8_t, AGPreInstUninstall, (), (override));
  MOCK_METHOD(uint8_t, AGPreInstGetAvInstallationPath, (char16_t * buffer, uint32_t sizeUnits), (override));
  MOCK_METHOD(uint8_t, LaunchBuildDownloader, (const char* pszUrl1, const char* pszUrl2), (override));
  MOCK_METHOD(uint8_t, PreInstallCleanUpCheck, (), (override));
};

class MockSystemLibrary : public ISystemLibrary {
 public:
  MOCK_METHOD(void, SystemCleanUpCall, (uint32_t * pdwStatus), (override));
};

class MockVersionLibrary : public IVersionLibrary {
 public:
  MOCK_METHOD(uint8_t, GetProductVersion, (const char16_t* folder, uint8_t parts[4]), (override));
};

// --- objects handed out by the messaging libraries -------------------------

class MockMsgGen : public ICSPMsgGen {
 public:
  ~MockMsgGen() override = default;
  MOCK_METHOD(uint8_t, CreateResponseMsg, (const CAResponse* response, char** ppszMsg), (override));
  MOCK_METHOD(uint8_t, FreeResponseMsg, (char* pszMsg), (override));
};

class MockMsgParser : public ICSPMsgParser {
 public:
  ~MockMsgParser() override = default;
  MOCK_METHOD(uint8_t, OpenMsg, (const char* pszJson), (override));
  MOCK_METHOD(uint8_t, ParseRequestMsg, (CSPRequest * *ppRequest), (override));
  MOCK_METHOD(uint8_t, FreeRequestMsg, (CSPRequest * pRequest), (override));
  MOCK_METHOD(uint8_t, CloseMsg, (), (override));
};

class MockResponseGen : public ICAResponseGen {
 public:
  ~MockResponseGen() override = default;
  MOCK_METHOD(uint8_t, Init, (), (override));
  MOCK_METHOD(uint8_t, Deinit, (), (override));
  MOCK_METHOD(uint8_t, CreateResponse, (const RequestList* request, CAResponse* response), (override));
  MOCK_METHOD(uint8_t, CreateResponse, (const CSPRequest* request, CAResponse* response), (override));
  MOCK_METHOD(uint8_t, FreeResponse, (CAResponse * response), (override));
};

class MockRpClient : public IRPClient {
 public:
  ~MockRpClient() override = default;
  MOCK_METHOD(uint8_t, InitCSClient, (const CSConnectionInfo* info), (override));
  MOCK_METHOD(uint8_t, DeInitializeRPClient, (), (override));
  MOCK_METHOD(uint8_t, Register, (const char* pszJson, ServerResponse** ppResponse), (override));
  MOCK_METHOD(uint8_t, SendCommandAck, (const CmdAck* ack, ServerResponse** ppResponse), (override));
  MOCK_METHOD(uint8_t, SetClientData,
              (const ClientDataRecord* record, uint32_t dataId, ServerResponse** ppResponse, uint8_t flag),
              (override));
  MOCK_METHOD(uint8_t, SendNotification,
              (uint32_t kind, uint32_t id, const char* pszJson, ServerResponse** ppResponse), (override));
  MOCK_METHOD(uint8_t, FreeServerResponse, (ServerResponse * response), (override));
  MOCK_METHOD(uint8_t, GetRPConfig, (ServerResponse * *ppResponse), (override));
  MOCK_METHOD(uint8_t, SetRPMode, (uint8_t viaRelay), (override));
  MOCK_METHOD(uint8_t, UnRegisterFromRP, (), (override));
};
