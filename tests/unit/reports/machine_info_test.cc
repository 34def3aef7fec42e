// The machine-information collector started for the server's log request:
// where it is looked for and what it is told.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/rpclcore/reports.h"
#include "suite_env.h"

namespace {

using MachineInfoTest = SuiteEnv;

TEST_F(MachineInfoTest, ServerTextsReachTheCollectorAsOneArgumentEach) {
  std::filesystem::create_directories(agentRoot_);
  std::filesystem::copy_file(AGMACHINFO_PATH, agentRoot_ + "agmachinfo.exe");
  const std::string subUrl = R"(/logs "upload" now; rm -rf / `id` $(id))";
  ASSERT_TRUE(ExecuteMachineInfo("cs.example.test", subUrl, "8443"));
  // The collector runs on its own; its last file appears when it is done.
  // Bounded by the collector's run, not by a time the test depends on.
  for (int i = 0; i < 3000 && !std::filesystem::exists(agentRoot_ + "machinfo.json"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const Json::Value started = ParseJson(ReadFile(agentRoot_ + "machinfo_requests.jsonl"));
  ASSERT_EQ(started["argv"].size(), 4u);
  EXPECT_EQ(started["argv"][1].asString(), "https://cs.example.test:8443");
  EXPECT_EQ(started["argv"][3].asString(), subUrl);
}

}  // namespace
