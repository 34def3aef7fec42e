// The RP task queue and its two performer threads.
//
// The queue object itself lives for the whole process and is only re-armed
// by each start: a producer that fetched the queue just before a stop then
// appends to a shut-down queue (and fails cleanly) instead of touching freed
// memory. GetRpTaskQueue() is null while the pool is not running.
#include "core/rpclcore/task_pool.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/casupp/install_status.h"
#include "core/casupp/pending_leases.h"
#include "core/casupp/pending_record_copy.h"
#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/casupp/upgrade.h"
#include "core/common/aglog.h"
#include "core/common/xuacomm.h"
#include "core/rpclcore/connection.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/pending_send_backoff.h"
#include "core/rpclcore/policy.h"
#include "core/rpclcore/reports.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/thread.h"

namespace {

constexpr uint32_t kPoolSize = 2;
constexpr uint32_t kUninstallAckCmdId = 107;

struct PoolState {
  std::mutex mutex;  // serialises start and stop
  CTaskQueue queue;  // re-armed by each start, never destroyed
  std::vector<std::unique_ptr<platform::Thread>> threads;  // guarded by mutex
  uint32_t size = 0;                                       // guarded by mutex
  bool started = false;                                    // guarded by mutex
  bool closed = false;                                     // guarded by mutex
};

PoolState& Pool() {
  static PoolState* pool = new PoolState();  // outlives every thread that may append
  return *pool;
}

std::atomic<CTaskQueue*> g_pRpTaskQ{nullptr};

bool CarriesHeapBlock(uint8_t taskId) {
  return taskId == CS_CLIENT_TASKQ_UNINSTALL_CLIENT || taskId == CS_CLIENT_TASKQ_SEND_PENDING_COMMAND_ACK ||
         taskId == CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION;
}

void* BlockOf(const TaskEntry& entry) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(entry.argument));
}

// A task that will not be performed: its block is released and the stored
// record it came from is handed back, so a later heartbeat queues it again.
void ReleaseUnperformedTask(const TaskEntry& entry) {
  if (!CarriesHeapBlock(entry.taskId) || entry.argument == 0) return;
  void* block = BlockOf(entry);
  ReturnPendingLease(block);
  std::free(block);
}

void DrainQueue(CTaskQueue* queue) {
  TaskEntry entry{};
  while (queue->tryRemove(&entry)) ReleaseUnperformedTask(entry);
}

// Gives a server response back after the response check.
void FinishResponse(IRPClient* rpClient, ServerResponse* response) {
  CheckServerResponse(response);
  if (response != nullptr) rpClient->FreeServerResponse(response);
}

// What one performer thread keeps between tasks.
struct PerformerContext {
  IRPClient* rpClient = nullptr;
  bool ready = false;                    // rpClient is made and initialised
  uint32_t installNotificationFlag = 0;  // the thread's copy of store id 74
};

// Makes the thread's RP object, dropping what a failed earlier try left.
bool MakeRpObject(PerformerContext* ctx) {
  if (ctx->rpClient != nullptr) {
    DeInitAndDestroyRpObject(ctx->rpClient);
    ctx->rpClient = nullptr;
  }
  ctx->ready = CreateAndInitializeRpObject(&ctx->rpClient, false);
  if (!ctx->ready) AGLOG(AG_LOG_FAILURE, "RP object creation failed.");
  return ctx->ready;
}

void PerformUninstallClient(PerformerContext* ctx, uint64_t argument) {
  AGLOG(AG_LOG_PROGRESS, "CS TASK: Uninstall client");
  if (argument == 0) {
    AGLOG(AG_LOG_FAILURE, "Invalid command guid");
    return;
  }
  CmdAck ack;
  std::memset(&ack, 0, sizeof(ack));
  ack.dwCmdId = kUninstallAckCmdId;
  char* guid = reinterpret_cast<char*>(static_cast<uintptr_t>(argument));
  std::memcpy(ack.szCmdGuid, guid, strnlen(guid, sizeof(ack.szCmdGuid) - 1));
  ack.byRetry = 0;
  ack.byLeading = 1;
  ack.pszAckPayload = nullptr;
  std::free(guid);
  AGLOG(AG_LOG_PROGRESS, "CmdGuid:%s", ack.szCmdGuid);

  if (Siblings().preinst->AGPreInstUninstall()) {
    ack.dwStatus = kCmdAckDone;
    NotifyToXUAForUninstallation(true);
  } else {
    AGLOG(AG_LOG_FAILURE, "AGPreInstUninstall failed");
    ack.dwStatus = kCmdAckFailed;
    NotifyToXUAForUninstallation(false);
  }

  ServerResponse* response = nullptr;
  if (ctx->rpClient->SendCommandAck(&ack, &response)) {
    CheckServerResponse(response);
    CheckConnStateAndNotifyAV();
    if (!ctx->rpClient->UnRegisterFromRP()) AGLOG(AG_LOG_FAILURE, "UnRegisterFromRP failed");
    if (response != nullptr) ctx->rpClient->FreeServerResponse(response);
    return;
  }
  AGLOG(AG_LOG_FAILURE, "SendCommandAck failed for client uninstall");
  if (!StorePendingCommandAck(ack)) AGLOG(AG_LOG_FAILURE, "SetClientPendingCommands failed");
}

