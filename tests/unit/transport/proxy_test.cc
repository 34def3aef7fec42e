// The tenant's proxy: a real tinyproxy started by the test, without and with
// credentials (BasicAuth), for plain HTTP (forwarded) and HTTPS (tunnelled)
// servers; the relay is reached without it. Skipped when tinyproxy is not
// installed.
#include <gtest/gtest.h>

#include <fstream>

#include "test_ca.h"
#include "transport_fixture.h"

namespace transport_test {
namespace {

class Tinyproxy {
 public:
  // Starts tinyproxy on a free loopback port; credentials when `user` is set.
  void Start(const std::string& user = "", const std::string& password = "") {
    port_ = FreeLoopbackPort();
    const std::string config = folder_.path() + "/tinyproxy.conf";
    {
      std::ofstream out(config);
      out << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nLogLevel Info\nMaxClients 20\n"
          << "Allow 127.0.0.1\nDisableViaHeader No\n";
      if (!user.empty()) out << "BasicAuth " << user << " " << password << "\n";
    }
    ASSERT_TRUE(process_.Start({TINYPROXY_PATH, "-d", "-c", config}));
    ASSERT_TRUE(process_.WaitForOutput("Accepting connections", std::chrono::seconds(20))) << process_.output();
  }
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] bool Logged(const std::string& text) {
    return process_.WaitForOutput(text, std::chrono::seconds(5));
  }

 private:
  TempFolder folder_;
  ChildProcess process_;
  int port_ = 0;
};

class TransportProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TINYPROXY_PATH).empty()) GTEST_SKIP() << "tinyproxy is not installed; proxy tests skipped";
  }

  void UseProxy(int port, const std::string& user = "", const std::string& password = "") {
    environment_.proxy = agtransport::ProxySettings{"127.0.0.1", static_cast<uint32_t>(port), user, password};
  }

  // Registers through the environment's proxy; true when the server answered.
  bool Register(const std::string& scheme, bool via_relay = false) {
    auto client = MakeClient(environment_);
    const CSConnectionInfo info = MakeConnectionInfo(scheme, server_.port(), server_.relay_port());
    EXPECT_EQ(client->InitCSClient(&info), 1);
    if (via_relay) {
      EXPECT_EQ(client->SetRPMode(1), 1);
    }
    ResponseHolder holder(*client);
    return client->Register(R"([{"payload":{}}])", holder.slot()) == 1;
  }

  Cssim server_;
  Tinyproxy proxy_;
  FakeEnvironment environment_;
  LogCapture log_;
};

TEST_F(TransportProxyTest, HttpsIsTunnelledThroughTheProxy) {
  TestCa ca;
  std::string error;
  ASSERT_TRUE(ca.Create(&error)) << error;
  server_.ca_file = ca.ca_file();
  ASSERT_NO_FATAL_FAILURE(server_.Start({"--tls-cert", ca.server_cert(), "--tls-key", ca.server_key()}));
  ASSERT_NO_FATAL_FAILURE(proxy_.Start());
  UseProxy(proxy_.port());
  environment_.ca_bundle = ca.ca_file();
  ASSERT_TRUE(Register("https://")) << log_.Dump();
  EXPECT_TRUE(proxy_.Logged("CONNECT"));
  EXPECT_EQ(server_.Journal("register").size(), 1u);
}

TEST_F(TransportProxyTest, PlainHttpIsForwardedWithTheCredentialsOnly) {
  ASSERT_NO_FATAL_FAILURE(server_.Start());
  ASSERT_NO_FATAL_FAILURE(proxy_.Start("agent", "s3cret"));

  UseProxy(proxy_.port(), "agent", "s3cret");
  ASSERT_TRUE(Register("http://")) << log_.Dump();
  EXPECT_NE(server_.Journal("register")[0]["proxyVia"].asString().find("tinyproxy"), std::string::npos);
  // Without them tinyproxy answers 407 or drops the connection.
  UseProxy(proxy_.port());
  EXPECT_FALSE(Register("http://"));
}

TEST_F(TransportProxyTest, RelayIsReachedWithoutTheProxy) {
  ASSERT_NO_FATAL_FAILURE(server_.Start());
  UseProxy(FreeLoopbackPort());  // a proxy that is not there
  EXPECT_FALSE(Register("http://")) << "the server is reached only through the proxy";
  EXPECT_TRUE(Register("http://", true)) << log_.Dump();
  EXPECT_EQ(server_.Journal("register").back()["listener"], "relay");
}

}  // namespace
}  // namespace transport_test
