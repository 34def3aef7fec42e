// The core's client data store wrappers. Every call is one open / operation /
// close round trip through the support library, so no store handle outlives a
// call and every thread may call any wrapper.
#include "core/siblings/client_store.h"

#include <mutex>

#include "core/agcore/core_state.h"
#include "core/common/aglog.h"
#include "core/siblings/siblings.h"

namespace {

// Runs `operation` with a freshly opened store handle; the handle is closed
// whatever the operation's result.
template <typename Operation>
bool WithClientStore(const char* routine, Operation&& operation) {
  ISupportLibrary* support = Siblings().support;
  CLDBHANDLE db = nullptr;
  if (support == nullptr || !support->CLOpenDatabase(&db) || db == nullptr) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "CLOpenDatabase failed");
    return false;
  }
  const bool done = operation(*support, db);
  if (!support->CLCloseDatabase(db)) {
    AGLOG_AS(routine, AG_LOG_PASSED_OVER, "CLCloseDatabase failed");
  }
  return done;
}

}  // namespace

bool GetClientBlobData(uint32_t id, uint32_t size, void* buffer) {
  if (buffer == nullptr || size == 0) return false;
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLGetDataByType(db, id, CL_DATA_TYPE_BLOB, size, buffer) != 0;
  });
}

bool SetClientBlobData(uint32_t id, uint32_t size, const void* buffer) {
  if (buffer == nullptr || size == 0) return false;
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLSetDataByType(db, id, CL_DATA_TYPE_BLOB, size, buffer) != 0;
  });
}

bool DeleteClientBlobData(uint32_t id) {
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLDeleteDataById(db, id) != 0;
  });
}

bool SetClientPendingCommands(uint32_t list, uint32_t size, const void* record) {
  if (record == nullptr || size == 0) return false;
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLSetPendingCommand(db, list, CL_DATA_TYPE_BLOB, size, record) != 0;
  });
}

bool GetClientPendingTasks(CLPendingTaskList** list, uint32_t maxCount) {
  if (list == nullptr) return false;
  *list = nullptr;
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLGetPendingTasksUpTo(db, maxCount, list) != 0;
  });
}

void FreeClientPendingTasks(CLPendingTaskList* list) {
  if (list == nullptr || Siblings().support == nullptr) return;
  Siblings().support->CLFreePendingTasks(list);
}

bool CompleteClientPendingTask(uint64_t recordId) {
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLCompletePendingTask(db, recordId) != 0;
  });
}

bool ReturnClientPendingTask(uint64_t recordId) {
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLReturnPendingTask(db, recordId) != 0;
  });
}

bool SetClientBlobDataWithLeasedPending(uint32_t id, uint32_t size, const void* buffer, uint32_t list,
                                        uint32_t recordSize, const void* record, uint64_t* recordId) {
  if (buffer == nullptr || size == 0 || record == nullptr || recordSize == 0 || recordId == nullptr) return false;
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLSetDataWithLeasedPending(db, id, CL_DATA_TYPE_BLOB, size, buffer, list, recordSize, record,
                                              recordId) != 0;
  });
}

bool UpdateClientPendingTask(uint64_t recordId, uint32_t size, const void* record) {
  if (record == nullptr || size == 0) return false;
  return WithClientStore(__func__, [&](ISupportLibrary& support, CLDBHANDLE db) {
    return support.CLUpdatePendingTask(db, recordId, size, record) != 0;
  });
}

bool IncrementClientCounter(uint32_t id, uint32_t* value) {
  // The lock makes read-add-write one step for every thread of the core; the
  // store itself only serialises single operations.
  std::lock_guard<std::mutex> lock(ClientStoreCounterLock());
  uint32_t counter = 0;
  if (!GetClientBlobData(id, sizeof(counter), &counter)) counter = 0;
  ++counter;
  if (!SetClientBlobData(id, sizeof(counter), &counter)) return false;
  if (value != nullptr) *value = counter;
  return true;
}
