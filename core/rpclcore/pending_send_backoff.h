// Back-off of the task performers' resends of pending records (tasks 14 and
// 15). Each heartbeat's follow-up work queues one batch of them; once a few
// resends in a row have failed, the server is taken to be unreachable or
// refusing, and the rest of the batch is not tried: those records go back to
// the client data store as they were, to be queued by a later heartbeat.
//
// Sends in flight count towards the limit, so that two performers together
// never make more than kPendingSendFailureLimit failed attempts in a row.
// Thread safety: all functions may be called from any thread.
#pragma once

#include <cstdint>

inline constexpr uint32_t kPendingSendFailureLimit = 3;

// A new batch is queued: its records are tried again.
void StartPendingSendBatch();
// True when the caller may send now (and must then call EndPendingSend);
// false once the batch has backed off.
bool BeginPendingSend();
void EndPendingSend(bool sent);
