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
  if (pid != 0) return pid;
  alarm(kGuardSeconds);
  if (as_another_user && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(125);
  _exit(body());
}

// The child's exit code, or -signal when a signal ended it.
inline int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

inline int Run(const std::function<int()>& body, bool as_another_user) { return Wait(Spawn(body, as_another_user)); }

// A child that holds something (a lock, a FIFO) until the parent lets it go:
// `hold` takes it and answers 0, or the child's exit code when it cannot.
class Holder {
 public:
  Holder(const std::function<int()>& hold, bool as_another_user) {
    if (pipe(ready_) != 0 || pipe(finish_) != 0) return;
    pid_ = Spawn(
        [&] {
          close(finish_[1]);
          const int result = hold();
          if (result != 0) return result;
          static_cast<void>(write(ready_[1], "r", 1));
          char byte = 0;
          static_cast<void>(read(finish_[0], &byte, 1));  // until the parent closes its end
          return 0;
        },
        as_another_user);
    close(ready_[1]);
    char byte = 0;
    holding_ = read(ready_[0], &byte, 1) == 1;
  }
  ~Holder() {
    if (pid_ > 0) Release();
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  // Lets the child go; its exit code.
  int Release() {
    for (int fd : {finish_[1], finish_[0], ready_[0]}) close(fd);
    const pid_t pid = pid_;
    pid_ = -1;
    return Wait(pid);
  }
  bool holding() const { return holding_; }

 private:
  int ready_[2] = {-1, -1};
  int finish_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool holding_ = false;
};

}  // namespace hostile_test
