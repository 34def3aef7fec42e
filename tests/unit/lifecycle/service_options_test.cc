// The service host's command line: every mistake is reported before the
// host touches the machine. The end-to-end tests and the demo start the host
// with every option; a service manager starts it with the defaults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/agentsvc/options.h"

namespace {

using agentsvc::ParseOptions;

TEST(ServiceOptions, DefaultsAreRealTimeProgressLoggingAndDirectConnectionAndMistakesAreRefused) {
  const auto defaults = ParseOptions({"--root", "r"});
  ASSERT_TRUE(defaults.options);
  EXPECT_FALSE(defaults.options->minute_ms.has_value());
  EXPECT_EQ(defaults.options->log_level, 2u);
  EXPECT_EQ(defaults.options->connection_type, 0u);
  EXPECT_TRUE(ParseOptions({"--help"}).options->help);  // needs nothing else

  const std::vector<std::vector<std::string>> wrong = {
      {},                                   // no root
      {"--root"},                           // missing value
      {"--root", "r", "--minute-ms", "0"},  // a minute must last
      {"--root", "r", "--connection-type", "x"},
      {"--root", "r", "--verbose"},
  };
  for (const auto& args : wrong) {
    const auto parsed = ParseOptions(args);
    EXPECT_FALSE(parsed.options) << ::testing::PrintToString(args);
    EXPECT_FALSE(parsed.error.empty());
  }
}

}  // namespace
