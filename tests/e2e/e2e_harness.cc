#include "tests/e2e/e2e_harness.h"

#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include "tests/unit/mocks/scratch_folder.h"

namespace e2e {

Json::Value ParseJson(const std::string& text) {
  Json::Value value;
  Json::Reader reader;
  return reader.parse(text, value) ? value : Json::Value();
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

AgentFixture::AgentFixture(int minute_ms, int heartbeat_minutes)
    : minute_ms_(minute_ms), heartbeat_minutes_(heartbeat_minutes) {
  base_ = test_support::MakeScratchFolder("ag-e2e-");
  root_ = base_ + "/root";
  machine_root_ = base_ + "/machine";
  journal_ = base_ + "/journal.jsonl";
  std::filesystem::create_directories(root_);
  std::filesystem::create_directories(machine_root_);
  port_ = FreeLoopbackPort();

  std::ofstream(base_ + "/tenant.json")
      << R"({"tenantId":"e2e-tenant-0001","locale":"en-US","csmUrl":"http://127.0.0.1","csUrl":"http://127.0.0.1",)"
      << R"("csAppNm":"agcs","csSrvCl":"client","csSrvRp":"relay","csSrvNe":"notify","csSrvPo":"policy",)"
      << R"("csSrvGn":"general","csPrtNo":)" << port_ << R"(,"clientDefaultHeartBeatInterval":)" << heartbeat_minutes_
      << "}";
  const std::string encode = std::string(AG_BIN_DIR) + "/agtenant encode " + base_ + "/tenant.json " + root_ + "/clagnt.dat";
  if (std::system(encode.c_str()) != 0) root_.clear();
}

AgentFixture::~AgentFixture() {
  agent_.Stop(SIGKILL, std::chrono::milliseconds(5000));
  simulator_.Stop(SIGTERM, std::chrono::milliseconds(5000));
  if (std::getenv("AG_E2E_KEEP") == nullptr) {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }
}

bool AgentFixture::StartSimulator(const std::vector<std::string>& extra) {
  const std::string listen = "127.0.0.1:" + std::to_string(port_);
  std::vector<std::string> argv = {std::string(AG_BIN_DIR) + "/cssim", "--listen", listen, "--journal", journal_,
                                   "--heartbeat-interval", std::to_string(heartbeat_minutes_)};
  argv.insert(argv.end(), extra.begin(), extra.end());
  if (!simulator_.Start(argv, base_ + "/cssim.out")) return false;
  return WaitFor([&] { return Admin("GET", "/admin/health").status == 200; }, std::chrono::seconds(10));
}

bool AgentFixture::StartAgent() {
  return agent_.Start({std::string(AG_BIN_DIR) + "/agentsvc", "--root", root_, "--machine-root", machine_root_, "--minute-ms",
                       std::to_string(minute_ms_), "--log-level", "8"},
                      base_ + "/agentsvc.out");
}

int AgentFixture::StopAgent() { return agent_.Stop(SIGTERM, std::chrono::seconds(30)); }

int AgentFixture::KillAgent() { return agent_.Stop(SIGKILL, std::chrono::seconds(5)); }

void AppendJsonLines(std::istream& in, std::vector<Json::Value>* values) {
  for (std::string line; std::getline(in, line);) {
    if (Json::Value value = ParseJson(line); !value.isNull()) values->push_back(value);
  }
}

std::vector<Json::Value> AgentFixture::Journal() const {
  std::vector<Json::Value> entries;
  std::ifstream in(journal_);
  AppendJsonLines(in, &entries);
  return entries;
}

std::string AgentFixture::ClientGuid() const {
  for (const Json::Value& entry : Journal()) {
    if (entry["operation"] == "register" && !entry["clientGuid"].asString().empty()) {
      return entry["clientGuid"].asString();
    }
  }
  return "";
}

HttpResult AgentFixture::Admin(const std::string& method, const std::string& path, const std::string& body) const {
  httplib::Client client("127.0.0.1", port_);
  client.set_connection_timeout(5);
  client.set_read_timeout(5);
  const httplib::Result result = method == "GET" ? client.Get(path) : client.Post(path, body, "application/json");
  return result ? HttpResult{result->status, result->body} : HttpResult{};
}

std::string AgentFixture::AgentLog() const {
  std::ifstream in(root_ + "/logs/agcore.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace e2e
