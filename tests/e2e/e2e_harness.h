// Harness for the end-to-end tests: a fresh agent root with a tenant file, a
// management-server simulator (cssim) on a free loopback port, and the
// service host (agentsvc) with compressed time, all as child processes.
// Waits poll the simulator's journal with a bounded real-time limit.
#pragma once

#include <json/json.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <istream>
#include <string>
#include <vector>

#include "tests/unit/mocks/child_process.h"

namespace e2e {

using test_support::ChildProcess;
using test_support::FreeLoopbackPort;

struct HttpResult {
  long status = 0;
  std::string body;
};
// The JSON of a body; null when it is not JSON.
Json::Value ParseJson(const std::string& text);

// Appends each line of `in` that is a JSON value (journal lines).
void AppendJsonLines(std::istream& in, std::vector<Json::Value>* values);

// Polls `condition` every 20 ms until it holds or `limit` passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit);

class AgentFixture {
 public:
  // minute_ms: how long an agent minute lasts; heartbeat interval in minutes.
  explicit AgentFixture(int minute_ms = 600, int heartbeat_minutes = 1);
  ~AgentFixture();

  // `extra` options are appended to the simulator's command line.
  bool StartSimulator(const std::vector<std::string>& extra = {});
  bool StartAgent();
  // SIGTERM, then the exit status of the host (-1 when it hung).
  int StopAgent();
  int KillAgent();

  // The simulator's journal, one JSON value per line.
  std::vector<Json::Value> Journal() const;
  // The enrolled client's GUID, empty until it registered.
  std::string ClientGuid() const;

  // Admin API of the simulator: a GET, or a POST of `body`.
  HttpResult Admin(const std::string& method, const std::string& path, const std::string& body = "") const;

  const std::string& root() const { return root_; }
  const std::string& journal_path() const { return journal_; }
  std::string AgentLog() const;

 private:
  std::string base_;
  std::string root_;
  std::string machine_root_;
  std::string journal_;
  uint16_t port_ = 0;
  int minute_ms_;
  int heartbeat_minutes_;
  ChildProcess simulator_;
  ChildProcess agent_;
};

}  // namespace e2e
