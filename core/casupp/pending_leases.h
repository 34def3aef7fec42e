// Which lease of the client data store a queued pending-record task stands
// for. The heartbeat's follow-up work leases pending records (lists 14 and 15)
// and queues a heap copy of each; the lease is completed once a performer has
// sent the copy (or stored it again as a new record), and returned when the
// copy never reached a performer (full queue, stop), so that nothing is lost
// and nothing confirmed is sent again.
#pragma once

#include <cstdint>

void RememberPendingLease(const void* block, uint64_t recordId);
// Completes the lease of `block` (no-op for a block without one).
void CompletePendingLease(const void* block);
// Returns the lease of `block` to the store (no-op for a block without one).
void ReturnPendingLease(const void* block);
