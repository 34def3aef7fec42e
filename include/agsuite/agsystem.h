// The system library (libagsystem): the clean-up entry the core calls while
// it stops.
#pragma once

#include <cstdint>

#define AG_SUITE_EXPORT __attribute__((visibility("default")))

extern "C" {
// Releases what the system library holds; writes its status word (0 = fine).
AG_SUITE_EXPORT void SystemCleanUpCall(uint32_t* pdwStatus);
}
