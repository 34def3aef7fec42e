// User-session events (the agent's WTSWaitSystemEvent) and the active-session
// look-up, from utmp.
//
// A logon event is a new USER_PROCESS entry in utmp (watched with inotify on
// the utmp file); the POSIX backend has no notion of reconnecting to a
// session, so connect events only come from InjectSessionEvent(). Events that
// happen while nobody waits are kept (OR-ed together) for the next wait whose
// mask matches, so a logon between two waits of the consent thread is not
// lost. When utmp cannot be watched (missing file, no inotify) waits still
// return on injected events and on a flush, and retry the watch every few
// seconds.
//
// FlushSessionEventWaits() wakes every thread blocked in WaitForSessionEvent
// with flags 0. A flush that finds no waiter is kept for the next wait, so a
// thread that was between two waits when clean-up flushed still stops.
//
// Thread safety: all functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/export.h"

namespace platform {

inline constexpr uint32_t kSessionEventConnect = 0x08;
inline constexpr uint32_t kSessionEventLogon = 0x20;

// Blocks until a session event in `mask` happens (flags = the events that
// happened, limited to `mask`) or a flush (flags = 0). False only when `flags`
// is null or the wait cannot be set up at all.
AG_PLATFORM_EXPORT bool WaitForSessionEvent(uint32_t mask, uint32_t* flags);
AG_PLATFORM_EXPORT void FlushSessionEventWaits();
// Delivers `flags` as if the session source had reported them (tests, demos).
AG_PLATFORM_EXPORT void InjectSessionEvent(uint32_t flags);

// The utmp file the session functions read (the system's, normally). Tests
// point it at a file of their own; an empty path restores the system's.
// Logins already in the file are taken as known: only later ones are events
// (without a call, the first wait takes that snapshot).
AG_PLATFORM_EXPORT void SetUtmpPath(const std::string& path);
AG_PLATFORM_EXPORT std::string UtmpPath();

// Session id (utmp ut_session, or the login process id when that is 0) of
// the first USER_PROCESS entry whose process is alive; -1 when there is none.
AG_PLATFORM_EXPORT int64_t FirstActiveSession();

}  // namespace platform
