// The RP task queue and its pool of two task-performer threads.
//
// Start and stop are called from start-up, the heartbeat thread and clean-up;
// appends come from any thread. Each performer thread owns an RP client
// object of its own for its whole life; one it could not make is tried again
// with the next task, and a task taken meanwhile is handed back. A task whose argument is a heap block
// (tasks 6, 14 and 15) hands the block to the queue on a successful append
// and to the performer on removal; a block still queued when the pool stops
// is released by the stop (and its pending-record lease returned).
#pragma once

#include <cstdint>

#include "core/rpclcore/task_queue.h"

inline constexpr uint8_t CS_CLIENT_TASKQ_FETCH_AND_APPLY_POLICY = 5;
inline constexpr uint8_t CS_CLIENT_TASKQ_UNINSTALL_CLIENT = 6;
inline constexpr uint8_t CS_CLIENT_TASKQ_SEND_CLIENT_REPORTS = 7;
inline constexpr uint8_t CS_CLIENT_TASKQ_SEND_INSTALLATION_STATUS = 8;
inline constexpr uint8_t CS_CLIENT_TASKQ_UNINSTALL_CLIENT_SILENTLY = 9;
inline constexpr uint8_t CS_CLIENT_TASKQ_SEND_DOWNLOAD_INFO = 10;
inline constexpr uint8_t CS_CLIENT_TASKQ_GET_URLS_FOR_AV_DOWNLOAD = 13;
inline constexpr uint8_t CS_CLIENT_TASKQ_SEND_PENDING_COMMAND_ACK = 14;
inline constexpr uint8_t CS_CLIENT_TASKQ_SEND_PENDING_CLIENT_NOTIFICATION = 15;
inline constexpr uint8_t CS_CLIENT_TASKQ_SEND_ENCRYPTION_RECOVERY_REPORTS = 16;
inline constexpr uint8_t CS_CLIENT_TASKQ_DISCONNECT_CLIENT = 30;
inline constexpr uint8_t CS_CLIENT_TASKQ_SEND_SP_UPGRADE_STATUS = 116;
inline constexpr uint8_t CS_CLIENT_TASKQ_SEND_UP_UPGRADE_STATUS = 120;

inline constexpr uint32_t kRpTaskQueueCapacity = 200;

// The process-wide queue; null while the pool is not running.
CTaskQueue* GetRpTaskQueue();
bool AddTaskInQ(CTaskQueue* queue, uint32_t argument, uint8_t taskId);
// Appends a task whose argument is a heap block (malloc) owned by the task.
// On failure the block stays with the caller.
bool AddTaskWithBlockInQ(CTaskQueue* queue, uint8_t taskId, void* block);
// Start-up opens the pool; the heartbeat thread's own start, which may come
// after clean-up already stopped the pool, starts it only while it is open.
enum class PoolStart { kOpen, kUnlessClosed };
// Clean-up closes the pool: no start but start-up's starts it again.
enum class PoolStop { kKeepOpen, kClose };
bool StartRpTaskPerformerThreadPool(PoolStart how = PoolStart::kOpen);
bool StopRpTaskPerformerThreadPool(PoolStop how = PoolStop::kKeepOpen);
uint32_t RpTaskPerformerThread(CTaskQueue* queue);