void PerformSendInstallationStatus(PerformerContext* ctx, uint32_t actionId) {
  AGLOG(AG_LOG_PROGRESS, "CS TASK: Send installation status, Action ID : %d", static_cast<int>(actionId));
  if (!SendAVInstallationStatus(ctx->rpClient, actionId)) {
    AGLOG(AG_LOG_FAILURE, "SendInstallationStatus failed or skipped for AV");
    return;
  }
  if (!GetClientBlobData(DB_ID_CLIENT_INSTALL_NOTIFICATION, sizeof(ctx->installNotificationFlag),
                         &ctx->installNotificationFlag)) {
    AGLOG(AG_LOG_FAILURE, "GetClientBlobData failed for DB_ID_CLIENT_INSTALL_NOTIFICATION");
  }
  // The install notification goes out once per installation.
  if (ctx->installNotificationFlag != 0) return;
  if (!GetInstallationStatus(actionId)) {
    AGLOG(AG_LOG_FAILURE, "GetInstallationStatus failed");
    return;
  }
  if (!SendNotificationToServer(139, 1, 1, 28, ctx->rpClient)) {
    AGLOG(AG_LOG_FAILURE, "SendNotificationToServer failed for CSP_CMD_ID_INSTALL_NOTIFICATION: ");
  }
  ctx->installNotificationFlag = 1;
  if (!SetClientBlobData(DB_ID_CLIENT_INSTALL_NOTIFICATION, sizeof(ctx->installNotificationFlag),
                         &ctx->installNotificationFlag)) {
    AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed for DB_ID_CLIENT_INSTALL_NOTIFICATION");
  }
}

void PerformUninstallClientSilently() {
  AGLOG(AG_LOG_PROGRESS, "CS TASK: Uninstall client silently");
  if (Siblings().preinst->AGPreInstUninstall()) {
    NotifyToXUAForUninstallation(true);
  } else {
    AGLOG(AG_LOG_FAILURE, "AGPreInstUninstall failed");
  }
}

// Tasks 14 and 15 end by completing the lease of their stored record once
// the copy went out or was stored again as a new record; when neither
// happened the lease goes back, so the old record is sent later.
void EndPendingTask(void* block, bool handled) {
  if (handled) {
    CompletePendingLease(block);
  } else {
    ReturnPendingLease(block);
  }
  std::free(block);
}

// A record whose lengths do not add up to its stored size can never be
// sent: it is deleted from the store (its lease completed) so that it does
// not come back at every heartbeat.
void DropDamagedRecord(void* block, const char* what, size_t size) {
  AGLOG(AG_LOG_FAILURE, "Damaged pending %s of %lu bytes dropped from the store", what,
        static_cast<unsigned long>(size));
  EndPendingTask(block, true);
}

// While the batch has backed off, the record is handed back untouched.
bool PendingSendAllowed(void* block) {
  if (BeginPendingSend()) return true;
  EndPendingTask(block, false);
  return false;
}

