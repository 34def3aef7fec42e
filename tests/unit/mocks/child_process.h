// A helper program started by a test (cssim, tinyproxy, agentsvc): its output
// goes to a file, or to a pipe the test reads with bounded waits; it is
// stopped with a signal and a bounded wait (SIGKILL after it), also when the
// object dies.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace test_support {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `argv[0]` with stdout and stderr appended to `output_file`, or on
  // one pipe read through WaitForOutput when no file is given.
  [[nodiscard]] bool Start(const std::vector<std::string>& argv, const std::string& output_file = "") {
    int fds[2] = {-1, -1};
    if (output_file.empty() && pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output_file.empty()) {
      posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0644);
    }
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (fds[1] >= 0) close(fds[1]);
    if (rc != 0) {
      if (fds[0] >= 0) close(fds[0]);
      pid_ = -1;
      return false;
    }
    out_fd_ = fds[0];
    return true;
  }

  // Reads the pipe until the output contains `text` or `timeout` passes.
  [[nodiscard]] bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || out_fd_ < 0) return false;
      ReadAvailable(static_cast<int>(left.count()));
    }
    return true;
  }
  [[nodiscard]] const std::string& output() const { return output_; }

  // Sends `signal` and waits up to `limit`; returns the exit status (128 +
  // signal when a signal ended it), or -1 when it had to be killed.
  int Stop(int signal = SIGTERM, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    // pidfd makes the wait for the exit a bounded poll.
    bool exited = false;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
      pollfd pfd{pidfd, POLLIN, 0};
      exited = poll(&pfd, 1, static_cast<int>(limit.count())) == 1;
      close(pidfd);
    }
    if (!exited) kill(pid_, SIGKILL);
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    if (out_fd_ >= 0) {
      ReadAvailable(0);
      close(out_fd_);
      out_fd_ = -1;
    }
    if (!exited) return -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  }

 private:
  void ReadAvailable(int timeout_ms) {
    pollfd pfd{out_fd_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return;
    char buffer[4096];
    const ssize_t n = read(out_fd_, buffer, sizeof(buffer));
    if (n > 0) output_.append(buffer, static_cast<size_t>(n));
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string output_;
};

// A loopback TCP port that was free a moment ago (for programs that cannot
// pick their own).
inline uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

}  // namespace test_support
