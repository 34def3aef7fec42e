// agevent: the installer side of the agent's named events.
//
//   agevent [--machine-root DIR] set|reset|open NAME
//   agevent [--machine-root DIR] create [--auto] NAME
//
// set/reset/open need a process that holds the event (the agent, or an
// `agevent create`); without one they fail with "not found", as a Windows
// setter's OpenEvent does. create holds the event (settable by every user),
// prints "waiting NAME" once it is ready, and prints "signalled" and exits
// when someone sets it; SIGINT/SIGTERM end the wait with exit code 1.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/named_event.h"
#include "platform/process.h"

namespace {

constexpr const char* kUsage =
    "usage: agevent [--machine-root DIR] COMMAND NAME\n"
    "\n"
    "Commands on the agent's named machine-wide events (e.g. \"Global\\\\VXAV_Installation_Status\"):\n"
    "  set NAME            signal the event\n"
    "  reset NAME          make the event non-signalled\n"
    "  open NAME           only check that some process holds the event\n"
    "  create [--auto] NAME\n"
    "                      hold the event (settable by every user; manual reset unless\n"
    "                      --auto), print \"waiting NAME\", then wait until it is set and\n"
    "                      print \"signalled\"\n"
    "\n"
    "--machine-root DIR    the agent's machine root (default /); events live in\n"
    "                      DIR/run/agcore/events/\n"
    "Exit code 0 on success, 1 with a message on stderr otherwise.\n";

// Written from the signal handler: Event::Set is a single write() and so
// async-signal-safe.
platform::Event* g_interrupt = nullptr;

void OnSignal(int) {
  if (g_interrupt != nullptr) {
    g_interrupt->Set();
  }
}

int Fail(std::string_view what, std::string_view name, uint32_t error) {
  std::fprintf(stderr, "agevent: %.*s %.*s failed: %s (error %u)\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(name.size()), name.data(), platform::ErrorText(error).c_str(), error);
  return 1;
}

int Create(const std::string& name, bool manual_reset) {
  auto interrupt = platform::Event::Create(platform::Event::Reset::kManual, false);
  if (!interrupt) {
    std::fprintf(stderr, "agevent: cannot create the interrupt event\n");
    return 1;
  }
  g_interrupt = interrupt.get();
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  platform::EveryoneSecurityAttributes holder;
  const platform::SecurityAttributes* attributes = nullptr;
  if (!holder.Build(platform::kEventModifyState, &attributes)) {
    std::fprintf(stderr, "agevent: cannot build the security attributes\n");
    return 1;
  }
  uint32_t error = 0;
  auto event = platform::NamedEvent::CreateOrOpen(name, manual_reset, false, attributes, &error);
  holder.Release();
  if (!event) {
    return Fail("create", name, error);
  }
  std::printf("waiting %s\n", name.c_str());
  std::fflush(stdout);
  platform::Waitable* handles[] = {event.get(), interrupt.get()};
  const int woken = platform::WaitAnyRealTime(handles, platform::kInfinite);
  g_interrupt = nullptr;
  if (woken != 0) {
    std::fprintf(stderr, "agevent: wait for %s %s\n", name.c_str(), woken == 1 ? "interrupted" : "failed");
    return 1;
  }
  std::printf("signalled\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  if (i < argc && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (i + 1 < argc && std::strcmp(argv[i], "--machine-root") == 0) {
    platform::SetMachineRoot(argv[i + 1]);
    i += 2;
  }
  if (i >= argc) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const std::string_view command = argv[i++];
  bool manual_reset = true;
  if (command == "create" && i < argc && std::strcmp(argv[i], "--auto") == 0) {
    manual_reset = false;
    ++i;
  }
  if (i + 1 != argc) {
    std::fprintf(stderr, "agevent: %s needs exactly one event name\n\n%s", std::string(command).c_str(), kUsage);
    return 1;
  }
  const std::string name = argv[i];
  if (command == "create") {
    return Create(name, manual_reset);
  }
  if (command != "set" && command != "reset" && command != "open") {
    std::fprintf(stderr, "agevent: unknown command \"%s\"\n\n%s", std::string(command).c_str(), kUsage);
    return 1;
  }
  uint32_t error = 0;
  auto event = platform::NamedEvent::OpenExisting(name, &error);
  if (!event) {
    return Fail("open", name, error);
  }
  if (command == "set" && !event->Set()) {
    return Fail("set", name, platform::ErrorFromErrno(errno));
  }
  if (command == "reset" && !event->Reset()) {
    return Fail("reset", name, platform::ErrorFromErrno(errno));
  }
  return 0;
}
