// Copying single-byte texts into the fixed buffers of the configuration
// routines, with the failure rule of the system's safe string calls: a text
// that does not fit is cut (still terminated) and the copy reports failure.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

inline bool BoundedCopy(char* buffer, size_t size, std::string_view text) {
  if (buffer == nullptr || size == 0) return false;
  const size_t copied = text.size() < size ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), copied);
  buffer[copied] = '\0';
  return copied == text.size();
}
