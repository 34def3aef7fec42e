// The agent support library (libagmisc): the client data store (numbered
// entries, the pending lists 14 and 15, the event table), INI-held settings,
// the client GUID and UDI, and the agent folders.
//
// Every call returns 1 when done and 0 otherwise, unless said. Calls are safe
// from any thread; each store call opens, performs one operation and closes
// (connections may be pooled inside the library).
#pragma once

#include <cstddef>
#include <cstdint>

#define AG_SUITE_EXPORT __attribute__((visibility("default")))

// Entry type used by every caller of the numbered store.
inline constexpr uint32_t CL_DATA_TYPE_BLOB = 3;

// Pending lists (their numbers are also the task ids that resend them).
inline constexpr uint32_t CL_PENDING_LIST_COMMAND_ACK = 14;
inline constexpr uint32_t CL_PENDING_LIST_CLIENT_NOTIFICATION = 15;

// Tenant proxy settings, written once by start-up and read by the transport.
#pragma pack(push, 1)
struct AgProxySettings {
  uint8_t bProxyEnabled;
  uint8_t bSecondFlag;
  char16_t szProxyServer[260];
  uint32_t dwProxyPort;
  char16_t szProxyUser[256];
  char16_t szProxyPassword[256];
  uint8_t bTrailingFlag;
};
#pragma pack(pop)
static_assert(sizeof(AgProxySettings) == 1551);
static_assert(offsetof(AgProxySettings, szProxyServer) == 2);
static_assert(offsetof(AgProxySettings, dwProxyPort) == 522);
static_assert(offsetof(AgProxySettings, szProxyUser) == 526);
static_assert(offsetof(AgProxySettings, szProxyPassword) == 1038);
static_assert(offsetof(AgProxySettings, bTrailingFlag) == 1550);

// Upgrade-data record kept under the INI section "DATA_FOR_UPGRADE".
inline constexpr uint32_t AG_UPGRADE_DATA_SIZE = 6356;
inline constexpr uint32_t AG_UPGRADE_DATA_WHOLE = 0xFFFFFFFFu;  // size argument: the whole record

// Upgrade or migration command record (store ids 51 and 52).
#pragma pack(push, 1)
struct AgUpgradeCmdRecord {
  uint32_t dwLeading;
  char szCmdGuid[260];
};
#pragma pack(pop)
static_assert(sizeof(AgUpgradeCmdRecord) == 264);

// One pending record handed out by CLGetPendingTasks.
struct CLPendingTask {
  uint32_t dwList;      // 14 or 15
  uint64_t qwRecordId;  // identifies the lease (see CLCompletePendingTask)
  uint32_t dwSize;
  uint8_t* pData;
};
struct CLPendingTaskList {
  uint32_t dwCount;
  CLPendingTask* pTasks;
};

typedef struct CLDatabase* CLDBHANDLE;

