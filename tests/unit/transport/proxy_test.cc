// The tenant's proxy: a real tinyproxy started by the test that asks for
// credentials; the relay is reached without it. HTTPS through a proxy is
// libcurl's own tunnel. Skipped when tinyproxy is not installed.
#include <gtest/gtest.h>

#include <fstream>

#include "cssim_fixture.h"

namespace transport_test {
namespace {

TEST(TransportProxyTest, PlainHttpIsForwardedWithTheCredentialsAndTheRelayIsReachedWithoutTheProxy) {
  if (std::string(TINYPROXY_PATH).empty()) GTEST_SKIP() << "tinyproxy is not installed; proxy tests skipped";
  Cssim server;
  ASSERT_NO_FATAL_FAILURE(server.Start());
  TempFolder folder;
  const int port = FreeLoopbackPort();
  const std::string config = folder.path() + "/tinyproxy.conf";
  std::ofstream(config) << "Port " << port << "\nListen 127.0.0.1\nTimeout 30\nLogLevel Info\nMaxClients 20\n"
                        << "Allow 127.0.0.1\nDisableViaHeader No\nBasicAuth agent s3cret\n";
  ChildProcess proxy;
  ASSERT_TRUE(proxy.Start({TINYPROXY_PATH, "-d", "-c", config}));
  ASSERT_TRUE(proxy.WaitForOutput("Accepting connections", std::chrono::seconds(20))) << proxy.output();

  FakeEnvironment environment;
  LogCapture log;
  // Registers through the environment's proxy; true when the server answered.
  const auto registers = [&](const std::string& user, bool via_relay) {
    environment.proxy = agtransport::ProxySettings{"127.0.0.1", static_cast<uint32_t>(port), user, "s3cret"};
    auto client = MakeClient(environment);
    const CSConnectionInfo info = MakeConnectionInfo("http://", server.port(), server.relay_port());
    EXPECT_EQ(client->InitCSClient(&info), 1);
    EXPECT_EQ(client->SetRPMode(via_relay ? 1 : 0), 1);
    ResponseHolder holder(*client);
    return client->Register(R"([{"payload":{}}])", holder.slot()) == 1;
  };
  ASSERT_TRUE(registers("agent", false)) << log.Dump();
  EXPECT_NE(server.Journal("register")[0]["proxyVia"].asString().find("tinyproxy"), std::string::npos);
  // Without them tinyproxy answers 407 or drops the connection; the relay
  // does not go through the proxy at all.
  EXPECT_FALSE(registers("", false));
  EXPECT_TRUE(registers("", true)) << log.Dump();
  EXPECT_EQ(server.Journal("register").back()["listener"], "relay");
}

}  // namespace
}  // namespace transport_test