void PerformSendPendingCommandAck(PerformerContext* ctx, uint64_t argument) {
  void* block = reinterpret_cast<void*>(static_cast<uintptr_t>(argument));
  if (block == nullptr) return;
  const PendingRecordBytes record = PendingRecordOf(block);
  const std::optional<PendingCommandAck> stored = ParsePendingCommandAck(record.data, record.size);
  if (!stored) {
    DropDamagedRecord(block, "command acknowledgement", record.size);
    return;
  }
  if (!PendingSendAllowed(block)) return;
  std::string payload = stored->payload.value_or(std::string());
  CmdAck ack;
  std::memset(&ack, 0, sizeof(ack));
  ack.dwCmdId = stored->cmdId;
  stored->guid.copy(ack.szCmdGuid, sizeof(ack.szCmdGuid) - 1);
  ack.dwStatus = stored->status;
  ack.byRetry = stored->byteA;
  ack.byLeading = stored->byteB;
  ack.pszAckPayload = stored->payload ? payload.data() : nullptr;

  ServerResponse* response = nullptr;
  bool handled = true;
  const bool sent = ctx->rpClient->SendCommandAck(&ack, &response) != 0;
  EndPendingSend(sent);
  if (sent) {
    FinishResponse(ctx->rpClient, response);
    CheckConnStateAndNotifyAV();
  } else {
    AGLOG(AG_LOG_FAILURE, "SendCommandAck failed for %u command", ack.dwCmdId);
    handled = StorePendingCommandAck(ack);
    if (!handled) AGLOG(AG_LOG_FAILURE, "SetClientPendingCommands failed");
  }
  EndPendingTask(block, handled);
}

void PerformSendPendingClientNotification(PerformerContext* ctx, uint64_t argument) {
  void* block = reinterpret_cast<void*>(static_cast<uintptr_t>(argument));
  if (block == nullptr) return;
  const PendingRecordBytes record = PendingRecordOf(block);
  const std::optional<PendingNotification> stored = ParsePendingNotification(record.data, record.size);
  if (!stored) {
    DropDamagedRecord(block, "client notification", record.size);
    return;
  }
  if (!PendingSendAllowed(block)) return;
  ServerResponse* response = nullptr;
  bool handled = true;
  const bool sent = ctx->rpClient->SendNotification(stored->kind, stored->dataId, stored->json.c_str(), &response) != 0;
  EndPendingSend(sent);
  if (sent) {
    FinishResponse(ctx->rpClient, response);
    CheckConnStateAndNotifyAV();
  } else {
    AGLOG(AG_LOG_FAILURE, "SendNotification failed for %u command", stored->dataId);
    handled = StorePendingNotification(stored->kind, stored->dataId, stored->json);
    if (!handled) AGLOG(AG_LOG_FAILURE, "SetClientPendingCommands failed");
  }
  EndPendingTask(block, handled);
}

void PerformSendRecoveryReports(PerformerContext* ctx) {
  AGLOG(AG_LOG_PROGRESS, "CS TASK: Send client reports(CS_CLIENT_TASKQ_SEND_ENCRYPTION_RECOVERY_REPORTS)");
  bool sent = false;
  if (!SendClientRecoveryReport(ctx->rpClient, &sent) || !sent) {
    AGLOG(AG_LOG_FAILURE, "SendClientRecoveryReport failed");
    SetSendingRecoveryReportStatus(0);
  } else {
    SetSendingRecoveryReportStatus(1);
  }
}

void PerformDisconnectClient(PerformerContext* ctx, uint64_t argument) {
  AGLOG(AG_LOG_PROGRESS, " Action ID : %ld", static_cast<long>(argument));
  if (!SendNotificationToServer(137, 1, 1, 28, ctx->rpClient)) {
    AGLOG(AG_LOG_FAILURE, "SendNotificationToServer : CSP_CMD_ID_DISCONNECT_CLIENT failed");
  }
  if (!SendNotificationToServer(16, 2, 2, 28, ctx->rpClient)) {
    AGLOG(AG_LOG_FAILURE, "SendNotificationToServer : AIAV_ACTION_SET_DISCONNECT_CLIENT failed");
  }
}

