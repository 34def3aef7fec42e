// agentsvc: runs the agent core in the foreground until SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "options.h"
#include "service_host.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;  // also: the suite could not be set up
constexpr int kExitLoad = 2;
constexpr int kExitStartUp = 3;
constexpr int kExitCleanUp = 4;

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = agentsvc::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(stderr, "agentsvc: %s\n\n%s", parsed.error.c_str(), agentsvc::UsageText().c_str());
    return kExitUsage;
  }
  if (parsed.options->help) {
    std::fputs(agentsvc::UsageText().c_str(), stdout);
    return kExitOk;
  }

  // Blocked before any thread exists, so every thread of the core inherits the
  // mask and the signals reach only the sigwait below.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  agentsvc::ServiceHost host(*parsed.options);
  std::string error;
  if (!host.Configure(&error)) {
    std::fprintf(stderr, "agentsvc: %s\n", error.c_str());
    return kExitUsage;
  }
  if (!host.LoadCore(&error)) {
    std::fprintf(stderr, "agentsvc: %s\n", error.c_str());
    return kExitLoad;
  }
  if (!host.StartUp()) {
    std::fprintf(stderr, "agentsvc: the agent core refused to start; see %s\n", host.LogFilePath().c_str());
    return kExitStartUp;
  }
  std::fprintf(stderr, "agentsvc: agent core running; logging to %s\n", host.LogFilePath().c_str());

  int signal_number = 0;
  if (sigwait(&stop_signals, &signal_number) != 0) {
    std::fprintf(stderr, "agentsvc: cannot wait for stop signals; stopping\n");
  } else {
    std::fprintf(stderr, "agentsvc: %s received, stopping\n", signal_number == SIGINT ? "SIGINT" : "SIGTERM");
  }

  if (!host.CleanUp()) {
    std::fprintf(stderr, "agentsvc: the agent core refused to clean up; see %s\n", host.LogFilePath().c_str());
    return kExitCleanUp;
  }
  return kExitOk;
}
