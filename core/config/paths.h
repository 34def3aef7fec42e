// Folders, App Paths look-ups, the agent's version text and the
// secure-protocols repair.
#pragma once

#include <cstdint>

bool GetModuleFolder(char16_t* buffer, uint32_t sizeUnits);
bool CFGetVornexPath(char* buffer, uint32_t size);
bool IsOldUpdateManagerPresent(bool* found, char16_t* path, uint32_t sizeUnits);
bool IsUpdateManagerPresent(bool* found);
bool ChkSecureProtocolKey();
// `full`: "a.b.c.d" instead of "a.b"; buffer of 20 bytes.
bool GetClientVersion(char* buffer, uint32_t size, bool full);
// True when the App Paths entry of `exeName` has a "Path" value.
bool AppPathExists(const char16_t* exeName);
