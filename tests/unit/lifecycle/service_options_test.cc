// The service host's command line. The end-to-end tests and the demo start the
// host with every option; a service manager starts it with the defaults, which
// must be real time, progress logging and the direct connection.
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
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"--root", "r", "--minute-ms", "0"}}) {
    EXPECT_FALSE(ParseOptions(args).options) << ::testing::PrintToString(args);
  }
}

}  // namespace
