// CTaskQueue: the bounded FIFO of task entries between producers and the
// two task-performer threads.
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
  ~CTaskQueue();
  CTaskQueue(const CTaskQueue&) = delete;
  CTaskQueue& operator=(const CTaskQueue&) = delete;

  bool create(uint32_t capacity);
  bool isAlive() const;
  bool append(const TaskEntry& entry, bool checkDuplicate);
  bool waitAndRemove(TaskEntry* entry);
  bool shutdown();
  // Takes one queued entry without waiting (used to drain at stop).
  bool tryRemove(TaskEntry* entry);
  uint32_t count() const;

 private:
  mutable std::mutex mutex_;         // guards everything below
  std::condition_variable ready_;
  std::deque<TaskEntry> entries_;
  uint32_t capacity_ = 0;
  uint32_t waiters_ = 0;
  bool alive_ = false;
  bool shutDown_ = false;
};
