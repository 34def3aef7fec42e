// The library's one logging macro: every line goes to the event log under the
// module name "agmisc.so" with the calling routine's name.
#pragma once

#include <agsuite/agevtlog.h>

namespace agmisc {
inline constexpr const char* kModuleName = "agmisc.so";
}  // namespace agmisc

#define AGMISC_LOG(level, ...) \
  ::AgEvtLogWrite((level), ::agmisc::kModuleName, __func__, __FILE__, __LINE__, __VA_ARGS__)
