// Block address -> lease of the client data store. Producers remember a
// lease when they queue a heap copy; whichever thread ends the copy's life
// (performer, producer on a failed append, pool stop) completes or returns it.
#include "core/casupp/pending_leases.h"

#include <map>
#include <mutex>
#include <optional>

#include "core/common/aglog.h"
#include "core/siblings/client_store.h"

namespace {

std::mutex& LeaseMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<const void*, uint64_t>& Leases() {  // guarded by LeaseMutex()
  static std::map<const void*, uint64_t> leases;
  return leases;
}

// Removes and gives back the lease of `block`. The store call is made after
// the lock is released: the block address may be reused by a new lease the
// moment it is freed, so the entry must be gone before then.
std::optional<uint64_t> TakeLease(const void* block) {
  std::lock_guard<std::mutex> lock(LeaseMutex());
  auto it = Leases().find(block);
  if (it == Leases().end()) return std::nullopt;
  const uint64_t recordId = it->second;
  Leases().erase(it);
  return recordId;
}

}  // namespace

void RememberPendingLease(const void* block, uint64_t recordId) {
  if (block == nullptr) return;
  std::lock_guard<std::mutex> lock(LeaseMutex());
  Leases()[block] = recordId;
}

void CompletePendingLease(const void* block) {
  const std::optional<uint64_t> recordId = TakeLease(block);
  if (recordId && !CompleteClientPendingTask(*recordId)) {
    AGLOG(AG_LOG_PASSED_OVER, "CompleteClientPendingTask failed for record %llu",
          static_cast<unsigned long long>(*recordId));
  }
}

void ReturnPendingLease(const void* block) {
  const std::optional<uint64_t> recordId = TakeLease(block);
  if (recordId && !ReturnClientPendingTask(*recordId)) {
    AGLOG(AG_LOG_PASSED_OVER, "ReturnClientPendingTask failed for record %llu",
          static_cast<unsigned long long>(*recordId));
  }
}
