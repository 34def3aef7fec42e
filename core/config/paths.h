// Folders, App Paths look-ups, the agent's version text and the
// secure-protocols repair.
//
// Registry values come from the local-machine and users hives of the
// platform registry (platform/registry.h); folders are UTF-16 and end in a
// separator. Stateless: any thread may call any routine.
#pragma once

#include <cstdint>

// The running executable's folder.
bool GetModuleFolder(char16_t* buffer, uint32_t sizeUnits);
// The protection product's folder (App Paths "avscan.exe"), UTF-8.
bool CFGetVornexPath(char* buffer, uint32_t size);
// Any update manager older than 10.14 registered under App Paths; `path`
// (optional) receives its "Path", cut to fit.
bool IsOldUpdateManagerPresent(bool* found, char16_t* path, uint32_t sizeUnits);
// The 10.14 update manager registered under App Paths.
bool IsUpdateManagerPresent(bool* found);
// Start-up repair: deletes a "SecureProtocols" value of 0 for the local
// system account on Windows 10.
bool ChkSecureProtocolKey();
// `full`: "a.b.c.d" instead of "a.b"; buffer of 20 bytes.
bool GetClientVersion(char* buffer, uint32_t size, bool full);
// True when the App Paths entry of `exeName` has a "Path" value (of at most
// 129 units, the size the agent reads App Paths values with).
bool AppPathExists(const char16_t* exeName);
