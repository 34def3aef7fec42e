// Finding, loading and subscribing to the unified agent's integration
// library "uaint.dll" (libuaint.so), which lives in the folder that the App
// Paths entry of "UAAGENT.EXE" names.
//
// Process-wide state: the loaded library and the subscribed flag. Both are
// guarded by one recursive lock that every routine here and every message to
// the unified agent (xuacomm.h) holds from its connection step to its last
// call into the library, so an unload on one thread waits until a message on
// another has returned from the library, and never frees it under that call.
// The lock is recursive because a subscription that fails half-way ends
// itself (UnsubcribeCommnWithXUA -> UnloadUaintLibrary) under the same lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/dynlib.h"
#include "platform/registry.h"

inline constexpr const char* kUaintLibraryName = "uaint.dll";

// True when the App Paths key of "UAAGENT.EXE" exists under the local machine.
bool IsXUAInstalled();
// True when `keyPath` (at most 259 units) exists under `root`; only the key
// is tested, not any of its values.
bool IsRegKeyValuePresent(platform::RegistryHive root, const char16_t* keyPath);
// The unified agent's folder: the "Path" value of its App Paths key, UTF-8,
// at most `size` bytes with the NUL.
bool GetQuoltAgentPath(char* buffer, uint32_t size);
// Loads `dllName` from the unified agent's folder; the name is appended to
// the stored "Path" as it is (that value ends in a separator). Not loaded on
// failure.
platform::DynamicLibrary LoadDllFromQuoltAgentDir(const char* dllName);

bool SubscribeForXUACommn();
bool UnsubcribeCommnWithXUA();
void UnloadUaintLibrary();
// Handed to the library; notifications from the unified agent are not acted on.
void CallbackForNotification(const char* json);

// The lock around the library. Hold it across the connection step and every
// call into the library that follows.
std::unique_lock<std::recursive_mutex> LockUaintLibrary();
// The connection step of the messages: true when subscribed with the library
// loaded, otherwise the result of a new subscription (a failure is logged as
// "SubscribeForXUACommn failed" under `routine`). Call with the lock held.
bool ConnectToXUA(const char* routine);
// An export of the loaded library, or null with the system code in `error`.
// Call with the lock held.
void* ResolveUaintExport(const char* name, uint32_t* error);
