// The two exports of libagcore, called by the agent's service process: start-up
// when the service starts, clean-up when it stops, each once and from the same
// thread. Everything else in the library runs on the threads and callbacks
// that start-up creates. These are the library's only visible symbols.
#pragma once

#include <cstdint>

#define AGCORE_EXPORT __attribute__((visibility("default")))

extern "C" {
// Arguments 3 to 14 are kept in the core parameter record; only the checks
// below depend on them. connectionType: 0, 1 or 2; with 1 or 2 the
// certificate and key files are required.
AGCORE_EXPORT uint8_t ClientAgentCoreStartUp(const char* certFile, const char* keyFile, const char16_t* wideText,
                                             const char* text, uint16_t a, uint16_t b, uint16_t c, uint16_t d,
                                             uint64_t unused, uint32_t e, uint32_t f, uint32_t g, uint32_t h,
                                             uint8_t flag, uint32_t connectionType);
// The first four arguments must be non-null (their values do not matter);
// 5 to 9 are not used.
AGCORE_EXPORT uint8_t ClientAgentCoreCleanUp(void* p1, void* p2, void* p3, void* p4, uintptr_t x5, uintptr_t x6,
                                             uintptr_t x7, uintptr_t x8, uintptr_t x9, uint8_t bNotifyOffline);
}

using PFN_CLIENT_AGENT_CORE_STARTUP = decltype(&ClientAgentCoreStartUp);
using PFN_CLIENT_AGENT_CORE_CLEANUP = decltype(&ClientAgentCoreCleanUp);
