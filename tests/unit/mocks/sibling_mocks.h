// GoogleMock classes for the sibling-library interfaces the core reaches
// through Siblings() (the support library has an in-memory stand-in,
// fake_support_library.h), and for the objects those libraries hand out
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
