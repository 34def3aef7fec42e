// The tenant's proxy settings record, kept as "proxy.dat" (the 1551 raw
// bytes of AgProxySettings, mode 0600: it holds the proxy password) in the
// configuration folder. Written once by start-up, read by the transport.
// A write replaces the file atomically, so a reader sees the old or the new
// record, never a mix. Thread-safe.
#pragma once

#include <agsuite/agmisc.h>

namespace agmisc {

inline constexpr const char* kProxyFileName = "proxy.dat";

[[nodiscard]] bool WriteProxyFile(const AgProxySettings& settings);
// False (logged) when the file is missing or is not exactly one record.
[[nodiscard]] bool ReadProxyFile(AgProxySettings* settings);

}  // namespace agmisc
