// CTaskQueue: the bounded FIFO of task entries between producers (heartbeat,
// installation-status thread, core notification callback) and the two
// task-performer threads.
//
// Any thread may append; consumers block in waitAndRemove until an entry is
// there or the queue is shut down. shutdown() wakes every blocked consumer
// (each then fails), and from then on appends and waits fail; entries still
// queued stay for tryRemove, so whoever stops the queue can release what
// they own. The queue owns nothing but the entries themselves: a heap block
// named by an entry's argument belongs to whoever holds the entry.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#pragma pack(push, 1)
struct TaskEntry {
  uint8_t taskId;
  uint64_t argument;
  bool operator==(const TaskEntry& other) const = default;
};
#pragma pack(pop)
static_assert(sizeof(TaskEntry) == 9);

class CTaskQueue {
 public:
  CTaskQueue() = default;
  ~CTaskQueue() = default;
  CTaskQueue(const CTaskQueue&) = delete;
  CTaskQueue& operator=(const CTaskQueue&) = delete;

  bool create(uint32_t capacity);
  bool isAlive() const;
  // With checkDuplicate, an entry equal to one already queued is not added
  // again and the append still succeeds.
  bool append(const TaskEntry& entry, bool checkDuplicate);
  bool waitAndRemove(TaskEntry* entry);
  bool shutdown();
  // Takes one queued entry without waiting, also after shutdown (used to
  // drain at stop).
  bool tryRemove(TaskEntry* entry);
  uint32_t count() const;
  // Entries that can still be appended (0 once shut down).
  uint32_t room() const;
  // Consumers currently blocked in waitAndRemove.
  uint32_t waiterCount() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;   // signalled on append and on shutdown
  std::deque<TaskEntry> entries_;   // guarded by mutex_
  uint32_t capacity_ = 0;           // guarded by mutex_
  uint32_t waiters_ = 0;            // guarded by mutex_
  bool alive_ = false;              // guarded by mutex_
  bool shutDown_ = false;           // guarded by mutex_
};
