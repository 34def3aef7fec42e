// Turning a server's response body into the ServerResponse record that the
// RP client hands to the agent core, and releasing that record.
//
// The record and everything it points at is allocated here and belongs to the
// transport library until ReleaseServerResponse (the RP client's
// FreeServerResponse) gives it back. The parser needs no network and keeps no
// state, so any thread may call it; it is also the fuzz target's entry point.
//
// Accepted body (see docs/protocol.md):
//   {"success": true|false|0|1,
//    "errorCodes": [uint32, ...],                       optional
//    "commands": [{"leading": uint32, "guid": "...",    optional
//                  "command": {"cmd": {...}}}, ...]}
// Anything else (not JSON, a comment, text after the value, a NUL byte, wrong
// types, too long) is refused with a reason.
#pragma once

#include <agsuite/agmsg.h>

#include <string>
#include <string_view>

namespace agtransport {

// Parses `body`. On success returns a new record and, when asked, puts into
// `refused_commands` how many commands past kMaxCommandsPerResponse were left
// out; on failure returns null and puts a one-line reason into `error`.
[[nodiscard]] ServerResponse* ParseServerResponse(std::string_view body, std::string* error,
                                                  size_t* refused_commands = nullptr);

// Frees a record made by ParseServerResponse (null is allowed).
void ReleaseServerResponse(ServerResponse* response);

}  // namespace agtransport
