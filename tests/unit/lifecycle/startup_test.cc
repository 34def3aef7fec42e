// The start-up sequence against sibling fakes: identities, the proxy record,
// the UDI library's result rules, and the refusal when no RP client object
// can be created.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "core/agcore/core_state.h"
#include "core/agcore/lifecycle.h"
#include "core/siblings/client_store.h"
#include "lifecycle_env.h"

namespace {

using ::testing::_;
using ::testing::Return;
using Op = InMemorySupportLibrary::Op;

constexpr const char* kStartUp = "ClientAgentCoreStartUp";

// The packed record copied to an aligned place, so its UTF-16 fields can be
// read through char16_t pointers.
struct AlignedProxy {
  explicit AlignedProxy(const AgProxySettings& settings) : record(settings) {}
  alignas(8) AgProxySettings record;
};

class StartUpTest : public ::testing::Test {
 protected:
  void StartAndStop() {
    ASSERT_EQ(StartUpForTest(), 1) << env.log.Dump();
    ASSERT_EQ(CleanUpForTest(), 1);
  }
  AgProxySettings Proxy() {
    EXPECT_TRUE(env.support.Proxy().has_value());
    return env.support.Proxy().value_or(AgProxySettings{});
  }
  LifecycleEnv env;
};

// The client's identities at start-up: a stored one is kept, a missing one is
// generated (the UDI by the device-id library when there is no unified
// agent), and a store that cannot be read is not "no identity yet": nothing
// is replaced, and a GUID read failure refuses start-up.
struct IdentityCase {
  const char* name;
  const char* storedGuid;
  const char* storedUdi;
  std::optional<Op> failing;
  uint8_t started;
  const char* guid;  // a regular expression
  const char* udi;   // a regular expression
};

void PrintTo(const IdentityCase& c, std::ostream* out) { *out << c.name; }

constexpr const char* kStoredGuid = "5b8a3c1e-0000-4000-8000-00000000abcd";
constexpr const char* kGuidForm = "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}";

class StartUpIdentityTest : public StartUpTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(StartUpIdentityTest, StoredIdentitiesAreKeptAndMissingOnesGenerated) {
  const IdentityCase& c = GetParam();
  env.support.SetGuid(c.storedGuid);
  env.support.SetUdi(c.storedUdi);
  if (c.failing) env.support.Fail(*c.failing);
  EXPECT_EQ(StartUpForTest(), c.started) << env.log.Dump();
  if (c.started == 1) {
    ASSERT_EQ(CleanUpForTest(), 1);
  }
  if (c.failing) env.support.Fail(*c.failing, false);
  EXPECT_THAT(env.support.Guid(), ::testing::MatchesRegex(c.guid));
  char udi[100] = {};
  EXPECT_TRUE(env.support.GetClientUDI(udi, sizeof udi));
  EXPECT_THAT(udi, ::testing::MatchesRegex(c.udi));
}

INSTANTIATE_TEST_SUITE_P(
    Identities, StartUpIdentityTest,
    ::testing::Values(
        IdentityCase{"StoredOnesAreKept", kStoredGuid, "stored-udi", std::nullopt, 1, kStoredGuid, "stored-udi"},
        IdentityCase{"MissingOnesAreGenerated", "", "", std::nullopt, 1, kGuidForm, "[0-9a-f]{64}"},
        IdentityCase{"UnreadableGuidRefusesStartUp", kStoredGuid, "", Op::kGetGuid, 0, kStoredGuid, ""},
        IdentityCase{"UnreadableUdiIsNotReplaced", kStoredGuid, "stored-udi", Op::kGetUdi, 1, kStoredGuid,
                     "stored-udi"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartUpTest, ProxyRecordIsBuiltFromTheTenantAndWrittenOnce) {
  StartAndStop();
  const AlignedProxy proxy(Proxy());
  // No "isProxySet" in the tenant file: no failure, the record goes out disabled.
  EXPECT_EQ(proxy.record.bProxyEnabled, 0);
  EXPECT_EQ(std::u16string(proxy.record.szProxyServer), u"proxy.example");
  EXPECT_EQ(uint32_t{proxy.record.dwProxyPort}, 3128u);
  EXPECT_EQ(std::u16string(proxy.record.szProxyUser), u"user");
  EXPECT_EQ(std::u16string(proxy.record.szProxyPassword), u"secret");

  // The next start finds the flag and leaves the tenant's proxy alone.
  env.WriteTenantJson(R"({"tenantId":"tenant-1","isProxySet":true,"proxyServer":"other"})");
  StartAndStop();
  EXPECT_EQ(std::u16string(AlignedProxy(Proxy()).record.szProxyServer), u"proxy.example");
}

TEST_F(StartUpTest, ProxyLookUpFailuresLeaveTheirFieldsZeroAndAnUnrecordedWriteIsMadeAgainNextStart) {
  env.WriteTenantJson(R"({"tenantId":"tenant-1","isProxySet":true,"proxyServer":"p"})");
  env.support.Fail(Op::kSet);
  StartAndStop();
  const AlignedProxy proxy(Proxy());
  EXPECT_EQ(proxy.record.bProxyEnabled, 1);
  EXPECT_EQ(uint32_t{proxy.record.dwProxyPort}, 0u);
  EXPECT_EQ(proxy.record.szProxyUser[0], u'\0');

  env.support.Fail(Op::kSet, false);
  env.WriteTenantJson(R"({"tenantId":"tenant-1","isProxySet":true,"proxyServer":"q"})");
  StartAndStop();
  EXPECT_EQ(std::u16string(AlignedProxy(Proxy()).record.szProxyServer), u"q");
}

TEST_F(StartUpTest, FailedRpObjectCreationRefusesOnlyAfterTheInstallStatusThreadEnded) {
  ON_CALL(env.transport, CreateCSClientObject(_, _)).WillByDefault(Return(0));
  EXPECT_CALL(env.resp, HandleClientAgentCoreStartup(_)).Times(0);
  EXPECT_EQ(StartUpForTest(), 0);
  const size_t failed = env.IndexOf(kStartUp, "CreateRPObject() failed.");
  const size_t waiting = env.IndexOf("AgentServerCoreStartUp", "Waiting for AV install status thread to return...");
  const size_t threadExit = env.IndexOf("CaAvInstallStatusThread", "Exit");
  const size_t exitFailed = env.IndexOf(kStartUp, "Exit failed");
  ASSERT_LT(exitFailed, env.log.Records().size()) << env.log.Dump();
  // The thread may end before or after the "Waiting" line; start-up returns only after it ended.
  EXPECT_LT(failed, waiting);
  EXPECT_LT(threadExit, exitFailed);
  EXPECT_EQ(GetCoreState().installStatusThread, nullptr);
}

// The device-id export's result: status zero, or no length left, is success.
TEST(GenerateUdiResult, StatusZeroOrNoLengthLeftIsSuccess) {
  char buffer[100] = {};
  EXPECT_TRUE(CallGenerateUDI(
      [](char* out, int32_t* length) -> uint16_t {
        std::strcpy(out, "udi-ok");
        *length = 6;
        return 0;
      },
      buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "udi-ok");
  const auto failWithZeroLength = [](char*, int32_t* length) -> uint16_t {
    *length = 0;
    return 5;
  };
  const auto failWithLength = [](char*, int32_t* length) -> uint16_t {
    *length = 65;
    return 122;
  };
  EXPECT_TRUE(CallGenerateUDI(failWithZeroLength, buffer, sizeof buffer));
  EXPECT_FALSE(CallGenerateUDI(failWithLength, buffer, sizeof buffer));
}

}  // namespace
