// The core's wrappers around the client data store: each call opens the
// store, performs one operation and closes it.
#pragma once

#include <agsuite/agmisc.h>

#include <cstdint>

inline constexpr uint32_t DB_ID_CLIENT_REG_STATUS = 25;
inline constexpr uint32_t DB_ID_CLIENT_REG_START_DATE = 26;
inline constexpr uint32_t DB_ID_CLIENT_REG_ATTEMPT = 27;
inline constexpr uint32_t DB_ID_CLIENT_HEARTBEAT_INTERVAL = 28;
inline constexpr uint32_t DB_ID_CA_REPORT_DB_PATH = 29;
inline constexpr uint32_t DB_ID_CLIENT_LAST_CONNECTED_TIME = 36;
inline constexpr uint32_t DB_ID_REPORT_RECORD_COUNT = 37;
inline constexpr uint32_t DB_ID_LAST_DB_COPIED_TIME = 39;
inline constexpr uint32_t DB_ID_CLIENT_PROXY_SETT_WRITTEN = 41;
inline constexpr uint32_t DB_ID_CA_AV_INSTALLATION_STATUS_MD5 = 42;
inline constexpr uint32_t DB_ID_CLIENT_PENDING_AV_INST_STATUS = 47;
inline constexpr uint32_t DB_ID_SP_UPDATE_STATUS_CMD_GUID = 51;
inline constexpr uint32_t DB_ID_UP_UPDATE_STATUS_CMD_GUID = 52;
inline constexpr uint32_t DB_ID_CA_VERSION = 53;
inline constexpr uint32_t DB_ID_CA_RP_CONFIG_DATA = 57;
inline constexpr uint32_t DB_ID_CLIENT_RP_REG_STATUS = 63;
inline constexpr uint32_t DB_ID_CLIENT_UNINSTALL_NOTIFICATION = 73;
inline constexpr uint32_t DB_ID_CLIENT_INSTALL_NOTIFICATION = 74;
inline constexpr uint32_t DB_ID_PULL_LOG_SUB_URL = 75;
inline constexpr uint32_t DB_ID_SEND_INSTALL_NOTIFICATION_RETRY_COUNT = 77;
inline constexpr uint32_t DB_ID_LAST_COMMAND_GUID_BASE = 1000;

bool GetClientBlobData(uint32_t id, uint32_t size, void* buffer);
bool SetClientBlobData(uint32_t id, uint32_t size, const void* buffer);
bool DeleteClientBlobData(uint32_t id);
bool SetClientPendingCommands(uint32_t list, uint32_t size, const void* record);
// Leases at most `maxCount` pending records, the oldest first (see
// CLGetPendingTasksUpTo); free with FreeClientPendingTasks.
bool GetClientPendingTasks(CLPendingTaskList** list, uint32_t maxCount = UINT32_MAX);
void FreeClientPendingTasks(CLPendingTaskList* list);
bool CompleteClientPendingTask(uint64_t recordId);
bool ReturnClientPendingTask(uint64_t recordId);
// Sets entry `id` and adds `record` to pending list `list`, leased to this
// process, in one commit (see CLSetDataWithLeasedPending).
bool SetClientBlobDataWithLeasedPending(uint32_t id, uint32_t size, const void* buffer, uint32_t list,
                                        uint32_t recordSize, const void* record, uint64_t* recordId);
bool UpdateClientPendingTask(uint64_t recordId, uint32_t size, const void* record);
// Reads a 4-byte counter (0 when unreadable), adds one and writes it back,
// under the client-store counter lock. Returns the new value in *value.
bool IncrementClientCounter(uint32_t id, uint32_t* value);
