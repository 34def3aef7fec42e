// Records and objects shared between the agent core and the four messaging
// libraries (message generator, message parser, response generator, RP client
// transport). Every record whose layout another program relies on is packed and
// its size and offsets are asserted here, so a mismatch fails the build.
//
// Ownership: objects handed out by a library go back to the same library
// (responses through FreeServerResponse / FreeResponse, generators and parsers
// through their delete exports). Payload texts in records are borrowed.
#pragma once

#include <cstddef>
#include <cstdint>

#define AG_SUITE_EXPORT __attribute__((visibility("default")))

// ---------------------------------------------------------------------------
// Request-details list (built by the core's CRequestGen, walked by agresp).
#pragma pack(push, 1)
struct RequestDetails {
  uint32_t id;        // protocol id
  uint32_t category;  // 1 client-agent command, 2 protection-product action
  uint32_t action;    // 1 get, 2 set, 3 register without response message
  char* payload;      // borrowed NUL-terminated text or null
  RequestDetails* next;
};
#pragma pack(pop)
static_assert(sizeof(RequestDetails) == 28);
static_assert(offsetof(RequestDetails, payload) == 12);
static_assert(offsetof(RequestDetails, next) == 20);

// The head/tail pair that CRequestGen hands to CreateResponse.
struct RequestList {
  RequestDetails* pRequestDetailsList;
  RequestDetails* pTail;
};

// ---------------------------------------------------------------------------
// Response created by agresp. `kind` tells what `record` points at:
// a ResponseDetails list (kind 0) or, for an acknowledgement-kind request
// (kind 4), a single ResponseDetails whose text at byte 20 is the
// acknowledgement payload.
#pragma pack(push, 1)
struct ResponseDetails {
  uint32_t id;
  uint32_t category;
  uint32_t action;
  uint32_t result;
  uint32_t flags;
  char* pszText;  // protocol payload JSON (or the acknowledgement payload)
  ResponseDetails* next;
};
struct CAResponse {
  uint32_t kind;
  ResponseDetails* record;  // words two and three
};
#pragma pack(pop)
static_assert(sizeof(ResponseDetails) == 36);
static_assert(offsetof(ResponseDetails, pszText) == 20);
static_assert(sizeof(CAResponse) == 12);
static_assert(offsetof(CAResponse, record) == 4);

inline constexpr uint32_t kCAResponseKindList = 0;
inline constexpr uint32_t kCAResponseKindAckPayload = 4;

// ---------------------------------------------------------------------------
// One server command as parsed by agmsgparse.
#pragma pack(push, 1)
struct CSPRequest {
  uint32_t commandId;    // first 32-bit field
  uint32_t commandType;  // the command's "type"
  uint32_t kind;         // third 32-bit field; 4 = acknowledgement carries a payload
  char* context;         // "context" as compact JSON text (owned by the parser)
  char* data;            // "data" as compact JSON text (owned by the parser)
};
#pragma pack(pop)
static_assert(offsetof(CSPRequest, kind) == 8);
inline constexpr uint32_t kCSPRequestKindAckPayload = 4;

// ---------------------------------------------------------------------------
// Connection record handed to IRPClient::InitCSClient.
#pragma pack(push, 1)
struct CSConnectionInfo {
  char szTenantId[40];
  char szClientGuid[100];
  char szClientVersion[20];
  char szLocale[6];
  char szServerUrl[260];
  char szServerAppName[50];
  char szClientService[260];
  char szRpService[260];
  char szNotificationService[260];
  char szPolicyService[260];
  char szGeneralService[260];
  uint16_t wServerPort;
  char szRelayAddress[260];
  uint16_t wRelayPort;
};
#pragma pack(pop)
static_assert(sizeof(CSConnectionInfo) == 2040);
static_assert(offsetof(CSConnectionInfo, szClientGuid) == 40);
static_assert(offsetof(CSConnectionInfo, szClientVersion) == 140);
static_assert(offsetof(CSConnectionInfo, szLocale) == 160);
static_assert(offsetof(CSConnectionInfo, szServerUrl) == 166);
static_assert(offsetof(CSConnectionInfo, szServerAppName) == 426);
static_assert(offsetof(CSConnectionInfo, szClientService) == 476);
static_assert(offsetof(CSConnectionInfo, szRpService) == 736);
static_assert(offsetof(CSConnectionInfo, szNotificationService) == 996);
static_assert(offsetof(CSConnectionInfo, szPolicyService) == 1256);
static_assert(offsetof(CSConnectionInfo, szGeneralService) == 1516);
static_assert(offsetof(CSConnectionInfo, wServerPort) == 1776);
static_assert(offsetof(CSConnectionInfo, szRelayAddress) == 1778);
static_assert(offsetof(CSConnectionInfo, wRelayPort) == 2038);

// ---------------------------------------------------------------------------
// Command acknowledgement handed to IRPClient::SendCommandAck.
#pragma pack(push, 1)
struct CmdAck {
  uint32_t dwCmdId;
  char szCmdGuid[100];
  uint32_t dwStatus;   // 1 done, 2 failed, 3 skipped
  uint8_t byRetry;     // byte A
  uint8_t byLeading;   // byte B
  char* pszAckPayload;
};
#pragma pack(pop)
static_assert(sizeof(CmdAck) == 118);
static_assert(offsetof(CmdAck, dwStatus) == 104);
static_assert(offsetof(CmdAck, byRetry) == 108);
static_assert(offsetof(CmdAck, byLeading) == 109);
static_assert(offsetof(CmdAck, pszAckPayload) == 110);

inline constexpr uint32_t kCmdAckDone = 1;
inline constexpr uint32_t kCmdAckFailed = 2;
inline constexpr uint32_t kCmdAckSkipped = 3;

