// One mutex guards the entries and the state flags; consumers wait on a
// condition variable. A consumer takes an entry only while holding the mutex,
// so two consumers never take the same entry, and an entry is visible only
// once fully queued.
#include "core/rpclcore/task_queue.h"

#include <algorithm>

bool CTaskQueue::create(uint32_t capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (capacity == 0) return false;
  capacity_ = capacity;
  alive_ = true;
  shutDown_ = false;
  return true;
}

bool CTaskQueue::isAlive() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return alive_;
}

bool CTaskQueue::append(const TaskEntry& entry, bool checkDuplicate) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!alive_ || shutDown_) return false;
    if (entries_.size() >= capacity_) return false;
    if (checkDuplicate && std::find(entries_.begin(), entries_.end(), entry) != entries_.end()) return true;
    entries_.push_back(entry);
  }
  ready_.notify_one();
  return true;
}

bool CTaskQueue::waitAndRemove(TaskEntry* entry) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (entry == nullptr || !alive_ || shutDown_) return false;
  ++waiters_;
  ready_.wait(lock, [this] { return shutDown_ || !entries_.empty(); });
  --waiters_;
  // A consumer woken by shutdown finds nothing to take, even when entries
  // are still linked: those are drained by whoever stopped the queue.
  if (shutDown_) return false;
  *entry = entries_.front();
  entries_.pop_front();
  return true;
}

bool CTaskQueue::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!alive_) return false;
    shutDown_ = true;
  }
  ready_.notify_all();
  return true;
}

bool CTaskQueue::tryRemove(TaskEntry* entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entry == nullptr || entries_.empty()) return false;
  *entry = entries_.front();
  entries_.pop_front();
  return true;
}

uint32_t CTaskQueue::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint32_t>(entries_.size());
}

uint32_t CTaskQueue::room() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!alive_ || shutDown_ || entries_.size() >= capacity_) return 0;
  return capacity_ - static_cast<uint32_t>(entries_.size());
}

uint32_t CTaskQueue::waiterCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiters_;
}
