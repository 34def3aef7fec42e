// Carrying out one server command for the core (the catalogue is in
// docs/messages.md). A command may change the client data store, tell the
// protection product, raise an event on the core's notification callback,
// produce an acknowledgement payload, or produce response entries that the
// core pushes to the server (an entry with id 104).
//
// Runs on the thread of the response generator that received the command.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "payloads.h"

namespace agresp {

struct CommandOutcome {
  std::string ack_payload;                                 // for kind-4 commands
  std::vector<std::pair<uint32_t, std::string>> entries;  // (data id, payload)
};

// False when the command could not be carried out (the core acknowledges it
// as failed). `callback` may be null; commands that need it then fail.
[[nodiscard]] bool CarryOutCommand(const CSPRequest& request, PFN_NOTIFY_CLIENT_CORE callback,
                                   PayloadBuilder& payloads, CommandOutcome* outcome);

}  // namespace agresp
