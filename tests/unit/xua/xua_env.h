// Surroundings for the unified-agent tests: the messaging environment (agent
// root, tenant file, in-memory support library, log capture), a machine root
// of the test's own into which the stand-in integration library is installed
// with the suite's installer script, and a reader for the stand-in's journal
// of the calls it received. The destructor ends any subscription a test left,
// so every test starts with nothing loaded.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/common/xuacomm.h"
#include "platform/folders.h"
#include "tests/unit/mocks/messaging_env.h"
#include "tests/unit/mocks/scratch_folder.h"

inline constexpr const char* kCloudTenant =
    R"({"tenantId":"tenant-42","locale":"de-DE","csmUrl":"https://cs.example.test/agent"})";

// Installs the stand-in into the current machine root ("" udi: its default).
inline void InstallUnifiedAgent(const std::string& library = UAINT_LIBRARY, const std::string& udi = "") {
  std::string command = std::string(UAINT_INSTALLER) + " '" + platform::MachineRoot() + "' '" + library + "'";
  if (!udi.empty()) command += " '" + udi + "'";
  ASSERT_EQ(std::system((command + " >/dev/null").c_str()), 0) << command;
}

class MachineRootScope {
 public:
  MachineRootScope() : previous_(platform::MachineRoot()) { platform::SetMachineRoot(folder_.path() + "/"); }
  ~MachineRootScope() { platform::SetMachineRoot(previous_); }
  MachineRootScope(const MachineRootScope&) = delete;
  MachineRootScope& operator=(const MachineRootScope&) = delete;

  // The unified agent's folder once the stand-in is installed.
  std::string UnifiedAgentFolder() const { return folder_.path() + "/opt/uaagent/"; }

 private:
  std::string previous_;
  test_support::ScratchFolder folder_{"xua-machine-"};
};

// A JSON text as a value; null when it does not parse.
inline Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  return reader->parse(text.data(), text.data() + text.size(), &value, &errors) ? value : Json::Value();
}

// The calls the stand-in journalled, oldest first.
inline std::vector<Json::Value> JournalledCalls(const std::string& folder) {
  std::vector<Json::Value> calls;
  std::ifstream journal(folder + "uaint-calls.jsonl");
  for (std::string line; std::getline(journal, line);) {
    if (Json::Value call = ParseJson(line); !call.isNull()) calls.push_back(call);
  }
  return calls;
}

inline std::vector<std::string> CallNames(const std::vector<Json::Value>& calls) {
  std::vector<std::string> names;
  for (const auto& call : calls) names.push_back(call["call"].asString());
  return names;
}

class XuaEnv : public MessagingEnv {
 public:
  XuaEnv() {
    WriteTenantJson(kCloudTenant);
    char16_t config[260] = {};
    support.GetClientAgentConfigDir(config, 260);
    std::filesystem::create_directories(*platform::Utf16ToUtf8(config));
  }
  ~XuaEnv() {
    UnsubcribeCommnWithXUA();
    UnloadUaintLibrary();
  }

  std::vector<Json::Value> Calls() const { return JournalledCalls(machine.UnifiedAgentFolder()); }
  std::vector<std::string> Names() const { return CallNames(Calls()); }
  void Configure(const std::string& settings) const {
    std::ofstream(machine.UnifiedAgentFolder() + "uaint.conf", std::ios::app) << settings << "\n";
  }

  MachineRootScope machine;
};
