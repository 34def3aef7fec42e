// HTTPS to the server with certificate verification against the CA bundle
// the support environment names, and its failure with the wrong CA.
#include <gtest/gtest.h>

#include "test_ca.h"
#include "transport_fixture.h"

namespace transport_test {
namespace {

TEST(TransportTlsTest, OnlyTheTrustedCertificateForTheAddressedHostIsAccepted) {
  TestCa ca;
  std::string error;
  ASSERT_TRUE(ca.Create(&error)) << error;
  Cssim server;
  server.ca_file = ca.ca_file();
  ASSERT_NO_FATAL_FAILURE(server.Start({"--tls-cert", ca.server_cert(), "--tls-key", ca.server_key()}, false));
  LogCapture log;
  const struct {
    const char* name;
    std::string ca_bundle;
    const char* scheme;
    const char* host;
    bool accepted;
  } cases[] = {
      {"trusted", ca.ca_file(), "https://", "127.0.0.1", true},
      {"another CA", ca.other_ca_file(), "https://", "127.0.0.1", false},
      {"the system store does not trust the test CA", "", "https://", "127.0.0.1", false},
      // The certificate names 127.0.0.1 only.
      {"the same server as localhost", ca.ca_file(), "https://", "localhost", false},
  };
  for (const auto& c : cases) {
    FakeEnvironment environment;
    environment.ca_bundle = c.ca_bundle;
    auto client = MakeClient(environment);
    const CSConnectionInfo info = MakeConnectionInfo(c.scheme, server.port(), 0, c.host);
    ASSERT_EQ(client->InitCSClient(&info), 1);
    ResponseHolder holder(*client);
    const bool accepted = client->Register(R"([{"payload":{}}])", holder.slot()) == 1 && holder->bSuccess == 1;
    EXPECT_EQ(accepted, c.accepted) << c.name << "\n" << log.Dump();
  }
  EXPECT_TRUE(log.Contains("SSL certificate problem")) << log.Dump();
  EXPECT_EQ(server.Journal("register").size(), 1u);
}

}  // namespace
}  // namespace transport_test