// Record handed to IRPClient::SetClientData.
#pragma pack(push, 1)
struct ClientDataRecord {
  uint32_t dwType;  // 2 status item, 3 report chunk, 4 command data, 10 policy, 23 UA status
  uint8_t byFlag;
  const char* pszJson;
};
#pragma pack(pop)
static_assert(sizeof(ClientDataRecord) == 13);

// ---------------------------------------------------------------------------
// Server response as handed out by the RP client object.
#pragma pack(push, 1)
struct ServerCommandEntry {
  uint32_t dwLeading;      // leading value of the entry
  uint32_t dwReserved;
  char* pszCmdGuid;        // NUL-terminated
  char* pszCommandJson;    // NUL-terminated JSON of one command
  uint8_t reserved[64];
};
#pragma pack(pop)
static_assert(sizeof(ServerCommandEntry) == 88);

struct ServerResponse {
  uint8_t bSuccess;              // registration: registered
  uint32_t dwErrorCount;
  uint32_t* pErrorCodes;         // server order
  ServerCommandEntry* pCommands; // null when the response has no command list
  uint32_t dwCommandCount;
};

// Notification callback of the core (NotifyClientCoreForRpTask).
using PFN_NOTIFY_CLIENT_CORE = uint8_t (*)(int32_t eventId, int64_t param);

// ---------------------------------------------------------------------------
// Objects. Their operations are virtual so that every library keeps its own
// implementation behind one table; callers never delete them directly.
class ICSPMsgGen {
 public:
  virtual uint8_t CreateResponseMsg(const CAResponse* response, char** ppszMsg) = 0;
  virtual uint8_t FreeResponseMsg(char* pszMsg) = 0;

 protected:
  virtual ~ICSPMsgGen() = default;
};

class ICSPMsgParser {
 public:
  virtual uint8_t OpenMsg(const char* pszJson) = 0;
  virtual uint8_t ParseRequestMsg(CSPRequest** ppRequest) = 0;
  virtual uint8_t FreeRequestMsg(CSPRequest* pRequest) = 0;
  virtual uint8_t CloseMsg() = 0;

 protected:
  virtual ~ICSPMsgParser() = default;
};

class ICAResponseGen {
 public:
  virtual uint8_t Init() = 0;
  virtual uint8_t Deinit() = 0;
  // Request built by the core (a CRequestGen's head/tail pair).
  virtual uint8_t CreateResponse(const RequestList* request, CAResponse* response) = 0;
  // Request parsed from a server command.
  virtual uint8_t CreateResponse(const CSPRequest* request, CAResponse* response) = 0;
  virtual uint8_t FreeResponse(CAResponse* response) = 0;

 protected:
  virtual ~ICAResponseGen() = default;
};

class ICSClient {
 protected:
  virtual ~ICSClient() = default;
};

// RP client object: operations in the order of its table.
class IRPClient {
 public:
  virtual uint8_t InitCSClient(const CSConnectionInfo* info) = 0;
  virtual uint8_t DeInitializeRPClient() = 0;
  virtual uint8_t Register(const char* pszJson, ServerResponse** ppResponse) = 0;
  virtual uint8_t SendCommandAck(const CmdAck* ack, ServerResponse** ppResponse) = 0;
  virtual uint8_t SetClientData(const ClientDataRecord* record, uint32_t dataId,
                                ServerResponse** ppResponse, uint8_t flag) = 0;
  virtual uint8_t SendNotification(uint32_t kind, uint32_t id, const char* pszJson,
                                   ServerResponse** ppResponse) = 0;
  virtual uint8_t FreeServerResponse(ServerResponse* response) = 0;
  // Result 1: a response to process; 0: failed.
  virtual uint8_t GetRPConfig(ServerResponse** ppResponse) = 0;
  virtual uint8_t SetRPMode(uint8_t viaRelay) = 0;
  virtual uint8_t UnRegisterFromRP() = 0;

 protected:
  virtual ~IRPClient() = default;
};

// ---------------------------------------------------------------------------
// Library exports.
extern "C" {
// agmsggen
AG_SUITE_EXPORT uint8_t CreateICSPMsgGenObj(ICSPMsgGen** ppObj);
AG_SUITE_EXPORT uint8_t DeleteICSPMsgGenObj(ICSPMsgGen* pObj);
// agmsgparse
AG_SUITE_EXPORT uint8_t CreateICSPMsgParserObj(ICSPMsgParser** ppObj);
AG_SUITE_EXPORT uint8_t DeleteICSPMsgParserObj(ICSPMsgParser* pObj);
// agresp
AG_SUITE_EXPORT uint8_t CreateCAResponseGenObjNew(ICAResponseGen** ppObj, PFN_NOTIFY_CLIENT_CORE callback);
AG_SUITE_EXPORT uint8_t DeleteCAResponseGenObj(ICAResponseGen* pObj);
AG_SUITE_EXPORT uint8_t HandleClientAgentCoreStartup(PFN_NOTIFY_CLIENT_CORE callback);
AG_SUITE_EXPORT uint8_t HandleClientAgentCoreCleanup();
AG_SUITE_EXPORT uint8_t StopAvMessageHandlerThread();
// agtransport
AG_SUITE_EXPORT uint8_t CreateCSClientObject(ICSClient** ppCsClient, uint32_t* pdwError);
AG_SUITE_EXPORT uint8_t CreateRPClientObject(ICSClient* pCsClient, IRPClient** ppRpClient,
                                             uint32_t* pdwError, uint8_t onPrem);
AG_SUITE_EXPORT uint8_t FreeRPClientObject(IRPClient* pRpClient, uint32_t* pdwError);
}
