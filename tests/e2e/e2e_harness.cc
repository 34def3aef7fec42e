#include "tests/e2e/e2e_harness.h"

#include <curl/curl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include "tests/unit/mocks/scratch_folder.h"

namespace e2e {

namespace {

size_t AppendBody(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

HttpResult HttpRequest(const std::string& method, const std::string& url, const std::string& body) {
  HttpResult result;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return result;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  if (method != "GET") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  }
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return result;
}

}  // namespace

std::string BinDir() { return AG_BIN_DIR; }

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
  const std::string encode = BinDir() + "/agtenant encode " + base_ + "/tenant.json " + root_ + "/clagnt.dat";
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
  std::vector<std::string> argv = {BinDir() + "/cssim", "--listen", listen, "--journal", journal_,
                                   "--heartbeat-interval", std::to_string(heartbeat_minutes_)};
  argv.insert(argv.end(), extra.begin(), extra.end());
  if (!simulator_.Start(argv, base_ + "/cssim.out")) {
    return false;
  }
  return WaitFor([&] { return Admin("GET", "/admin/health").status == 200; }, std::chrono::seconds(10));
}

bool AgentFixture::StopSimulator() { return simulator_.Stop(SIGTERM, std::chrono::seconds(10)) == 0; }

bool AgentFixture::StartAgent() {
  return agent_.Start({BinDir() + "/agentsvc", "--root", root_, "--machine-root", machine_root_, "--minute-ms",
                       std::to_string(minute_ms_), "--log-level", "8"},
                      base_ + "/agentsvc.out");
}

int AgentFixture::StopAgent() { return agent_.Stop(SIGTERM, std::chrono::seconds(30)); }

int AgentFixture::KillAgent() { return agent_.Stop(SIGKILL, std::chrono::seconds(5)); }

void AppendJsonLines(std::istream& in, std::vector<Json::Value>* values) {
  std::string line;
  Json::CharReaderBuilder builder;
  while (std::getline(in, line)) {
    Json::Value value;
    std::string errors;
    std::istringstream stream(line);
    if (Json::parseFromStream(builder, stream, &value, &errors)) values->push_back(value);
  }
}

std::vector<Json::Value> AgentFixture::Journal() const {
  std::vector<Json::Value> entries;
  std::ifstream in(journal_);
  AppendJsonLines(in, &entries);
  return entries;
}

std::vector<Json::Value> AgentFixture::JournalEntries(const std::string& operation) const {
  std::vector<Json::Value> matching;
  for (const Json::Value& entry : Journal()) {
    if (entry.get("operation", "").asString() == operation) matching.push_back(entry);
  }
  return matching;
}

std::string AgentFixture::ClientGuid() const {
  for (const Json::Value& entry : JournalEntries("register")) {
    const std::string guid = entry.get("clientGuid", "").asString();
    if (!guid.empty()) return guid;
  }
  return "";
}

HttpResult AgentFixture::Admin(const std::string& method, const std::string& path, const std::string& body) const {
  return HttpRequest(method, "http://127.0.0.1:" + std::to_string(port_) + path, body);
}

std::string AgentFixture::AgentLog() const {
  std::ifstream in(root_ + "/logs/agcore.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace e2e
