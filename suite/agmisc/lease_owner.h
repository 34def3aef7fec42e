// Who holds a pending-record lease. A lease names its process by boot id,
// process id and the process's start time (clock ticks after boot), so that a
// lease of a process that has ended - or whose id was reused, or that lived
// before the last reboot - is recognised as abandoned. Thread-safe.
#pragma once

#include <string>

namespace agmisc {

// The lease owner text of the calling process ("<boot id>/<pid>/<start>").
// Computed per call, so a forked child gets its own.
[[nodiscard]] std::string CurrentLeaseOwner();

// True while the process that wrote `owner` still runs (a zombie counts as
// ended). Unparsable text counts as ended, so its records are handed out again.
[[nodiscard]] bool IsLeaseOwnerAlive(const std::string& owner);

}  // namespace agmisc
