#include "options.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace agentsvc {
namespace {

std::optional<uint32_t> ParseNumber(const std::string& text) {
  uint32_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::string UsageText() {
  return "usage: agentsvc --root DIR [options]\n"
         "\n"
         "Runs the agent core in the foreground until SIGTERM or SIGINT, as the\n"
         "agent's service does: start-up when it starts, clean-up when it stops.\n"
         "\n"
         "  --root DIR             agent root folder: tenant file clagnt.dat, INI\n"
         "                         files, client data store; logs go to DIR/logs\n"
         "  --machine-root DIR     folder standing for the machine's own files\n"
         "                         (registry, system folder, protection product);\n"
         "                         default /\n"
         "  --minute-ms N          make one agent minute last N real milliseconds\n"
         "                         (heartbeat and retry timers; 60000 = real time)\n"
         "  --log-level N          highest event-log level written to\n"
         "                         DIR/logs/agcore.log: 1 failures, 2 progress\n"
         "                         (default), 4 passed-over failures, 8 verbose\n"
         "  --connection-type N    0 (default), 1 or 2; 1 and 2 need --cert and --key\n"
         "  --cert FILE            client certificate file handed to the core\n"
         "  --key FILE             client key file handed to the core\n"
         "  --help                 this text\n"
         "\n"
         "Exit status: 0 when start-up and clean-up both succeeded; 1 for a usage\n"
         "error or when the root folder or log file cannot be set up; 2 when the\n"
         "core cannot be loaded; 3 when start-up was refused; 4 when clean-up was\n"
         "refused.\n";
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return {options, {}};
    }
    static constexpr const char* kValueOptions[] = {"--root",      "--machine-root",    "--cert", "--key",
                                                    "--minute-ms", "--log-level", "--connection-type"};
    if (std::find(std::begin(kValueOptions), std::end(kValueOptions), arg) == std::end(kValueOptions)) {
      return {std::nullopt, "unknown option: " + arg};
    }
    if (i + 1 >= args.size()) return {std::nullopt, arg + " needs a value"};
    const std::string& value = args[++i];
    if (arg == "--root") {
      options.root = value;
    } else if (arg == "--machine-root") {
      options.machine_root = value;
    } else if (arg == "--cert") {
      options.cert_file = value;
    } else if (arg == "--key") {
      options.key_file = value;
    } else {
      const auto number = ParseNumber(value);
      if (!number) return {std::nullopt, arg + " needs a non-negative number, not \"" + value + "\""};
      if (arg == "--minute-ms") {
        if (*number == 0) return {std::nullopt, "--minute-ms must be at least 1"};
        options.minute_ms = *number;
      } else if (arg == "--log-level") {
        options.log_level = *number;
      } else {
        options.connection_type = *number;
      }
    }
  }
  if (options.root.empty()) return {std::nullopt, "--root DIR is required"};
  return {options, {}};
}

}  // namespace agentsvc
