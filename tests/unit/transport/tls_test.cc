// HTTPS to the server with certificate verification against the CA bundle
// the support environment names, and its failure with the wrong CA.
#include <gtest/gtest.h>

#include "test_ca.h"
#include "transport_fixture.h"

namespace transport_test {
namespace {

class TransportTlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ca_ = new TestCa();
    std::string error;
    if (!ca_->Create(&error)) ca_error_ = new std::string(error);
  }
  static void TearDownTestSuite() {
    delete ca_;
    delete ca_error_;
    ca_ = nullptr;
    ca_error_ = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(ca_error_, nullptr) << *ca_error_;
    server_.ca_file = ca_->ca_file();
    ASSERT_NO_FATAL_FAILURE(server_.Start({"--tls-cert", ca_->server_cert(), "--tls-key", ca_->server_key()}, false));
  }

  bool RegisterWith(const std::string& ca_bundle, const std::string& scheme, const std::string& host = "127.0.0.1") {
    environment_.ca_bundle = ca_bundle;
    auto client = MakeClient(environment_);
    const CSConnectionInfo info = MakeConnectionInfo(scheme, server_.port(), 0, host);
    EXPECT_EQ(client->InitCSClient(&info), 1);
    ResponseHolder holder(*client);
    return client->Register(R"([{"payload":{}}])", holder.slot()) == 1 && holder->bSuccess == 1;
  }

  static TestCa* ca_;
  static std::string* ca_error_;
  Cssim server_;
  FakeEnvironment environment_;
  LogCapture log_;
};

TestCa* TransportTlsTest::ca_ = nullptr;
std::string* TransportTlsTest::ca_error_ = nullptr;

TEST_F(TransportTlsTest, TrustedCertificateIsAcceptedWithAndWithoutScheme) {
  EXPECT_TRUE(RegisterWith(ca_->ca_file(), "https://")) << log_.All();
  EXPECT_TRUE(RegisterWith(ca_->ca_file(), "")) << "no scheme means https\n" << log_.All();
  EXPECT_EQ(server_.Journal("register").size(), 2u);
}

TEST_F(TransportTlsTest, CertificateFromAnotherCaIsRefused) {
  EXPECT_FALSE(RegisterWith(ca_->other_ca_file(), "https://"));
  EXPECT_TRUE(log_.Contains("SSL certificate problem")) << log_.All();
  EXPECT_TRUE(server_.Journal().empty());
}

TEST_F(TransportTlsTest, SystemStoreDoesNotTrustTheTestCa) {
  EXPECT_FALSE(RegisterWith("", "https://"));
  EXPECT_TRUE(server_.Journal().empty());
}

TEST_F(TransportTlsTest, HostNameMustMatchTheCertificate) {
  // The certificate names 127.0.0.1 only; the same server reached as
  // "localhost" is refused.
  EXPECT_FALSE(RegisterWith(ca_->ca_file(), "https://", "localhost"));
  EXPECT_TRUE(server_.Journal().empty());
}

TEST_F(TransportTlsTest, PlainHttpToTheTlsServerFails) {
  EXPECT_FALSE(RegisterWith(ca_->ca_file(), "http://"));
}

}  // namespace
}  // namespace transport_test
