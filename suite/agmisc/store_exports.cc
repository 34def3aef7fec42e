// The client data store calls of the library's C interface.
#include <agsuite/agmisc.h>

#include <cstdlib>
#include <cstring>

#include "agmisc_log.h"
#include "lease_owner.h"
#include "store_pool.h"

using agmisc::ReadResult;

namespace {

bool IsPendingList(uint32_t list) {
  return list == CL_PENDING_LIST_COMMAND_ACK || list == CL_PENDING_LIST_CLIENT_NOTIFICATION;
}

// The list is one malloc'ed block per allocation (list, task array, each
// record's bytes) so that CLFreePendingTasks can free it from any caller.
CLPendingTaskList* NewTaskList(std::vector<agmisc::PendingRecord>& records) {
  auto* list = static_cast<CLPendingTaskList*>(std::calloc(1, sizeof(CLPendingTaskList)));
  if (list == nullptr) return nullptr;
  if (records.empty()) return list;
  list->pTasks = static_cast<CLPendingTask*>(std::calloc(records.size(), sizeof(CLPendingTask)));
  if (list->pTasks == nullptr) {
    std::free(list);
    return nullptr;
  }
  for (const auto& record : records) {
    CLPendingTask& task = list->pTasks[list->dwCount];
    task.dwList = record.list;
    task.qwRecordId = record.record_id;
    task.dwSize = static_cast<uint32_t>(record.bytes.size());
    task.pData = static_cast<uint8_t*>(std::malloc(record.bytes.empty() ? 1 : record.bytes.size()));
    if (task.pData == nullptr) {
      CLFreePendingTasks(list);
      return nullptr;
    }
    if (!record.bytes.empty()) std::memcpy(task.pData, record.bytes.data(), record.bytes.size());
    ++list->dwCount;
  }
  return list;
}

}  // namespace

