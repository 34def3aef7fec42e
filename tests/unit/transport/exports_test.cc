// The library as the agent core loads it: objects made through the C exports,
// bound to the real support library (agent folders under a scratch root, the
// proxy record, the connection state), and HTTPS verified against cacert.pem
// in the config folder.
#include <agsuite/agmisc.h>
#include <agsuite/agmsg.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cssim_fixture.h"
#include "suite/agtransport/transport_settings.h"

namespace transport_test {
namespace {

// A throw-away CA made with the openssl command line in `dir`: ca.pem, a
// server certificate for 127.0.0.1 only (server.pem, server.key) signed by
// it, and an unrelated other-ca.pem. False, with the output, on failure.
bool CreateTestCa(const std::string& dir, std::string* error) {
  std::ofstream(dir + "/server.ext") << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                                        "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n";
  const std::string openssl = OPENSSL_PATH;
  const std::string req = openssl + " req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  const std::string commands[] = {
      req + "-x509 -keyout " + dir + "/ca.key -out " + dir + "/ca.pem -days 2 -subj /CN=AgTestCA",
      req + "-x509 -keyout " + dir + "/other.key -out " + dir + "/other-ca.pem -days 2 -subj /CN=AgOtherCA",
      req + "-keyout " + dir + "/server.key -out " + dir + "/server.csr -subj /CN=127.0.0.1",
      openssl + " x509 -req -in " + dir + "/server.csr -CA " + dir + "/ca.pem -CAkey " + dir +
          "/ca.key -CAcreateserial -out " + dir + "/server.pem -days 2 -extfile " + dir + "/server.ext",
  };
  for (const std::string& command : commands) {
    if (std::system((command + " >>" + dir + "/openssl.log 2>&1").c_str()) != 0) {
      std::ifstream log(dir + "/openssl.log");
      *error = command + " failed: " + std::string(std::istreambuf_iterator<char>(log), {});
      return false;
    }
  }
  return true;
}

TEST(TransportExportsTest, ProxyRecordAndCaBundleOfTheSupportLibraryAreUsedAndTheStateIsRecorded) {
  TempFolder root;
  ASSERT_EQ(AGMiscSetAgentRoot(root.path().c_str()), 1);
  ASSERT_EQ(AgTransportSetTimeouts(2000, 5000), 1);
  TempFolder ca;
  std::string error;
  ASSERT_TRUE(CreateTestCa(ca.path(), &error)) << error;
  Cssim server;
  server.ca_file = ca.path() + "/ca.pem";
  ASSERT_NO_FATAL_FAILURE(
      server.Start({"--tls-cert", ca.path() + "/server.pem", "--tls-key", ca.path() + "/server.key"}, false));
  ICSClient* cs_client = nullptr;
  IRPClient* client = nullptr;
  uint32_t code = 0;
  ASSERT_EQ(CreateCSClientObject(&cs_client, &code), 1);
  ASSERT_EQ(CreateRPClientObject(cs_client, &client, &code, 1), 1);
  const auto registers = [&](const std::string& host = "127.0.0.1") {
    const CSConnectionInfo info = MakeConnectionInfo("https://", server.port(), 0, host);
    EXPECT_EQ(client->InitCSClient(&info), 1);  // looks the proxy record and the CA bundle up
    ResponseHolder holder(*client);
    return client->Register(R"([{"payload":{}}])", holder.slot()) == 1;
  };

  // A proxy record naming a proxy nobody runs: nothing reaches the server.
  AgProxySettings proxy{};
  proxy.bProxyEnabled = 1;
  proxy.dwProxyPort = FreeLoopbackPort();
  const std::u16string host = u"127.0.0.1";
  std::memcpy(reinterpret_cast<char*>(&proxy) + offsetof(AgProxySettings, szProxyServer), host.data(),
              host.size() * sizeof(char16_t));
  ASSERT_EQ(WriteProxySettings(&proxy), 1);
  EXPECT_FALSE(registers());
  EXPECT_TRUE(server.Journal().empty());

  // Direct, but neither the system store nor another CA in the agent's
  // cacert.pem trusts the server; the test CA there does, for the address
  // its certificate names (127.0.0.1) only.
  const AgProxySettings direct{};
  ASSERT_EQ(WriteProxySettings(&direct), 1);
  EXPECT_FALSE(registers());
  char16_t folder[260] = {};
  ASSERT_EQ(GetClientAgentConfigDir(folder, 260), 1);
  const std::filesystem::path bundle = std::filesystem::path(std::u16string(folder)) / "cacert.pem";
  std::filesystem::copy_file(ca.path() + "/other-ca.pem", bundle);
  EXPECT_FALSE(registers());
  std::filesystem::copy_file(server.ca_file, bundle, std::filesystem::copy_options::overwrite_existing);
  EXPECT_TRUE(registers());
  EXPECT_FALSE(registers("localhost"));
  EXPECT_EQ(server.Journal("register").size(), 1u);
  uint32_t state = 0;
  EXPECT_EQ(GetClientConnectionStatus(&state), 1);
  EXPECT_EQ(state, 1u);
  EXPECT_EQ(client->DeInitializeRPClient(), 1);
  EXPECT_EQ(FreeRPClientObject(client, &code), 1);
}

}  // namespace
}  // namespace transport_test
