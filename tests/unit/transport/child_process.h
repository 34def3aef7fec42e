// A helper program started by a test (cssim, tinyproxy): its output is read
// through a pipe with bounded waits, and it is stopped with SIGTERM (SIGKILL
// if it does not go) when the object dies.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace transport_test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `argv[0]` with stdout and stderr on one pipe.
  [[nodiscard]] bool Start(const std::vector<std::string>& argv);
  // Reads output until it contains `text` or `timeout` passes; true when seen.
  [[nodiscard]] bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  [[nodiscard]] const std::string& output() const { return output_; }
  // SIGTERM, a bounded wait, then SIGKILL. Returns the exit status (-1 when killed).
  int Stop();

 private:
  void ReadAvailable(int timeout_ms);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string output_;
};

// A loopback TCP port that was free a moment ago (for programs that cannot
// pick their own).
[[nodiscard]] int FreeLoopbackPort();

}  // namespace transport_test