extern "C" {

uint8_t CLOpenDatabase(CLDBHANDLE* phDb) {
  if (phDb == nullptr) {
    AGMISC_LOG(AG_LOG_FAILURE, "No slot for the store handle");
    return 0;
  }
  *phDb = agmisc::AcquireStore();
  return *phDb != nullptr ? 1 : 0;
}

uint8_t CLCloseDatabase(CLDBHANDLE hDb) { return agmisc::ReleaseStore(hDb) ? 1 : 0; }

uint8_t CLGetDataByType(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, void* buffer) {
  if (buffer == nullptr || size == 0 || !agmisc::IsValidStore(hDb)) return 0;
  return hDb->store.GetEntry(id, type, size, buffer) == ReadResult::kFound ? 1 : 0;
}

uint8_t CLSetDataByType(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, const void* buffer) {
  if (buffer == nullptr || size == 0 || size > agmisc::kMaxStoredRecordSize || !agmisc::IsValidStore(hDb)) return 0;
  return hDb->store.SetEntry(id, type, size, buffer) ? 1 : 0;
}

uint8_t CLDeleteDataById(CLDBHANDLE hDb, uint32_t id) {
  if (!agmisc::IsValidStore(hDb)) return 0;
  return hDb->store.DeleteEntry(id) ? 1 : 0;
}

uint8_t CLSetPendingCommand(CLDBHANDLE hDb, uint32_t list, uint32_t type, uint32_t size, const void* record) {
  if (record == nullptr || size == 0 || size > agmisc::kMaxStoredRecordSize || !agmisc::IsValidStore(hDb)) return 0;
  if (!IsPendingList(list)) {
    AGMISC_LOG(AG_LOG_FAILURE, "Pending list %u does not exist", list);
    return 0;
  }
  return hDb->store.AddPending(list, type, size, record) ? 1 : 0;
}

uint8_t CLGetPendingTasks(CLDBHANDLE hDb, CLPendingTaskList** ppList) {
  return CLGetPendingTasksUpTo(hDb, UINT32_MAX, ppList);
}

uint8_t CLGetPendingTasksUpTo(CLDBHANDLE hDb, uint32_t dwMaxCount, CLPendingTaskList** ppList) {
  if (ppList == nullptr || !agmisc::IsValidStore(hDb)) return 0;
  *ppList = nullptr;
  const std::string owner = agmisc::CurrentLeaseOwner();
  auto records = hDb->store.LeasePending(owner, dwMaxCount);
  if (!records) return 0;
  CLPendingTaskList* list = NewTaskList(*records);
  if (list == nullptr) {
    AGMISC_LOG(AG_LOG_FAILURE, "Out of memory for %zu pending records; they are handed back", records->size());
    for (const auto& record : *records) static_cast<void>(hDb->store.ReturnPending(record.record_id, owner));
    return 0;
  }
  *ppList = list;
  return 1;
}

uint8_t CLFreePendingTasks(CLPendingTaskList* pList) {
  if (pList == nullptr) return 0;
  for (uint32_t i = 0; i < pList->dwCount; ++i) std::free(pList->pTasks[i].pData);
  std::free(pList->pTasks);
  std::free(pList);
  return 1;
}

uint8_t CLCompletePendingTask(CLDBHANDLE hDb, uint64_t recordId) {
  if (!agmisc::IsValidStore(hDb)) return 0;
  return hDb->store.CompletePending(recordId) ? 1 : 0;
}

uint8_t CLReturnPendingTask(CLDBHANDLE hDb, uint64_t recordId) {
  if (!agmisc::IsValidStore(hDb)) return 0;
  return hDb->store.ReturnPending(recordId, agmisc::CurrentLeaseOwner()) ? 1 : 0;
}

uint8_t CLSetDataWithLeasedPending(CLDBHANDLE hDb, uint32_t id, uint32_t type, uint32_t size, const void* buffer,
                                   uint32_t list, uint32_t recordSize, const void* record, uint64_t* pRecordId) {
  if (buffer == nullptr || size == 0 || size > agmisc::kMaxStoredRecordSize || record == nullptr || recordSize == 0 ||
      recordSize > agmisc::kMaxStoredRecordSize || pRecordId == nullptr || !agmisc::IsValidStore(hDb)) {
    return 0;
  }
  if (!IsPendingList(list)) {
    AGMISC_LOG(AG_LOG_FAILURE, "Pending list %u does not exist", list);
    return 0;
  }
  const auto recordId = hDb->store.SetEntryWithLeasedPending(id, type, size, buffer, list, recordSize, record,
                                                             agmisc::CurrentLeaseOwner());
  if (!recordId) return 0;
  *pRecordId = *recordId;
  return 1;
}

uint8_t CLUpdatePendingTask(CLDBHANDLE hDb, uint64_t recordId, uint32_t size, const void* record) {
  if (record == nullptr || size == 0 || size > agmisc::kMaxStoredRecordSize || !agmisc::IsValidStore(hDb)) return 0;
  return hDb->store.UpdatePending(recordId, size, record, agmisc::CurrentLeaseOwner()) ? 1 : 0;
}

uint8_t CLGetDataByEvtID(CLDBHANDLE hDb, uint32_t eventId, int32_t* pFrequency, int64_t* pLastSync) {
  if (pFrequency == nullptr || pLastSync == nullptr || !agmisc::IsValidStore(hDb)) return 0;
  *pFrequency = 0;
  *pLastSync = 0;
  return hDb->store.GetEvent(eventId, pFrequency, pLastSync) == ReadResult::kFound ? 1 : 0;
}

uint8_t CLAddEventLastSync(CLDBHANDLE hDb, uint32_t eventId, int32_t frequency, int64_t lastSync) {
  if (!agmisc::IsValidStore(hDb)) return 0;
  return hDb->store.PutEvent(eventId, frequency, lastSync) ? 1 : 0;
}

}  // extern "C"
