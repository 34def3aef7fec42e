// The start-up sequence against sibling fakes: identities, the proxy record,
// the refusal when no RP client object can be created, and what the service
// host can pass wrongly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/agcore/core_state.h"
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

// The record is written once: a start whose write was not recorded writes it
// again; once recorded, the tenant's proxy is left alone.
TEST_F(StartUpTest, ProxyRecordIsBuiltFromTheTenantAndWrittenOnce) {
  env.support.Fail(Op::kSet);
  StartAndStop();
  const AlignedProxy first(Proxy());
  // No "isProxySet" in the tenant file: no failure, the record goes out disabled.
  EXPECT_EQ(first.record.bProxyEnabled, 0);
  EXPECT_EQ(std::u16string(first.record.szProxyServer), u"proxy.example");
  EXPECT_EQ(uint32_t{first.record.dwProxyPort}, 3128u);
  EXPECT_EQ(std::u16string(first.record.szProxyUser), u"user");
  EXPECT_EQ(std::u16string(first.record.szProxyPassword), u"secret");

  env.support.Fail(Op::kSet, false);
  env.WriteTenantJson(R"({"tenantId":"tenant-1","isProxySet":true,"proxyServer":"p"})");
  StartAndStop();
  const AlignedProxy second(Proxy());  // look-ups that fail leave their fields zero
  EXPECT_EQ(second.record.bProxyEnabled, 1);
  EXPECT_EQ(std::u16string(second.record.szProxyServer), u"p");
  EXPECT_EQ(uint32_t{second.record.dwProxyPort}, 0u);
  EXPECT_EQ(second.record.szProxyUser[0], u'\0');

  env.WriteTenantJson(R"({"tenantId":"tenant-1","isProxySet":true,"proxyServer":"other"})");
  StartAndStop();
  EXPECT_EQ(std::u16string(AlignedProxy(Proxy()).record.szProxyServer), u"p");
}

TEST_F(StartUpTest, FailedRpObjectCreationRefusesOnlyAfterTheInstallStatusThreadEnded) {
  ON_CALL(env.transport, CreateCSClientObject(_, _)).WillByDefault(Return(0));
  EXPECT_CALL(env.resp, HandleClientAgentCoreStartup(_)).Times(0);
  EXPECT_EQ(StartUpForTest(), 0);
  const size_t exitFailed = env.IndexOf(kStartUp, "Exit failed");
  ASSERT_LT(exitFailed, env.log.Records().size()) << env.log.Dump();
  EXPECT_LT(env.IndexOf("CaAvInstallStatusThread", "Exit"), exitFailed);
  EXPECT_EQ(GetCoreState().installStatusThread, nullptr);
}

TEST(StartUpChecks, RefusalsTouchNothing) {
  LifecycleEnv env;
  EXPECT_CALL(env.transport, CreateCSClientObject(_, _)).Times(0);
  EXPECT_EQ(StartUpForTest(2, nullptr, nullptr), 0);
  EXPECT_TRUE(env.log.ContainsAtLevel(AG_LOG_FAILURE, "NULL Parameter received (Certificate file, Key File)"));
  EXPECT_EQ(StartUpForTest(3, "client.pem", "client.key"), 0);
  EXPECT_TRUE(env.log.ContainsAtLevel(AG_LOG_FAILURE, "Invalid Connection type"));
  EXPECT_EQ(GetCoreState().cleanupEvent, nullptr);
  EXPECT_EQ(env.support.Guid(), "");
}

}  // namespace
