// The library as the agent core loads it: objects made through the C exports,
// bound to the real support library (agent folders under a scratch root, the
// proxy record, the connection state, cacert.pem in the config folder).
#include <agsuite/agmisc.h>
#include <agsuite/agmsg.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>

#include "cssim_fixture.h"
#include "suite/agtransport/transport_settings.h"
#include "test_ca.h"

namespace transport_test {
namespace {

class TransportExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AGMiscSetAgentRoot(root_.path().c_str()), 1);
    AgProxySettings direct{};
    ASSERT_EQ(WriteProxySettings(&direct), 1);
    ASSERT_EQ(AgTransportSetTimeouts(2000, 5000), 1);
    ASSERT_EQ(CreateCSClientObject(&cs_client_, &error_), 1);
    ASSERT_EQ(CreateRPClientObject(cs_client_, &client_, &error_, 1), 1);
    ASSERT_NE(client_, nullptr);
  }
  void TearDown() override {
    if (client_ != nullptr) {
      EXPECT_EQ(client_->DeInitializeRPClient(), 1);
      EXPECT_EQ(FreeRPClientObject(client_, &error_), 1);
    }
  }

  std::string ConfigFolder() {
    char16_t folder[260] = {};
    EXPECT_EQ(GetClientAgentConfigDir(folder, 260), 1);
    std::string utf8;
    for (const char16_t* p = folder; *p != 0; ++p) utf8.push_back(static_cast<char>(*p));  // ASCII scratch path
    return utf8;
  }

  uint32_t ConnectionState() {
    uint32_t state = 0;
    EXPECT_EQ(GetClientConnectionStatus(&state), 1);
    return state;
  }

  TempFolder root_;
  ICSClient* cs_client_ = nullptr;
  IRPClient* client_ = nullptr;
  uint32_t error_ = 0;
};

TEST_F(TransportExportsTest, ExchangesRecordTheConnectionStateInTheSupportLibrary) {
  Cssim server;
  ASSERT_NO_FATAL_FAILURE(server.Start({"--relay-intervals", "15,1440,15"}));
  const CSConnectionInfo info = MakeConnectionInfo("http://", server.port(), server.relay_port());
  ASSERT_EQ(client_->InitCSClient(&info), 1);
  {
    ResponseHolder holder(*client_);
    ASSERT_EQ(client_->Register(R"([{"payload":{}}])", holder.slot()), 1);
    EXPECT_EQ(holder->bSuccess, 1);
  }
  EXPECT_EQ(ConnectionState(), 1u);
  ASSERT_EQ(client_->SetRPMode(1), 1);
  {
    ResponseHolder holder(*client_);
    ASSERT_EQ(client_->GetRPConfig(holder.slot()), 1);
    EXPECT_EQ(holder->dwCommandCount, 1u);
  }
  EXPECT_EQ(ConnectionState(), 2u);
}

TEST_F(TransportExportsTest, CaBundleInTheConfigFolderIsTrusted) {
  TestCa ca;
  std::string error;
  ASSERT_TRUE(ca.Create(&error)) << error;
  Cssim server;
  server.ca_file = ca.ca_file();
  ASSERT_NO_FATAL_FAILURE(server.Start({"--tls-cert", ca.server_cert(), "--tls-key", ca.server_key()}, false));
  const CSConnectionInfo info = MakeConnectionInfo("https://", server.port());

  ASSERT_EQ(client_->InitCSClient(&info), 1);
  ResponseHolder refused(*client_);
  EXPECT_EQ(client_->Register(R"([{"payload":{}}])", refused.slot()), 0) << "system store only";

  std::filesystem::copy_file(ca.ca_file(), ConfigFolder() + "cacert.pem");
  ASSERT_EQ(client_->InitCSClient(&info), 1);  // the bundle is looked up by InitCSClient
  ResponseHolder accepted(*client_);
  EXPECT_EQ(client_->Register(R"([{"payload":{}}])", accepted.slot()), 1);
}

TEST_F(TransportExportsTest, ProxyRecordOfTheSupportLibraryIsUsed) {
  Cssim server;
  ASSERT_NO_FATAL_FAILURE(server.Start({}, false));
  AgProxySettings proxy{};
  proxy.bProxyEnabled = 1;
  proxy.dwProxyPort = static_cast<uint32_t>(FreeLoopbackPort());  // nobody there
  const std::u16string host = u"127.0.0.1";
  std::memcpy(reinterpret_cast<char*>(&proxy) + offsetof(AgProxySettings, szProxyServer), host.data(),
              host.size() * sizeof(char16_t));
  ASSERT_EQ(WriteProxySettings(&proxy), 1);
  const CSConnectionInfo info = MakeConnectionInfo("http://", server.port());
  ASSERT_EQ(client_->InitCSClient(&info), 1);
  ResponseHolder holder(*client_);
  EXPECT_EQ(client_->Register(R"([{"payload":{}}])", holder.slot()), 0);
  EXPECT_TRUE(server.Journal().empty());
}

}  // namespace
}  // namespace transport_test
