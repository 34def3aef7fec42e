// The callback through which the messaging libraries hand work to the core.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int32_t CA_NOTIFY_EVENT_ID_FETCH_AND_APPLY_POLICY_FROM_CS = 24;
inline constexpr int32_t CA_NOTIFY_EVENT_ID_CLIENT_UNREGISTER = 26;
inline constexpr int32_t CA_NOTIFY_EVENT_ID_HEARTBEAT_INTERVAL_CHANGED = 27;
inline constexpr int32_t CA_NOTIFY_EVENT_ID_REACTIVATE_CLIENT = 28;
inline constexpr int32_t CA_NOTIFY_EVENT_ID_SERVER_FORCE_SYNC = 29;
inline constexpr int32_t CA_NOTIFY_EVENT_ID_SERVER_DISCONNECT_CLIENT = 30;
inline constexpr int32_t CA_NOTIFY_EVENT_ID_UNAUTH_DEVICE_ACCESS = 31;
inline constexpr int32_t CA_NOTIFY_EVENT_ID_ENCRYPTION_RECOVERY = 32;
inline constexpr int32_t CA_NOTIFY_EVENT_ID_OTP_STATUS = 33;

uint8_t NotifyClientCoreForRpTask(int32_t eventId, int64_t param);
std::string GetOTPPayload(int64_t statusCode);
