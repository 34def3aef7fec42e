// The passive-notification registry: one process-wide array of {thread id,
// bits, context}, guarded by one mutex. Entries are never removed, so a
// thread id appears at most once for the life of the process (or until the
// registry is reset by start-up).
#include "core/rpclcore/passive_notifications.h"

#include <mutex>
#include <vector>

#include "core/common/aglog.h"
#include "platform/thread.h"

namespace {

struct PassiveEntry {
  uint32_t threadId;
  uint32_t bits;
  void* context;
};

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<PassiveEntry>& Registry() {  // guarded by RegistryMutex()
  static std::vector<PassiveEntry> registry;
  return registry;
}

// The calling thread's entry; the registry lock must be held.
PassiveEntry* FindCurrentThread() {
  const uint32_t id = platform::CurrentThreadId();
  for (PassiveEntry& entry : Registry()) {
    if (entry.threadId == id) return &entry;
  }
  return nullptr;
}

// Runs `action` on the calling thread's entry under the registry lock; false
// when the thread is not registered.
template <typename Action>
bool WithCurrentThreadEntry(Action action) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  PassiveEntry* entry = FindCurrentThread();
  if (entry == nullptr) return false;
  action(*entry);
  return true;
}

void ApplyUpdate(PassiveEntry* entry, uint32_t value, bool clear) {
  if (clear) {
    entry->bits &= ~value;
  } else {
    entry->bits |= value;
  }
}

}  // namespace

bool RpRegisterThreadForPassiveNotification(void* context) {
  AGLOG(AG_LOG_VERBOSE, "Entry.");
  const uint32_t id = platform::CurrentThreadId();
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    AGLOG(AG_LOG_VERBOSE, "Acquired Lock (%x).", id);
    if (FindCurrentThread() == nullptr) Registry().push_back({id, 0, context});
    AGLOG(AG_LOG_VERBOSE, "Leaving Lock (%x).", id);
  }
  AGLOG(AG_LOG_VERBOSE, "Exit.");
  return true;
}

bool RpGetThreadPassiveNotification(uint32_t* bits) {
  AGLOG(AG_LOG_VERBOSE, "Entry.");
  if (bits == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return false;
  }
  const bool found = WithCurrentThreadEntry([bits](const PassiveEntry& entry) { *bits = entry.bits; });
  AGLOG(AG_LOG_VERBOSE, "Exit.");
  return found;
}

bool RpTakeThreadPassiveNotification(uint32_t mask, uint32_t* bits) {
  if (bits == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return false;
  }
  *bits = 0;
  return WithCurrentThreadEntry([mask, bits](PassiveEntry& entry) {
    *bits = entry.bits & mask;
    entry.bits &= ~mask;
  });
}

bool RpGetThreadContext(void** context) {
  AGLOG(AG_LOG_VERBOSE, "Entry.");
  if (context == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return false;
  }
  *context = nullptr;
  const bool found = WithCurrentThreadEntry([context](const PassiveEntry& entry) { *context = entry.context; });
  if (found) AGLOG(AG_LOG_VERBOSE, "Found entry! Returning context...");
  AGLOG(AG_LOG_VERBOSE, "Exit.");
  return found;
}

bool RpUpdateThreadPassiveNotification(const uint32_t* value, bool clear) {
  AGLOG(AG_LOG_VERBOSE, "Entry.");
  if (value == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return false;
  }
  const bool found =
      WithCurrentThreadEntry([value, clear](PassiveEntry& entry) { ApplyUpdate(&entry, *value, clear); });
  AGLOG(AG_LOG_VERBOSE, "Exit.");
  return found;
}

bool RpUpdatePassiveNotificationForAllThreads(const uint32_t* value, bool clear) {
  AGLOG(AG_LOG_VERBOSE, "Entry.");
  if (value == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    for (PassiveEntry& entry : Registry()) ApplyUpdate(&entry, *value, clear);
  }
  AGLOG(AG_LOG_VERBOSE, "Exit.");
  return true;
}

void RpResetPassiveNotificationRegistry() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().clear();
}
