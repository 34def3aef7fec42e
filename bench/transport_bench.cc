// Transport benchmarks against a local cssim (started from the folder of this
// program): the round trip of SetClientData (median and 99th percentile over
// 1,000 calls, as counters p50_us and p99_us), and the heap taken by one RP
// client object after initialisation and a first exchange.
#include <agsuite/agmisc.h>
#include <agsuite/agmsg.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

// cssim as a child process on a free loopback port, stopped at exit.
class LocalServer {
 public:
  LocalServer() {
    char pattern[] = "/tmp/agtransport-bench-XXXXXX";
    folder_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    const std::string cssim = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "cssim").string();
    const std::string journal = folder_ + "/journal.jsonl";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const char* argv[] = {cssim.c_str(), "--listen", "127.0.0.1:0", "--journal", journal.c_str(), nullptr};
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      pid_ = -1;
      close(fds[0]);
      return;
    }
    std::string output;
    pollfd pfd{fds[0], POLLIN, 0};
    while (output.find("cssim: ready") == std::string::npos && poll(&pfd, 1, 10'000) == 1) {
      char buffer[512];
      const ssize_t n = read(fds[0], buffer, sizeof(buffer));
      if (n <= 0) break;
      output.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    const size_t at = output.find("listening on 127.0.0.1:");
    if (at != std::string::npos) port_ = std::atoi(output.c_str() + at + std::strlen("listening on 127.0.0.1:"));
  }
  ~LocalServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

LocalServer& Server() {
  static LocalServer server;
  return server;
}

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  // The record is zeroed, so a cut text stays terminated.
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

CSConnectionInfo ConnectionInfo(int port) {
  CSConnectionInfo info{};
  Put(info.szTenantId, "bench-tenant");
  Put(info.szClientGuid, "0123456789abcdef0123456789abcdef");
  Put(info.szClientVersion, "10.14.0.1");
  Put(info.szLocale, "en-US");
  Put(info.szServerUrl, "http://127.0.0.1");
  Put(info.szServerAppName, "agsrv");
  Put(info.szClientService, "ClientSvc");
  Put(info.szRpService, "RelaySvc");
  Put(info.szNotificationService, "NotifySvc");
  Put(info.szPolicyService, "PolicySvc");
  Put(info.szGeneralService, "GeneralSvc");
  info.wServerPort = static_cast<uint16_t>(port);
  return info;
}

IRPClient* NewClient(benchmark::State& state) {
  if (Server().port() == 0) {
    state.SkipWithError("cssim did not start");
    return nullptr;
  }
  AGMiscSetAgentRoot(Server().folder().c_str());
  AgProxySettings direct{};
  WriteProxySettings(&direct);
  ICSClient* cs_client = nullptr;
  IRPClient* client = nullptr;
  uint32_t error = 0;
  const CSConnectionInfo info = ConnectionInfo(Server().port());
  if (CreateCSClientObject(&cs_client, &error) == 0 || CreateRPClientObject(cs_client, &client, &error, 0) == 0 ||
      client->InitCSClient(&info) == 0) {
    state.SkipWithError("RP client could not be made");
    return nullptr;
  }
  return client;
}

void FreeClient(IRPClient* client) {
  uint32_t error = 0;
  client->DeInitializeRPClient();
  FreeRPClientObject(client, &error);
}

constexpr char kStatusJson[] =
    R"([{"dataId":101,"payload":{"avStatus":1,"rtp":true,"defs":"2026.12.05.01","engine":"5.1.0"}}])";

void BM_SetClientDataRoundTrip(benchmark::State& state) {
  IRPClient* client = NewClient(state);
  if (client == nullptr) return;
  const ClientDataRecord record{2, 1, kStatusJson};
  std::vector<double> micros;
  micros.reserve(1000);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    ServerResponse* response = nullptr;
    if (client->SetClientData(&record, 101, &response, 1) == 0) {
      state.SkipWithError("SetClientData failed");
      break;
    }
    client->FreeServerResponse(response);
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  FreeClient(client);
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}
BENCHMARK(BM_SetClientDataRoundTrip)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Heap held by one initialised RP client that has made one exchange (its
// libcurl handle with the open connection and TLS-free session state).
void BM_RpClientMemory(benchmark::State& state) {
  for (auto _ : state) {
    // Warm up process-wide state (libcurl, JsonCpp) so it is not counted.
    if (IRPClient* warm = NewClient(state)) {
      FreeClient(warm);
    } else {
      return;
    }
    const size_t before = mallinfo2().uordblks;
    IRPClient* client = NewClient(state);
    if (client == nullptr) return;
    const ClientDataRecord record{2, 1, kStatusJson};
    ServerResponse* response = nullptr;
    if (client->SetClientData(&record, 101, &response, 1) == 1) client->FreeServerResponse(response);
    const size_t after = mallinfo2().uordblks;
    FreeClient(client);
    state.counters["heap_bytes"] = static_cast<double>(after - before);
  }
}
BENCHMARK(BM_RpClientMemory)->Iterations(1);

}  // namespace
