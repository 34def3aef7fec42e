// Starting programs, finding running processes, and the security attributes
// that make the agent's named events settable by every user.
//
// ShellStart is the agent's ShellExecuteEx: the program starts with
// posix_spawn (PATH search for bare names). Every verb means "open": the
// agent only opens programs. Parameters are split on blanks, with double
// quotes grouping. Without waiting it returns once the
// child exists; a reaper thread collects such children so none is left a
// zombie. The show flag has no meaning without a desktop and is ignored.
//
// FindProcessByName scans /proc: the base name of each process's executable
// (the /proc/<pid>/exe link, or argv[0] when the link is not readable)
// compared without regard to ASCII case. A wanted name ending in ".exe" also
// matches an executable of the same name without that extension, since the
// suite's Linux programs carry no ".exe".
//
// Thread safety: all functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/export.h"

namespace platform {

// SystemFolder() followed by `name`.
AG_PLATFORM_EXPORT std::string SystemLibraryPath(std::string_view name);

struct ShellStartResult {
  bool ok = false;
  uint32_t error = 0;      // Windows error code when !ok
  uint32_t exit_code = 0;  // when started with wait
};
// `file` null fails with kErrorInvalidParameter. `verb`, `parameters` and
// `folder` may be null. With `wait`, blocks until the program ends (no
// time-out, as the caller asks) and reports its exit code (128 + signal number
// when it was killed by a signal).
AG_PLATFORM_EXPORT ShellStartResult ShellStart(const char* file, const char* verb, const char* parameters,
                                               bool wait, bool show, const char* folder);

// Starts `file` with exactly `arguments` as its argv after argv[0]: no
// splitting and no quoting, so a caller's text can never become two words.
// `folder` may be null. Waits as ShellStart does.
AG_PLATFORM_EXPORT ShellStartResult StartProgram(const char* file, const std::vector<std::string>& arguments,
                                                 bool wait, const char* folder);

// Error codes of FindProcessByName.
inline constexpr uint32_t kFindProcessBadArgument = 1001;  // null name or output
inline constexpr uint32_t kFindProcessNoProcfs = 1002;     // /proc is not mounted
inline constexpr uint32_t kFindProcessListFailed = 1003;   // /proc cannot be listed
inline constexpr uint32_t kFindProcessNoImageInfo = 1004;  // /proc gives no executable names
inline constexpr uint32_t kFindProcessNotFound = 1005;
// True with the lowest matching pid; false with `error` set.
AG_PLATFORM_EXPORT bool FindProcessByName(const char* name, uint32_t* process_id, uint32_t* error);

// Windows access right that lets a holder set and reset an event.
inline constexpr uint32_t kEventModifyState = 0x0002;

// What a named object grants to users other than its creator.
struct SecurityAttributes {
  uint32_t everyone_access = 0;  // Windows access mask granted to Everyone
};

// Holds security attributes that grant Everyone an access mask, as the agent
// builds them for its named events; Release() (or the destructor) frees them.
class AG_PLATFORM_EXPORT EveryoneSecurityAttributes {
 public:
  EveryoneSecurityAttributes() = default;
  EveryoneSecurityAttributes(const EveryoneSecurityAttributes&) = delete;
  EveryoneSecurityAttributes& operator=(const EveryoneSecurityAttributes&) = delete;

  // Builds the attributes; `out` then points into this holder until Release.
  bool Build(uint32_t access_mask, const SecurityAttributes** out);
  void Release();

 private:
  SecurityAttributes attributes_;
};

}  // namespace platform
