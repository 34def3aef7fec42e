// URLs built from the connection record. Which service each operation goes
// to is what the simulator journals in rp_client_test.cc; the proxy record's
// use is exports_test.cc's.
#include <gtest/gtest.h>

#include <cstring>

#include "cssim_fixture.h"
#include "suite/agtransport/endpoint.h"

namespace transport_test {
namespace {

using agtransport::ConnectionSettings;

// The registration URL for a record naming `server_url`, or "error: ...".
std::string RegisterUrl(const std::string& server_url) {
  CSConnectionInfo info = MakeConnectionInfo("", 8443);
  std::memset(info.szServerUrl, 0, sizeof(info.szServerUrl));
  std::strncpy(info.szServerUrl, server_url.c_str(), sizeof(info.szServerUrl) - 1);
  std::string error;
  const std::optional<std::string> url = agtransport::BuildUrl(ConnectionSettings::FromRecord(info),
                                                               agtransport::Operation::kRegister, 2, false, &error);
  return url ? *url : "error: " + error;
}

TEST(TransportEndpoint, SchemeHostPortAndPathOfTheServerUrlAndRefusedAddresses) {
  const std::pair<const char*, const char*> cases[] = {
      {"cs.example.com", "https://cs.example.com:8443/agsrv/ClientSvc/register"},
      {"HTTP://cs:80/", "http://cs:8443/agsrv/ClientSvc/register"},
      {"https://cs/tenant/a/", "https://cs:8443/tenant/a/agsrv/ClientSvc/register"},
  };
  for (const auto& [server_url, url] : cases) EXPECT_EQ(RegisterUrl(server_url), url);
  // Addresses that would change the request.
  for (const char* bad : {"ftp://cs", "https://user@cs", "https://cs/a b", "https://cs?x=1", "https://", "cs\r\nX: y"}) {
    EXPECT_EQ(RegisterUrl(bad).rfind("error: ", 0), 0u) << bad;
  }
}

}  // namespace
}  // namespace transport_test
