// URLs built from the connection record, and the proxy record read from the
// support library's layout. Which service each operation goes to is what the
// simulator journals in rp_client_test.cc.
#include <gtest/gtest.h>

#include <cstring>

#include "suite/agtransport/endpoint.h"
#include "suite/agtransport/support_environment.h"
#include "transport_fixture.h"

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

void PutWide(AgProxySettings& record, size_t offset, const std::u16string& text) {
  std::memcpy(reinterpret_cast<char*>(&record) + offset, text.data(), text.size() * sizeof(char16_t));
}

// The user travels as UTF-8; a record without a usable server means no proxy.
TEST(TransportProxyRecord, EnabledRecordGivesHostPortAndCredentials) {
  AgProxySettings record{};
  record.bProxyEnabled = 1;
  record.dwProxyPort = 3128;
  EXPECT_FALSE(agtransport::ProxyFromRecord(record).has_value()) << "no server";
  PutWide(record, offsetof(AgProxySettings, szProxyUser), u"us\u00e9r");
  PutWide(record, offsetof(AgProxySettings, szProxyServer), std::u16string(1, char16_t{0xD800}));  // lone surrogate
  EXPECT_FALSE(agtransport::ProxyFromRecord(record).has_value());
  // A server text filling its whole field has no terminator and is still read.
  PutWide(record, offsetof(AgProxySettings, szProxyServer), std::u16string(260, u'p'));
  const std::optional<agtransport::ProxySettings> proxy = agtransport::ProxyFromRecord(record);
  ASSERT_TRUE(proxy.has_value());
  EXPECT_EQ(proxy->host, std::string(260, 'p'));
  EXPECT_EQ(proxy->port, 3128u);
  EXPECT_EQ(proxy->user, "us\xc3\xa9r");
  record.bProxyEnabled = 0;
  EXPECT_FALSE(agtransport::ProxyFromRecord(record).has_value());
}

}  // namespace
}  // namespace transport_test
