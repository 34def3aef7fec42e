// Names of the rows the library keeps in the client_values table of the
// client data store. Shared with the read-only status tool, which reads the
// same rows without going through the library.
#pragma once

namespace agmisc {

inline constexpr const char* kGuidValue = "client_guid";
inline constexpr const char* kUdiValue = "client_udi";
// 4 bytes: 0 never connected, 1 direct, 2 through the relay.
inline constexpr const char* kConnectionStatusValue = "connection_status";
// 8 bytes: seconds since 1970 of the last heartbeat answered by the server.
inline constexpr const char* kLastConnectedValue = "last_connected_time";
// 8 bytes: seconds since 1970 of the last request sent, answered or not.
inline constexpr const char* kLastAttemptValue = "last_attempt_time";

}  // namespace agmisc
