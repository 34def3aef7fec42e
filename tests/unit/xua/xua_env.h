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
#include "tests/unit/platform/temp_folder.h"

inline constexpr const char* kCloudTenant =
    R"({"tenantId":"tenant-42","locale":"de-DE","csmUrl":"https://cs.example.test/agent"})";

// The unified agent's folder in the current machine root.
inline std::string UnifiedAgentFolder() { return platform::MachineRoot() + "opt/uaagent/"; }

// Installs the stand-in into the current machine root ("" udi: its default).
inline void InstallUnifiedAgent(const std::string& library = UAINT_LIBRARY, const std::string& udi = "") {
  std::string command = std::string(UAINT_INSTALLER) + " '" + platform::MachineRoot() + "' '" + library + "'";
  if (!udi.empty()) command += " '" + udi + "'";
  ASSERT_EQ(std::system((command + " >/dev/null").c_str()), 0) << command;
}

// A JSON text as a value; null when it does not parse.
inline Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  return reader->parse(text.data(), text.data() + text.size(), &value, &errors) ? value : Json::Value();
}

// The calls the stand-in journalled, oldest first.
inline std::vector<Json::Value> JournalledCalls() {
  std::vector<Json::Value> calls;
  std::ifstream journal(UnifiedAgentFolder() + "uaint-calls.jsonl");
  for (std::string line; std::getline(journal, line);) {
    if (Json::Value call = ParseJson(line); !call.isNull()) calls.push_back(call);
  }
  return calls;
}

inline std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const auto& call : JournalledCalls()) names.push_back(call["call"].asString());
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

  void Configure(const std::string& settings) const {
    std::ofstream(UnifiedAgentFolder() + "uaint.conf", std::ios::app) << settings << "\n";
  }

  platform_test::TempFolder machine{true};
};
