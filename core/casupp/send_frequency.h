// Send-frequency bookkeeping of the installation-status notification: per
// event id, a frequency (minutes) and the time of the last successful send,
// kept in the event table of the client data store.
//
// No lock of its own: each call opens and closes its own store handle, and
// the support library serialises the table. Any thread may call.
#pragma once

#include <cstdint>

inline constexpr uint32_t CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS = 114;

// True when the event is due. `firstTime` (cleared by the caller) becomes 1
// when the table holds no usable row yet; the caller then sends anyway.
bool EventTimeElapsed(uint32_t eventId, int32_t* firstTime);
// Records "sent now" for event 114; other ids are refused.
bool AddLastSyncTimeInDB(uint32_t eventId);
