// Runs a piece of a test in a child process: as another user (nobody) when
// the test runs as the superuser, or as this user. The child reports through
// its exit status only (no test assertions in it); a child that does not end
// within its guard time is killed by SIGALRM, so a hang shows as a failure
// instead of holding up the test run.
#pragma once

#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace hostile_test {

inline constexpr uid_t kNobody = 65534;
inline constexpr unsigned kGuardSeconds = 60;

// True when the process runs as the superuser and can play another user.
inline bool CanActAsAnotherUser() { return geteuid() == 0; }

// Forks; the child becomes `nobody` when asked (and able), runs `body` and
// exits with its result. Returns the child's pid.
inline pid_t Spawn(const std::function<int()>& body, bool as_another_user) {
  const pid_t pid = fork();
  if (pid != 0) {
    return pid;
  }
  alarm(kGuardSeconds);
  if (as_another_user && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
    _exit(125);
  }
  _exit(body());
}

// The child's exit code, or -signal when a signal ended it.
inline int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) {
    return -1000;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

inline int Run(const std::function<int()>& body, bool as_another_user) { return Wait(Spawn(body, as_another_user)); }

// A one-shot signal between parent and child: the child tells it is ready,
// the parent tells it to finish.
class Handshake {
 public:
  Handshake() {
    if (pipe(ready_) != 0 || pipe(finish_) != 0) {
      ready_[0] = ready_[1] = finish_[0] = finish_[1] = -1;
    }
  }
  ~Handshake() {
    for (int fd : {ready_[0], ready_[1], finish_[0], finish_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  Handshake(const Handshake&) = delete;
  Handshake& operator=(const Handshake&) = delete;

  // Child side.
  void TellReady() { static_cast<void>(write(ready_[1], "r", 1)); }
  void AwaitFinish() {
    close(finish_[1]);
    finish_[1] = -1;
    char byte = 0;
    static_cast<void>(read(finish_[0], &byte, 1));
  }
  // Parent side: false when the child ended without telling.
  bool AwaitReady() {
    close(ready_[1]);
    ready_[1] = -1;
    char byte = 0;
    return read(ready_[0], &byte, 1) == 1;
  }
  void TellFinish() {
    close(finish_[1]);
    finish_[1] = -1;
  }

 private:
  int ready_[2];
  int finish_[2];
};

}  // namespace hostile_test
