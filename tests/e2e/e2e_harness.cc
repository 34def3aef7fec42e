#include "tests/e2e/e2e_harness.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
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

int ExitStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Stop(SIGKILL, std::chrono::milliseconds(5000));
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& output_file) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int fd = open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
      close(fd);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  pid_ = pid;
  return true;
}

int ChildProcess::Stop(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int raw = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return ExitStatus(raw);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &raw, 0);
  pid_ = -1;
  return -1;
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

uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

std::string MakeTempDir(const std::string& prefix) {
  return test_support::MakeScratchFolder(prefix);
}

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
  base_ = MakeTempDir("ag-e2e-");
  root_ = base_ + "/root";
  machine_root_ = base_ + "/machine";
  journal_ = base_ + "/journal.jsonl";
  std::filesystem::create_directories(root_);
  std::filesystem::create_directories(machine_root_);
  port_ = FreeLoopbackPort();

  Json::Value tenant(Json::objectValue);
  tenant["tenantId"] = "e2e-tenant-0001";
  tenant["locale"] = "en-US";
  tenant["csmUrl"] = "http://127.0.0.1";
  tenant["csUrl"] = "http://127.0.0.1";
  tenant["csPrtNo"] = port_;
  tenant["csAppNm"] = "agcs";
  tenant["csSrvCl"] = "client";
  tenant["csSrvRp"] = "relay";
  tenant["csSrvNe"] = "notify";
  tenant["csSrvPo"] = "policy";
  tenant["csSrvGn"] = "general";
  tenant["clientDefaultHeartBeatInterval"] = heartbeat_minutes_;
  std::ofstream(base_ + "/tenant.json") << tenant.toStyledString();
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
