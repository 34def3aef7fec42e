// Bounds that the transport applies to everything it receives, so that a
// misbehaving server or relay cannot make the agent allocate without limit.
#pragma once

#include <cstddef>

namespace agtransport {

// Largest response body accepted; a longer body fails the call.
inline constexpr size_t kMaxResponseBytes = 4 * 1024 * 1024;
// A command GUID is handed on into 100-byte records (the acknowledgement's
// GUID field), so longer GUIDs are cut to 99 characters.
inline constexpr size_t kMaxCommandGuidChars = 99;
// Commands one answer may hand to the agent. The agent works through them on
// its heartbeat thread, one exchange each, so a flood would hold up the next
// heartbeat; commands past this many are refused (left out, never
// acknowledged) and the server sends them again.
inline constexpr size_t kMaxCommandsPerResponse = 100;

}  // namespace agtransport
