// Send-frequency bookkeeping of the installation-status notification.
#pragma once

#include <cstdint>

inline constexpr uint32_t CSP_CMD_ID_GET_CLIENT_AV_INSTALLATION_STATUS = 114;

bool EventTimeElapsed(uint32_t eventId, int32_t* firstTime);
bool AddLastSyncTimeInDB(uint32_t eventId);
