// The start-up and clean-up sequences behind the two exports. The exports
// (entry_points.cc) log "Entry" and check their arguments; these run the rest
// on the service's thread. Their log lines carry the name of the export they
// belong to, since that is the routine the service called.
#pragma once

#include <cstdint>

struct CaCoreParam;

// The start-up steps after the argument checks: core parameter record and
// clean-up event, then the sequence up to the RP client object. `args` holds
// the start-up arguments (copied into the heap record). True = running.
bool RunClientAgentCoreStartUp(const CaCoreParam& args);
// The clean-up steps after the argument check. Always completes.
void RunClientAgentCoreCleanUp(uint8_t bNotifyOffline);

// Local UDI generation through the device-id library "libagdevid.so", loaded
// from the core library's own folder first. `size` is the buffer size.
bool ASGenerateClientUDI(char* buffer, uint32_t size);

// Log-line routine names of the two sequences.
inline constexpr const char* kStartUpRoutine = "ClientAgentCoreStartUp";
inline constexpr const char* kCleanUpRoutine = "ClientAgentCoreCleanUp";

// The call of the device-id export and the reading of its result, apart from
// the loading so that the result rules can be exercised with any function.
bool CallGenerateUDI(uint16_t (*generate)(char* buffer, int32_t* pLength), char* buffer, uint32_t size);