extern "C" {
// --- set-up (service host and tests) ---------------------------------------
// Root folder of the agent (UTF-8). Until set, a system default is used.
AG_SUITE_EXPORT uint8_t AGMiscSetAgentRoot(const char* pszRootUtf8);

// --- client data store -----------------------------------------------------
AG_SUITE_EXPORT uint8_t CLOpenDatabase(CLDBHANDLE* phDb);
AG_SUITE_EXPORT uint8_t CLCloseDatabase(CLDBHANDLE hDb);
// Reads entry `id` into `buffer`. Succeeds when the entry exists with this type
// and its stored size is at most `size`; the rest of the buffer is zeroed.
AG_SUITE_EXPORT uint8_t CLGetDataByType(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, void* buffer);
AG_SUITE_EXPORT uint8_t CLSetDataByType(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, const void* buffer);
AG_SUITE_EXPORT uint8_t CLDeleteDataById(CLDBHANDLE hDb, uint32_t id);
// Appends a pending record to list 14 or 15. Durable when it returns 1.
AG_SUITE_EXPORT uint8_t CLSetPendingCommand(CLDBHANDLE hDb, uint32_t list, uint32_t type, uint32_t size, const void* record);
// Hands out every pending record not already handed out in this process and
// leases it: a leased record is not handed out again until it is completed
// (gone for good), returned, or the process that leased it has ended.
AG_SUITE_EXPORT uint8_t CLGetPendingTasks(CLDBHANDLE hDb, CLPendingTaskList** ppList);
// The same for at most `dwMaxCount` records, the oldest first: a caller that
// can only take so many leaves the rest in the store untouched.
AG_SUITE_EXPORT uint8_t CLGetPendingTasksUpTo(CLDBHANDLE hDb, uint32_t dwMaxCount, CLPendingTaskList** ppList);
AG_SUITE_EXPORT uint8_t CLFreePendingTasks(CLPendingTaskList* pList);
AG_SUITE_EXPORT uint8_t CLCompletePendingTask(CLDBHANDLE hDb, uint64_t recordId);
AG_SUITE_EXPORT uint8_t CLReturnPendingTask(CLDBHANDLE hDb, uint64_t recordId);
// Sets entry `id` and appends a pending record to list 14 or 15 in one
// commit, the record leased to the calling process: it is handed out to no
// one while this process lives (unless returned) and to the next caller once
// the process has ended. A fact kept this way is never kept without the record
// that reports it. *pRecordId identifies the lease.
AG_SUITE_EXPORT uint8_t CLSetDataWithLeasedPending(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size,
                                                   const void* buffer, uint32_t list, uint32_t recordSize,
                                                   const void* record, uint64_t* pRecordId);
// Replaces the bytes of a pending record the calling process has leased.
AG_SUITE_EXPORT uint8_t CLUpdatePendingTask(CLDBHANDLE hDb, uint64_t recordId, uint32_t size, const void* record);
// Event table (send-frequency bookkeeping).
AG_SUITE_EXPORT uint8_t CLGetDataByEvtID(CLDBHANDLE hDb, uint32_t eventId, int32_t* pFrequency, int64_t* pLastSync);
AG_SUITE_EXPORT uint8_t CLAddEventLastSync(CLDBHANDLE hDb, uint32_t eventId, int32_t frequency, int64_t lastSync);

// --- identities ------------------------------------------------------------
// GetClientGUID, GetClientGUIDText and GetClientUDI answer 1 with an empty
// buffer when the value was never stored, and 0 when the store cannot be read
// or the value does not fit: a caller generates a new identity only for the
// first.
AG_SUITE_EXPORT uint8_t GetClientGUID(char* buffer, uint32_t size);
AG_SUITE_EXPORT uint8_t SetClientGUID(const char* guid);
AG_SUITE_EXPORT uint8_t GetClientGUIDText(char* buffer, uint32_t size);
AG_SUITE_EXPORT uint8_t GetClientUDI(char* buffer, uint32_t size);
AG_SUITE_EXPORT uint8_t SetClientUDI(const char* udi);
AG_SUITE_EXPORT uint8_t EncryptTenantId(const char* tenantId, char* buffer, uint32_t size);
AG_SUITE_EXPORT uint8_t GetProductIDForXUA(char* buffer, uint32_t size);

// --- folders (UTF-16, ending in a separator, created on first use) ---------
AG_SUITE_EXPORT uint8_t GetClientAgentRootDir(char16_t* buffer, uint32_t sizeUnits);
AG_SUITE_EXPORT uint8_t GetClientAgentConfigDir(char16_t* buffer, uint32_t sizeUnits);
AG_SUITE_EXPORT uint8_t GetClientAgentTempDir(char16_t* buffer, uint32_t sizeUnits);
AG_SUITE_EXPORT uint8_t GetClientAgentLogDir(char16_t* buffer, uint32_t sizeUnits);
AG_SUITE_EXPORT uint8_t GetModulePathW(char16_t* buffer, uint32_t sizeUnits);

// --- proxy -----------------------------------------------------------------
AG_SUITE_EXPORT uint8_t WriteProxySettings(const AgProxySettings* settings);
AG_SUITE_EXPORT uint8_t ReadProxySettings(AgProxySettings* settings);

// --- INI-held settings ------------------------------------------------------
// Returns 1 on success. `size` AG_UPGRADE_DATA_WHOLE means the whole record.
AG_SUITE_EXPORT uint32_t GetClientAgentGlobalInfoFromINI(uint32_t reserved, const char16_t* section, uint32_t size, void* record);
AG_SUITE_EXPORT uint32_t SetClientAgentGlobalInfoToINI(uint32_t reserved, const char16_t* section, uint32_t size, const void* record);
AG_SUITE_EXPORT uint8_t GetUpgrdCmdInfoFromINI(uint32_t which, AgUpgradeCmdRecord* record);
AG_SUITE_EXPORT uint8_t SetUpgrdCmdInfoToINI(uint32_t which, const AgUpgradeCmdRecord* record);
AG_SUITE_EXPORT uint8_t GetClientUpgradeType(uint32_t* type);
AG_SUITE_EXPORT uint8_t SetClientUpgradeType(uint32_t type);
AG_SUITE_EXPORT uint8_t SetClientAutoUpgrade(uint32_t consent);
AG_SUITE_EXPORT uint8_t GetAVUpgradeStatus(uint32_t* status);

// --- registration and connection state --------------------------------------
// relay 0: server status (store id 25); relay 1: relay status (store id 63).
AG_SUITE_EXPORT uint8_t GetClientRegStatus(uint32_t* status, uint8_t relay);
AG_SUITE_EXPORT uint8_t SetClientRegStatus(uint32_t status, uint8_t relay);
// 1 direct to the server, 2 through the relay (roaming); 0 unknown.
AG_SUITE_EXPORT uint8_t GetClientConnectionStatus(uint32_t* state);
AG_SUITE_EXPORT uint8_t SetClientConnectionStatus(uint32_t state);
AG_SUITE_EXPORT uint8_t SetLastConnectedTime(uint64_t secondsSince1970);

// --- feature flags and settings --------------------------------------------
AG_SUITE_EXPORT uint8_t GetPTPStatus(uint8_t* enabled);
AG_SUITE_EXPORT uint8_t GetIsWebServerInstalled(uint8_t* installed);
AG_SUITE_EXPORT uint8_t GetgetURLReducedClientHBMaxCount(uint32_t* value);
AG_SUITE_EXPORT uint8_t GetgetURLReducedClientHBValue(uint32_t* value);
AG_SUITE_EXPORT uint8_t GetAVDownloadUrlSrc(uint32_t* value);
// mode 1: read the asset tag and its changed flag; mode 2: reset the flag.
AG_SUITE_EXPORT uint8_t GetOrSetAssetTagName(char* buffer, uint32_t size, uint8_t* flag, uint32_t mode);
}
