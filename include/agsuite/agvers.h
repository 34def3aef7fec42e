// The version library (libagvers): the product version of the agent
// installed in a folder, as four 8-bit parts.
#pragma once

#include <cstdint>

#define AG_SUITE_EXPORT __attribute__((visibility("default")))

extern "C" {
AG_SUITE_EXPORT uint8_t GetProductVersion(const char16_t* folder, uint8_t parts[4]);
}
