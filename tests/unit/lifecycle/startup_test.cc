// The start-up sequence against sibling fakes: identities, the proxy record,
// the UDI library's result rules, and the refusal when no RP client object
// can be created.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/agcore/core_state.h"
#include "core/agcore/lifecycle.h"
#include "core/siblings/client_store.h"
#include "lifecycle_env.h"

namespace {

using ::testing::_;
using ::testing::Return;

constexpr const char* kStartUp = "ClientAgentCoreStartUp";

std::string Udi(InMemorySupportLibrary& support) {
  char buffer[100] = {};
  return support.GetClientUDI(buffer, sizeof buffer) ? buffer : "";
}

// The packed record copied to an aligned place, so its UTF-16 fields can be
// read through char16_t pointers.
class AlignedProxy {
 public:
  explicit AlignedProxy(const AgProxySettings& record) : record_(record) {}
  const AgProxySettings* operator->() const { return &record_; }

 private:
  alignas(8) AgProxySettings record_;
};

class StartUpTest : public ::testing::Test {
 protected:
  void StartAndStop() {
    ASSERT_EQ(StartUpForTest(), 1) << env.log.Dump();
    ASSERT_EQ(CleanUpForTest(), 1);
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
  std::optional<InMemorySupportLibrary::Op> failing;
  uint8_t started;
  const char* guid;  // a regular expression
  const char* udi;   // a regular expression
  std::vector<const char*> lines;
  std::vector<const char*> absent;
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
  EXPECT_THAT(Udi(env.support), ::testing::MatchesRegex(c.udi));
  for (const char* line : c.lines) EXPECT_TRUE(env.Logged(kStartUp, line)) << line << "\n" << env.log.Dump();
  for (const char* line : c.absent) EXPECT_FALSE(env.log.Contains(line)) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Identities, StartUpIdentityTest,
    ::testing::Values(
        IdentityCase{"StoredOnesAreKept", kStoredGuid, "stored-udi", std::nullopt, 1, kStoredGuid, "stored-udi", {},
                     {"Client GUID generated", "Client UDI generated"}},
        IdentityCase{"MissingOnesAreGenerated", "", "", std::nullopt, 1, kGuidForm, "[0-9a-f]{64}",
                     {"Client GUID generated", "Client UDI generated"}, {"XUA is Installed."}},
        IdentityCase{"UnreadableGuidRefusesStartUp", kStoredGuid, "", InMemorySupportLibrary::Op::kGetGuid, 0,
                     kStoredGuid, "", {"Client GUID cannot be read from the client data store"},
                     {"Client GUID generated"}},
        IdentityCase{"UnreadableUdiIsNotReplaced", kStoredGuid, "stored-udi", InMemorySupportLibrary::Op::kGetUdi, 1,
                     kStoredGuid, "stored-udi", {"Client UDI cannot be read from the client data store"},
                     {"Client UDI generated"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartUpTest, ProxyRecordIsBuiltFromTheTenantAndWrittenOnce) {
  StartAndStop();
  ASSERT_TRUE(env.support.Proxy().has_value());
  const AlignedProxy proxy(*env.support.Proxy());
  // No "isProxySet" in the tenant file: no failure, the record goes out disabled.
  EXPECT_EQ(proxy->bProxyEnabled, 0);
  EXPECT_EQ(std::u16string(proxy->szProxyServer), u"proxy.example");
  EXPECT_EQ(uint32_t{proxy->dwProxyPort}, 3128u);
  EXPECT_EQ(std::u16string(proxy->szProxyUser), u"user");
  EXPECT_EQ(std::u16string(proxy->szProxyPassword), u"secret");
  EXPECT_EQ(proxy->bTrailingFlag, 0);
  EXPECT_FALSE(env.log.Contains("Did not find proxy setting configured"));
  EXPECT_EQ(env.support.Value<uint8_t>(DB_ID_CLIENT_PROXY_SETT_WRITTEN), uint8_t{1});

  // The next start finds the flag and leaves the tenant's proxy alone.
  env.log.Clear();
  env.WriteTenantJson(R"({"tenantId":"tenant-1","isProxySet":true,"proxyServer":"other"})");
  StartAndStop();
  EXPECT_FALSE(env.log.Contains("Writting proxy settings"));
  EXPECT_EQ(std::u16string(AlignedProxy(*env.support.Proxy())->szProxyServer), u"proxy.example");
}

TEST_F(StartUpTest, ProxyLookUpFailuresLeaveTheirFieldsZero) {
  env.WriteTenantJson(R"({"tenantId":"tenant-1","isProxySet":true,"proxyServer":"p"})");
  StartAndStop();
  ASSERT_TRUE(env.support.Proxy().has_value());
  const AlignedProxy proxy(*env.support.Proxy());
  EXPECT_EQ(proxy->bProxyEnabled, 1);
  EXPECT_EQ(uint32_t{proxy->dwProxyPort}, 0u);
  EXPECT_EQ(proxy->szProxyUser[0], u'\0');
  for (const char* message : {"GetTenantInfoOfGivenKey failed for TENANT_INFO_PROXY_PORT",
                              "GetTenantInfoOfGivenKey failed for TENANT_INFO_PROXY_USER",
                              "GetTenantInfoOfGivenKey failed for TENANT_INFO_PROXY_PASS"}) {
    EXPECT_EQ(env.LevelOf(kStartUp, message), AG_LOG_FAILURE) << message;
  }
}

TEST_F(StartUpTest, UnrecordedProxyWriteIsLoggedAndTriedAgainNextStart) {
  env.support.Fail(InMemorySupportLibrary::Op::kSet);
  StartAndStop();
  EXPECT_EQ(env.LevelOf(kStartUp, "SetClientBlobData failed for DB_ID_CLIENT_PROXY_SETT_WRITTEN"), AG_LOG_FAILURE);
  env.support.Fail(InMemorySupportLibrary::Op::kSet, false);
  env.log.Clear();
  StartAndStop();
  EXPECT_TRUE(env.Logged(kStartUp, "Writting proxy settings"));
  EXPECT_EQ(env.support.Value<uint8_t>(DB_ID_CLIENT_PROXY_SETT_WRITTEN), uint8_t{1});
}

TEST_F(StartUpTest, FailedRpObjectCreationRefusesOnlyAfterTheInstallStatusThreadEnded) {
  ON_CALL(env.transport, CreateCSClientObject(_, _)).WillByDefault(Return(0));
  EXPECT_CALL(env.resp, HandleClientAgentCoreStartup(_)).Times(0);
  // Connection type 0 with neither certificate nor key passes the checks.
  EXPECT_EQ(StartUpForTest(0, nullptr, nullptr), 0);

  const size_t failed = env.IndexOf(kStartUp, "CreateRPObject() failed.");
  const size_t waiting = env.IndexOf("AgentServerCoreStartUp", "Waiting for AV install status thread to return...");
  const size_t threadExit = env.IndexOf("CaAvInstallStatusThread", "Exit");
  const size_t exitFailed = env.IndexOf(kStartUp, "Exit failed");
  ASSERT_LT(exitFailed, env.log.Records().size()) << env.log.Dump();
  // The thread may end before or after the "Waiting" line; start-up returns only after it ended.
  EXPECT_LT(failed, waiting);
  EXPECT_LT(threadExit, exitFailed);
  EXPECT_EQ(GetCoreState().installStatusThread, nullptr);
  EXPECT_EQ(GetCoreState().cleanupEvent, nullptr);
  EXPECT_EQ(GetCoreState().coreParam, nullptr);
}

// --- the device-id export's result rules ------------------------------------

uint16_t GenerateOk(char* buffer, int32_t* length) {
  std::strcpy(buffer, "udi-ok");
  *length = 6;
  return 0;
}
uint16_t FailWithLength(char*, int32_t* length) {
  *length = 65;
  return 122;
}
uint16_t FailWithZeroLength(char*, int32_t* length) {
  *length = 0;
  return 5;
}

TEST(GenerateUdiResult, StatusZeroOrNoLengthLeftIsSuccess) {
  LogCapture log;
  char buffer[100] = {};
  EXPECT_TRUE(CallGenerateUDI(&GenerateOk, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "udi-ok");
  EXPECT_TRUE(log.ContainsAtLevel(AG_LOG_FAILURE, "exit"));
  EXPECT_TRUE(CallGenerateUDI(&FailWithZeroLength, buffer, sizeof buffer));
  EXPECT_FALSE(CallGenerateUDI(&FailWithLength, buffer, sizeof buffer));
  EXPECT_TRUE(log.ContainsFrom("ASGenerateClientUDI", "pfnProcGetUdi failed. Error: (122)."));
}

TEST(GenerateUdi, NullBufferIsRefused) {
  LogCapture log;
  EXPECT_FALSE(ASGenerateClientUDI(nullptr, 100));
  EXPECT_TRUE(log.ContainsFrom("ASGenerateClientUDI", "NULL Parameter Received"));
}

}  // namespace
