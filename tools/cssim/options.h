// Command line of the management-server simulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cssim {

struct Address {
  std::string host;
  int port = 0;  // 0: any free port (the one chosen is printed)
};

struct Options {
  Address listen;
  std::optional<Address> relay_listen;
  std::string tls_cert;
  std::string tls_key;
  std::string journal;
  std::string av_build;  // empty: no build to hand out
  std::optional<uint32_t> heartbeat_interval_minutes;
  std::vector<uint32_t> relay_intervals;  // empty or {RpHb, RpFcfg, RpReg}
  uint32_t default_leading = 0;
  bool refuse_registration = false;
  bool strict_enrolment = false;
  bool redeliver = false;
  std::optional<uint32_t> seed;  // none: a random one (printed either way)
};

// Parses argv. On a bad command line returns null and puts the reason into
// `error`; `--help` sets `help`.
[[nodiscard]] std::optional<Options> ParseOptions(int argc, char** argv, bool* help, std::string* error);

[[nodiscard]] std::string HelpText();

}  // namespace cssim