void PerformTask(PerformerContext* ctx, const TaskEntry& entry) {
  const uint32_t actionId = static_cast<uint32_t>(entry.argument);
  switch (entry.taskId) {
    case CS_CLIENT_TASKQ_FETCH_AND_APPLY_POLICY:
      AGLOG(AG_LOG_PROGRESS, "CS TASK: FetchAndApplyPolicy");
      if (!FetchAndApplyPolicy(ctx->rpClient)) AGLOG(AG_LOG_FAILURE, "FetchAndApplyPolicy failed");
      break;
    case CS_CLIENT_TASKQ_UNINSTALL_CLIENT:
      PerformUninstallClient(ctx, entry.argument);
      break;
    case CS_CLIENT_TASKQ_SEND_CLIENT_REPORTS:
      AGLOG(AG_LOG_PROGRESS, "CS TASK: Send client reports");
      if (!SendClientReports(ctx->rpClient)) AGLOG(AG_LOG_FAILURE, "SendClientReports failed");
      break;
    case CS_CLIENT_TASKQ_SEND_INSTALLATION_STATUS:
      PerformSendInstallationStatus(ctx, actionId);
      break;
    case CS_CLIENT_TASKQ_UNINSTALL_CLIENT_SILENTLY:
      PerformUninstallClientSilently();
      break;
    case CS_CLIENT_TASKQ_SEND_DOWNLOAD_INFO:
      AGLOG(AG_LOG_PROGRESS, "CS TASK: Send download info, Action ID : %d", static_cast<int>(actionId));
      if (!SendNotificationToServer(actionId, 1, 1, 27, ctx->rpClient)) {
        AGLOG(AG_LOG_FAILURE, "SendAVDownloadInfo failed");
      }
      break;
    case CS_CLIENT_TASKQ_GET_URLS_FOR_AV_DOWNLOAD:
      AGLOG(AG_LOG_PROGRESS, "CS TASK: Get URLS For Av Download, Action ID : %d", static_cast<int>(actionId));
      if (!SendNotificationToServer(actionId, 1, 1, 28, ctx->rpClient)) {
        AGLOG(AG_LOG_FAILURE, "SendGetUrlReqForAvDownload : Get URLS For Av Download failed");
      }
      break;
    case CS_CLIENT_TASKQ_SEND_PENDING_COMMAND_ACK:
      PerformSendPendingCommandAck(ctx, entry.argument);
      break;
    case CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION:
      PerformSendPendingClientNotification(ctx, entry.argument);
      break;
    case CS_CLIENT_TASKQ_SEND_ENCRYPTION_RECOVERY_REPORTS:
      PerformSendRecoveryReports(ctx);
      break;
    case CS_CLIENT_TASKQ_DISCONNECT_CLIENT:
      PerformDisconnectClient(ctx, entry.argument);
      break;
    case CS_CLIENT_TASKQ_SEND_SP_UPGRADE_STATUS:
      AGLOG(AG_LOG_PROGRESS, "CS TASK: Send SP Upgrade Status ");
      if (!SendUpgradeCmdAck(116, ctx->rpClient)) AGLOG(AG_LOG_FAILURE, "SendSPUpgradeCmdAck failed");
      break;
    case CS_CLIENT_TASKQ_SEND_UP_UPGRADE_STATUS:
      AGLOG(AG_LOG_PROGRESS, "CS TASK: Send UP Upgrade Status ");
      if (!SendUpgradeCmdAck(120, ctx->rpClient)) AGLOG(AG_LOG_FAILURE, "SendSPUpgradeCmdAck failed");
      break;
    default:
      // Ids nobody queues on purpose are dropped without a word.
      break;
  }
}

void SetRpMode(IRPClient* rpClient, bool viaRelay) {
  if (rpClient != nullptr) rpClient->SetRPMode(viaRelay ? 1 : 0);
}

}  // namespace

CTaskQueue* GetRpTaskQueue() { return g_pRpTaskQ.load(); }

bool AddTaskInQ(CTaskQueue* queue, uint32_t argument, uint8_t taskId) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (queue == nullptr) {
    AGLOG(AG_LOG_FAILURE, "g_pRpTaskQ is NULL.");
    return false;
  }
  if (!queue->append(TaskEntry{taskId, argument}, true)) {
    AGLOG(AG_LOG_FAILURE, "Failed to append task(%lu) to CS task queue", static_cast<unsigned long>(taskId));
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool AddTaskWithBlockInQ(CTaskQueue* queue, uint8_t taskId, void* block) {
  if (queue == nullptr || block == nullptr ||
      !queue->append(TaskEntry{taskId, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block))}, true)) {
    AGLOG(AG_LOG_FAILURE, "Failed to append task(%lu) to CS task queue", static_cast<unsigned long>(taskId));
    return false;
  }
  return true;
}

