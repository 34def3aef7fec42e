// agbldn names the product's version after the build it installs, which the
// server hands over: whatever the build holds, the product is installed and
// its status.json names a version ("unknown" when the build names none).
#include <gtest/gtest.h>
#include <json/json.h>

#include <fstream>
#include <string>

#include "tests/unit/mocks/scratch_folder.h"
#include "tools/agbldn/installation.h"

namespace {

using namespace std::string_literals;

struct BuildCase {
  const char* name;
  std::string build;
  const char* version;
};

const BuildCase kCases[] = {
    {"NamesItsVersion", R"({"version":"4.2.1"})", "4.2.1"},
    {"NotJson", "MZ\x90\x00\x03"s, "unknown"},
    {"NestedPastTheReadersDepth", std::string(5000, '['), "unknown"},
};

class BuildVersionTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildVersionTest, StatusFileNamesTheVersion) {
  test_support::ScratchFolder scratch("agbldn-");
  const std::string build = scratch.path() + "/build.exe";
  std::ofstream(build, std::ios::binary) << GetParam().build;
  const agbldn::AgentFolders folders{scratch.path() + "/", scratch.path() + "/", scratch.path() + "/",
                                     scratch.path() + "/product/"};
  std::string detail;
  ASSERT_TRUE(agbldn::InstallProduct(folders, build, &detail)) << detail;
  std::ifstream status(folders.product + "status.json");
  Json::Value value;
  std::string errors;
  ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), status, &value, &errors)) << errors;
  EXPECT_EQ(value["version"].asString(), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(Table, BuildVersionTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
