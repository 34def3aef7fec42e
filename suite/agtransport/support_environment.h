// What the RP client needs from the rest of the agent: where the trusted CA
// bundle is, the tenant's proxy settings, and where to report the connection
// state. In the library it is bound to the support library (agmisc); tests
// install their own.
//
// An environment outlives every RP client made with it and may be called from
// any thread that uses one of those clients.
#pragma once

#include <agsuite/agmisc.h>

#include <cstdint>
#include <optional>
#include <string>

namespace agtransport {

struct ProxySettings {
  std::string host;  // may carry a scheme ("http://proxy")
  uint32_t port = 0;
  std::string user;  // empty: no credentials
  std::string password;
};

// Connection states as the support library records them.
inline constexpr uint32_t kConnectionDirect = 1;
inline constexpr uint32_t kConnectionViaRelay = 2;

class SupportEnvironment {
 public:
  virtual ~SupportEnvironment() = default;
  // Path of the CA bundle to trust, or empty for the system's default store.
  [[nodiscard]] virtual std::string CaBundlePath() = 0;
  // The proxy to reach the server through, or none for a direct connection.
  [[nodiscard]] virtual std::optional<ProxySettings> ReadProxy() = 0;
  virtual void ReportConnectionState(uint32_t state) = 0;
  // A request is about to be sent (seconds since 1970); kept for operators.
  virtual void ReportAttempt(int64_t /*seconds*/) {}
};

// Turns the tenant's stored proxy record into settings; none when the proxy
// is disabled, has no server, or holds text that is not valid UTF-16.
[[nodiscard]] std::optional<ProxySettings> ProxyFromRecord(const AgProxySettings& record);

// The environment bound to the support library.
[[nodiscard]] SupportEnvironment& SupportLibraryEnvironment();

}  // namespace agtransport
