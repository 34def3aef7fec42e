// The service host's command line: every mistake is reported before the
// host touches the machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/agentsvc/options.h"

namespace {

using agentsvc::ParseOptions;

TEST(ServiceOptions, ReadsEveryOption) {
  const auto parsed = ParseOptions({"--root", "/var/lib/a", "--machine-root", "/m", "--minute-ms", "200",
                                    "--log-level", "8", "--connection-type", "1", "--cert", "c.pem", "--key", "k.pem"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->root, "/var/lib/a");
  EXPECT_EQ(parsed.options->machine_root, "/m");
  EXPECT_EQ(parsed.options->minute_ms, 200u);
  EXPECT_EQ(parsed.options->log_level, 8u);
  EXPECT_EQ(parsed.options->connection_type, 1u);
  EXPECT_EQ(parsed.options->cert_file, "c.pem");
  EXPECT_EQ(parsed.options->key_file, "k.pem");
}

TEST(ServiceOptions, DefaultsAreRealTimeProgressLoggingAndDirectConnection) {
  const auto parsed = ParseOptions({"--root", "r"});
  ASSERT_TRUE(parsed.options);
  EXPECT_FALSE(parsed.options->minute_ms.has_value());
  EXPECT_EQ(parsed.options->log_level, 2u);
  EXPECT_EQ(parsed.options->connection_type, 0u);
  EXPECT_TRUE(parsed.options->machine_root.empty());
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

TEST(ServiceOptions, HelpNeedsNothingElseAndExplainsEveryOption) {
  const auto parsed = ParseOptions({"--help"});
  ASSERT_TRUE(parsed.options);
  EXPECT_TRUE(parsed.options->help);
  for (const char* option : {"--root", "--machine-root", "--minute-ms", "--log-level", "--connection-type", "--cert",
                             "--key", "--help"}) {
    EXPECT_NE(agentsvc::UsageText().find(option), std::string::npos) << option;
  }
}

}  // namespace
