// Per-thread passive notifications: bits posted for one or all registered
// threads, read and cleared by each thread when it next wakes.
#pragma once

#include <cstdint>

inline constexpr uint32_t CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER = 1;
inline constexpr uint32_t CA_THREAD_PASSIVE_NOTIFICATION_HEARTBEAT_INTERVAL_CHANGED = 2;
inline constexpr uint32_t CA_THREAD_PASSIVE_NOTIFICATION_REACTIVATE_CLIENT = 4;

bool RpRegisterThreadForPassiveNotification(void* context);
bool RpGetThreadPassiveNotification(uint32_t* bits);
// Reads the calling thread's bits of `mask` and clears them in the same step,
// so a bit posted while the thread acts on the last one stays set for its
// next look. A thread that cannot finish acting on a bit posts it to itself
// again (RpUpdateThreadPassiveNotification with clear false).
bool RpTakeThreadPassiveNotification(uint32_t mask, uint32_t* bits);
bool RpGetThreadContext(void** context);
bool RpUpdateThreadPassiveNotification(const uint32_t* value, bool clear);
bool RpUpdatePassiveNotificationForAllThreads(const uint32_t* value, bool clear);
// Empties the registry (start-up and tests).
void RpResetPassiveNotificationRegistry();
