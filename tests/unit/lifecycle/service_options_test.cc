// The service host's command line: every mistake is reported before the
// host touches the machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/agentsvc/options.h"

namespace {

using agentsvc::ParseOptions;

TEST(ServiceOptions, ReadsEveryOptionAndDefaultsToRealTimeProgressLoggingAndDirectConnection) {
  const auto parsed = ParseOptions({"--root", "/var/lib/a", "--machine-root", "/m", "--minute-ms", "200",
                                    "--log-level", "8", "--connection-type", "1", "--cert", "c.pem", "--key", "k.pem"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const auto& o = *parsed.options;
  EXPECT_EQ(std::vector<std::string>({o.root, o.machine_root, o.cert_file, o.key_file}),
            std::vector<std::string>({"/var/lib/a", "/m", "c.pem", "k.pem"}));
  EXPECT_EQ(o.minute_ms, 200u);
  EXPECT_EQ(o.log_level, 8u);
  EXPECT_EQ(o.connection_type, 1u);

  const auto defaults = ParseOptions({"--root", "r"});
  ASSERT_TRUE(defaults.options);
  EXPECT_FALSE(defaults.options->minute_ms.has_value());
  EXPECT_EQ(defaults.options->log_level, 2u);
  EXPECT_EQ(defaults.options->connection_type, 0u);
  EXPECT_TRUE(ParseOptions({"--help"}).options->help);  // needs nothing else
}

TEST(ServiceOptions, MistakesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> wrong = {
      {},                                   // no root
      {"--root"},                           // missing value
      {"--root", "r", "--minute-ms", "0"},  // a minute must last
      {"--root", "r", "--log-level", "-1"},
      {"--root", "r", "--connection-type", "x"},
      {"--root", "r", "--minute-ms", "99999999999"},
      {"--root", "r", "--verbose"},
  };
  for (const auto& args : wrong) {
    const auto parsed = ParseOptions(args);
    EXPECT_FALSE(parsed.options) << ::testing::PrintToString(args);
    EXPECT_FALSE(parsed.error.empty());
  }
}

}  // namespace
