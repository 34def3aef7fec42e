// Command line of the service host. Parsing is pure (no side effects), so the
// host can report every mistake before it touches the machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace agentsvc {

struct Options {
  std::string root;                    // agent root folder (required)
  std::string machine_root;            // empty: the platform's default "/"
  std::optional<uint32_t> minute_ms;   // real milliseconds per agent minute
  uint32_t log_level = 2;              // maximum event-log level written
  uint32_t connection_type = 0;        // 0, 1 or 2
  std::string cert_file;               // required by the core for types 1 and 2
  std::string key_file;
  bool help = false;
};

struct ParseResult {
  std::optional<Options> options;  // set when parsing succeeded
  std::string error;               // otherwise: what was wrong
};

[[nodiscard]] ParseResult ParseOptions(const std::vector<std::string>& args);
[[nodiscard]] std::string UsageText();

}  // namespace agentsvc
