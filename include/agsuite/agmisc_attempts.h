// The support library's record of connection attempts, for operators: when
// the transport last sent a request to the server or relay, answered or not.
// Read back by the status tool next to the last connected time (agmisc.h);
// exported by libagmisc like the rest of its C interface.
#pragma once

#include <agsuite/agmisc.h>

#include <cstdint>

extern "C" {

AG_SUITE_EXPORT uint8_t SetLastAttemptTime(uint64_t secondsSince1970);

}  // extern "C"
