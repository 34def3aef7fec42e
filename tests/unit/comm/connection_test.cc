// The connection record handed to the RP client object: filling from the
// tenant store, truncation, the relay pair and the default client GUID; and
// the object's creation and re-initialisation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "core/rpclcore/connection.h"
#include "tests/unit/mocks/messaging_env.h"

using ::testing::_;
using ::testing::DoAll;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SetArgPointee;

namespace {

struct FakeCsClient : ICSClient {};

const char* kFullTenant = R"({"tenantId":"T-1","locale":"en-US","csUrl":"cs.example.test","csAppNm":"app",
  "csSrvCl":"cl","csSrvRp":"rp","csSrvNe":"ne","csSrvPo":"po","csSrvGn":"gn","csPrtNo":443,
  "rpIP":"10.0.0.9","rpPrtNo":8080,"onPrem":true})";

class ConnectionTest : public ::testing::Test {
 protected:
  ConnectionTest() {
    env.WriteTenantJson(kFullTenant);
    ON_CALL(env.transport, CreateCSClientObject(_, _)).WillByDefault(DoAll(SetArgPointee<0>(&csClient), Return(1)));
    ON_CALL(env.transport, CreateRPClientObject(_, _, _, _))
        .WillByDefault(DoAll(SetArgPointee<1>(&env.rpClient), Return(1)));
    ON_CALL(env.transport, FreeRPClientObject(_, _)).WillByDefault(Return(1));
  }

  CSConnectionInfo Fill() {
    CSConnectionInfo info;
    std::memset(&info, 0, sizeof(info));
    filled = InitCSConnectionObject(&info);
    return info;
  }

  MessagingEnv env;
  FakeCsClient csClient;
  bool filled = false;
};

}  // namespace

TEST_F(ConnectionTest, FillsEveryFieldFromTheTenantStore) {
  const CSConnectionInfo info = Fill();
  ASSERT_TRUE(filled) << env.log.Dump();
  EXPECT_EQ((std::vector<std::string>{info.szTenantId, info.szClientGuid, info.szLocale, info.szServerUrl,
                                      info.szServerAppName, info.szClientService, info.szRpService,
                                      info.szNotificationService, info.szPolicyService, info.szGeneralService,
                                      info.szRelayAddress}),
            (std::vector<std::string>{"T-1", "0123456789abcdef0123456789abcdef", "en-US", "cs.example.test", "app",
                                      "cl", "rp", "ne", "po", "gn", "10.0.0.9"}));
  EXPECT_EQ(info.wServerPort, 443);
  EXPECT_EQ(info.wRelayPort, 8080);
}

TEST_F(ConnectionTest, RelayNeedsBothAddressAndNonZeroPort) {
  const std::string common = R"({"tenantId":"T","locale":"en","csUrl":"u","csAppNm":"a","csSrvCl":"c","csSrvRp":"r",
    "csSrvNe":"n","csSrvPo":"p","csSrvGn":"g","csPrtNo":80)";
  for (const char* relay : {R"(,"rpIP":"10.0.0.9","rpPrtNo":0})", R"(,"rpPrtNo":9})"}) {
    env.WriteTenantJson(common + relay);
    const CSConnectionInfo info = Fill();
    ASSERT_TRUE(filled) << relay;
    EXPECT_STREQ(info.szRelayAddress, "");
    EXPECT_EQ(info.wRelayPort, 0);
  }
}

TEST_F(ConnectionTest, DefaultGuidAndTruncation) {
  env.support.SetGuid("");
  env.WriteTenantJson(R"({"tenantId":"0123456789012345678901234567890123456789abcde","locale":"en-US-long",
    "csUrl":"u","csAppNm":"a","csSrvCl":"c","csSrvRp":"r","csSrvNe":"n","csSrvPo":"p","csSrvGn":"g","csPrtNo":65537})");
  const CSConnectionInfo info = Fill();
  ASSERT_TRUE(filled);
  ASSERT_EQ(std::strlen(info.szClientGuid), 32u);
  for (const char* c = info.szClientGuid; *c != '\0'; ++c) EXPECT_TRUE(std::isxdigit(*c) && !std::isupper(*c));
  EXPECT_EQ(std::string(info.szTenantId), std::string("012345678901234567890123456789012345678"));
}

TEST_F(ConnectionTest, EmptyRequiredValueFailsTheObject) {
  env.WriteTenantJson(R"({"tenantId":"T","locale":"en","csUrl":"u","csAppNm":"a","csSrvCl":"c","csSrvRp":"r",
    "csSrvNe":"n","csSrvPo":"p","csSrvGn":"","csPrtNo":80})");
  IRPClient* slot = &env.rpClient;
  EXPECT_CALL(env.rpClient, InitCSClient(_)).Times(0);
  EXPECT_FALSE(CreateAndInitializeRpObject(&slot, true));
}

// The old object is released and a fresh one, initialised from the tenant
// store, takes its place.
TEST_F(ConnectionTest, ReInitialiseReplacesTheObjectInTheSlot) {
  ::testing::NiceMock<MockRpClient> fresh;
  CSConnectionInfo copy{};
  EXPECT_CALL(fresh, InitCSClient(_)).WillOnce(Invoke([&](const CSConnectionInfo* info) {
    copy = *info;
    return uint8_t{1};
  }));
  EXPECT_CALL(env.transport, FreeRPClientObject(&env.rpClient, _)).WillOnce(Return(1));
  EXPECT_CALL(env.transport, CreateRPClientObject(_, _, _, _)).WillOnce(DoAll(SetArgPointee<1>(&fresh), Return(1)));
  IRPClient* slot = &env.rpClient;
  ASSERT_TRUE(ReInitialiseCommunicationObjects(&slot)) << env.log.Dump();
  EXPECT_EQ(slot, &fresh);
  EXPECT_STREQ(copy.szTenantId, "T-1");
}
