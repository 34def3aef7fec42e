// What agentctl makes of the pieces besides the store: ages, masked tenant
// secrets, the tenant file's states and finding the service's process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "agent_status.h"
#include "core/config/tenant_codec.h"
#include "tests/unit/mocks/scratch_folder.h"
#include "service_process.h"
#include "tenant_masking.h"
#include "text_layout.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// A scratch folder (with a trailing '/') and files written into it.
struct ScratchFolder : test_support::ScratchFolder {
  ScratchFolder() : test_support::ScratchFolder("agentctl-views-") {}
  std::string path() const { return test_support::ScratchFolder::path() + "/"; }
  void Write(const std::string& name, const std::string& bytes) const {
    fs::create_directories(fs::path(path() + name).parent_path());
    std::ofstream(path() + name, std::ios::binary | std::ios::trunc) << bytes;
  }
};

TEST(AgeTextTest, ReadsAtAGlance) {
  const struct {
    int64_t seconds_ago;
    const char* text;
  } cases[] = {{4, "just now"}, {42, "42 s ago"}, {3599, "59 min ago"}, {7200, "2 h ago"}, {3 * 86400, "3 days ago"},
               {-30, "in the future"}};
  for (const auto& c : cases) EXPECT_EQ(agentctl::AgeText(1000000 - c.seconds_ago, 1000000), c.text) << c.seconds_ago;
}

TEST(TenantMaskingTest, SecretsShowAtMostTwoCharactersOnEachSide) {
  const struct {
    const char* key;
    const char* value;
    const char* shown;
  } cases[] = {
      {"proxyPassword", "hunter2-long-secret", "hu****et"},
      {"proxyPassword", "short", "****"},
      {"apiKey", "12345678", "12****78"},
      {"tenantId", "demo-tenant-0001", "demo-tenant-0001"},
  };
  for (const auto& c : cases) {
    Json::Value tenant(Json::objectValue);
    tenant[c.key] = c.value;
    EXPECT_EQ(agentctl::MaskedTenant(tenant)[c.key].asString(), c.shown) << c.key << "=" << c.value;
  }
  Json::Value nested(Json::objectValue);
  nested["proxy"]["password"] = "nested-secret-value";
  EXPECT_EQ(agentctl::MaskedTenant(nested)["proxy"]["password"].asString(), "ne****ue");
}

TEST(TenantFileTest, EachStateOfTheFileIsToldApart) {
  ScratchFolder folder;
  const std::string path = folder.path() + "clagnt.dat";
  EXPECT_FALSE(agentctl::ReadTenant(path).present);

  for (const auto& [text, problem] : {std::pair<std::string, const char*>{"not base64 at all!", "is not a tenant file"},
                                      {EncodeTenantFile("[1, 2]"), "decrypts, but not to a JSON object"}}) {
    folder.Write("clagnt.dat", text);
    const agentctl::TenantView view = agentctl::ReadTenant(path);
    EXPECT_TRUE(view.present && !view.readable);
    EXPECT_NE(view.problem.find(problem), std::string::npos) << view.problem;
  }
  folder.Write("clagnt.dat", EncodeTenantFile(R"({"tenantId":"t-1","csUrl":"https://cs","csPrtNo":443,"csAppNm":"agcs"})"));
  ASSERT_TRUE(agentctl::ReadTenant(path).readable);
  agentctl::StatusSources sources;
  sources.agent_root = folder.path();
  sources.machine_root = folder.path() + "machine";
  const agentctl::AgentStatus status = agentctl::CollectStatus(sources);
  EXPECT_EQ(status.tenant_id, "t-1");
  EXPECT_EQ(status.server_address, "https://cs:443/agcs");
  EXPECT_FALSE(status.relay_address.has_value());
}

TEST(ServiceProcessTest, FindsTheHostServingThisRootOnly) {
  ScratchFolder proc;
  ScratchFolder root;
  const std::string trimmed_root = root.path().substr(0, root.path().size() - 1);
  const struct {
    const char* name;
    std::string cmdline;
    bool found;
  } cases[] = {
      {"full path, no trailing slash", "/opt/x/bin/agentsvc\0--log-level\0" "2\0--root\0"s + trimmed_root, true},
      {"another root", "agentsvc\0--root\0/elsewhere"s, false},
      {"another program", "cssim\0--root\0"s + root.path(), false},
  };
  for (const auto& c : cases) {
    // The file of pid 4242 is rewritten for every case; "self" is not a pid
    // and never looked at.
    proc.Write("4242/cmdline", c.cmdline);
    proc.Write("self/cmdline", "agentsvc");
    EXPECT_EQ(agentctl::FindServicePid(proc.path(), root.path()), c.found ? std::optional<int>(4242) : std::nullopt)
        << c.name;
  }
}

}  // namespace
