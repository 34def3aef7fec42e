// Cost of the tenant store as every caller uses it: getInstance with a
// re-read (read, Base64, Blowfish, JSON parse of "clagnt.dat") plus one text
// look-up and the release. Reported as the median of repeated runs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/config/tenant_info.h"
#include "core/siblings/siblings.h"
#include "platform/utf.h"

namespace {

constexpr const char* kTenantJson =
    R"({"tenantId":"T-1001","locale":"en-US","csmUrl":"https://csm.example.test","csUrl":"cs.example.test",)"
    R"("csAppNm":"agent","csSrvCl":"client","csSrvRp":"report","csSrvPo":"policy","csSrvNe":"notify",)"
    R"("csSrvGn":"general","csPrtNo":443,"rpIP":"10.0.0.9","rpPrtNo":8443,"onPrem":false,"isProxySet":true,)"
    R"("proxyServer":"proxy.example.test","proxyUserName":"user","proxyPassword":"secret","proxyPort":3128,)"
    R"("clientDefaultHeartBeatInterval":15,"cdnURL":"https://cdn.example.test"})";

// The production support library points at a temporary agent root that
// holds a typical tenant file.
class TenantFixture : public benchmark::Fixture {
 public:
  void SetUp(const benchmark::State&) override {
    char pattern[] = "/tmp/agtenant-bench-XXXXXX";
    folder_ = mkdtemp(pattern);
    AGMiscSetAgentRoot(folder_.c_str());
    char16_t root[260] = {};
    if (!Siblings().support->GetClientAgentRootDir(root, 260)) return;
    const auto rootUtf8 = platform::Utf16ToUtf8(root);
    if (!rootUtf8) return;
    std::ofstream(*rootUtf8 + "clagnt.dat", std::ios::binary) << EncodeTenantFile(kTenantJson);
  }
  void TearDown(const benchmark::State&) override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::string folder_;
};

BENCHMARK_DEFINE_F(TenantFixture, GetInstanceReReadAndLookUp)(benchmark::State& state) {
  for (auto _ : state) {
    CTenantInfo* info = CTenantInfo::getInstance(true);
    if (info == nullptr) {
      state.SkipWithError("tenant file unreadable");
      break;
    }
    char* tenantId = nullptr;
    benchmark::DoNotOptimize(info->GetTenantInfoOfGivenKey(TENANT_INFO_TENANT_ID, &tenantId));
    std::free(tenantId);
    CTenantInfo::release(info);
  }
}
BENCHMARK_REGISTER_F(TenantFixture, GetInstanceReReadAndLookUp)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);  // mean, median and spread of the nine runs

}  // namespace