uint32_t RpTaskPerformerThread(CTaskQueue* queue) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (queue == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return 1;
  }
  PerformerContext ctx;
  AGLOG(AG_LOG_PROGRESS, "Creating RP object...");
  // A thread that could not make its object stays and tries again with the
  // next task: a pool whose performers all ended would take tasks nobody
  // performs until the next stop.
  MakeRpObject(&ctx);
  bool registered = RpRegisterThreadForPassiveNotification(ctx.rpClient);
  if (!registered) AGLOG(AG_LOG_FAILURE, "RpRegisterThreadForPassiveNotification() failed.");
  AGLOG(AG_LOG_PROGRESS, "Entering thread pool loop...");

  for (;;) {
    AGLOG(AG_LOG_PROGRESS, "Waiting for an RP task request...");
    SetRpMode(ctx.rpClient, false);
    TaskEntry entry{};
    if (!queue->waitAndRemove(&entry)) break;

    if (registered) {
      const uint32_t reactivate = CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT;
      uint32_t bits = 0;
      if (!RpTakeThreadPassiveNotification(reactivate, &bits)) {
        AGLOG(AG_LOG_FAILURE, "RpGetThreadPassiveNotification() failed.");
      }
      if (bits != 0) {
        AGLOG(AG_LOG_PROGRESS, "Passive notification: client reactivate");
        ctx.ready = ReInitialiseCommunicationObjects(&ctx.rpClient);
        if (!ctx.ready) {
          AGLOG(AG_LOG_FAILURE, "ReInitialiseCommunicationObjects() failed.");
          RpUpdateThreadPassiveNotification(&reactivate, false);
          ReleaseUnperformedTask(entry);
          continue;
        }
      }
    } else {
      registered = RpRegisterThreadForPassiveNotification(ctx.rpClient);
      if (!registered) AGLOG(AG_LOG_FAILURE, "RpRegisterThreadForPassiveNotification() failed.");
    }

    if (!ctx.ready && !MakeRpObject(&ctx)) {
      // Still no object to send with: the task goes back (its stored record
      // is sent by a later heartbeat).
      ReleaseUnperformedTask(entry);
      continue;
    }
    SetRpMode(ctx.rpClient, true);
    PerformTask(&ctx, entry);
  }

  AGLOG(AG_LOG_PROGRESS, "WaitAndRemove() failed. Breaking off from thread pool loop...");
  AGLOG(AG_LOG_PROGRESS, "Out of RP thread pool loop...");
  if (ctx.rpClient != nullptr && !DeInitAndDestroyRpObject(ctx.rpClient)) {
    AGLOG(AG_LOG_FAILURE, "DeInitAndDestroyRpObject() failed.");
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return 0;
}

bool StartRpTaskPerformerThreadPool(PoolStart how) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  PoolState& pool = Pool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  if (how == PoolStart::kOpen) {
    pool.closed = false;
  } else if (pool.closed) {
    AGLOG(AG_LOG_PROGRESS, "Task performer thread pool closed by clean-up. Not starting.");
    return false;
  }
  if (pool.started || g_pRpTaskQ.load() != nullptr) {
    AGLOG(AG_LOG_PROGRESS, "Task performer thread pool ALREADY STARTED!!");
    return true;
  }
  AGLOG(AG_LOG_PROGRESS, "Creating Task performer thread pool");
  pool.size = kPoolSize;
  if (!pool.queue.create(kRpTaskQueueCapacity) || !pool.queue.isAlive()) {
    AGLOG(AG_LOG_FAILURE, "Task queue not alive. Returning failure...");
    pool.size = 0;
    return false;
  }
  CTaskQueue* queue = &pool.queue;
  StartPendingSendBatch();  // failures seen by an earlier pool do not hold this one back
  for (uint32_t i = 0; i < pool.size; ++i) {
    auto thread = platform::Thread::Start([queue] { return RpTaskPerformerThread(queue); }, "ag-task");
    if (thread == nullptr) {
      AGLOG(AG_LOG_FAILURE, "Thread pool creation failed.");
      queue->shutdown();
      DrainQueue(queue);
      for (auto& started : pool.threads) started->Join();
      while (!pool.threads.empty()) pool.threads.pop_back();  // last to first
      pool.size = 0;
      return false;
    }
    pool.threads.push_back(std::move(thread));
  }
  g_pRpTaskQ.store(queue);
  pool.started = true;
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool StopRpTaskPerformerThreadPool(PoolStop how) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  PoolState& pool = Pool();
  std::lock_guard<std::mutex> lock(pool.mutex);
  if (how == PoolStop::kClose) pool.closed = true;
  if (!pool.started || g_pRpTaskQ.load() == nullptr || pool.size == 0) {
    AGLOG(AG_LOG_PROGRESS, "Task performer thread pool ALREADY STOPPED!!");
    return true;
  }
  g_pRpTaskQ.store(nullptr);
  if (pool.queue.shutdown()) DrainQueue(&pool.queue);
  for (auto& thread : pool.threads) thread->Join();
  pool.threads.clear();
  pool.started = false;
  pool.size = 0;
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}
