// Set-to-wake latency of the platform layer's events.
//
// Each iteration is one round trip: this side sets "ping", the other side
// wakes, sets "pong", and this side wakes. One set-to-wake latency is about
// half an iteration. Across threads the events are unnamed (eventfd); across
// processes they are named events (FIFOs) and the other side is a forked
// child that opens them by name, as an installer process does.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "platform/event.h"
#include "platform/folders.h"
#include "platform/named_event.h"

namespace {

using platform::Event;
using platform::kInfinite;
using platform::NamedEvent;
using platform::Waitable;
using platform::WaitAnyRealTime;

void BM_EventSetAndConsume(benchmark::State& state) {
  auto event = Event::Create(Event::Reset::kAuto, false);
  Waitable* handles[] = {event.get()};
  for (auto _ : state) {
    event->Set();
    benchmark::DoNotOptimize(WaitAnyRealTime(handles, 0));
  }
}
BENCHMARK(BM_EventSetAndConsume);

void BM_EventWakeAcrossThreads(benchmark::State& state) {
  auto ping = Event::Create(Event::Reset::kAuto, false);
  auto pong = Event::Create(Event::Reset::kAuto, false);
  auto stop = Event::Create(Event::Reset::kManual, false);
  std::thread other([&] {
    Waitable* handles[] = {ping.get(), stop.get()};
    while (WaitAnyRealTime(handles, kInfinite) == 0) {
      pong->Set();
    }
  });
  Waitable* handles[] = {pong.get()};
  for (auto _ : state) {
    ping->Set();
    WaitAnyRealTime(handles, kInfinite);
  }
  stop->Set();
  other.join();
}
BENCHMARK(BM_EventWakeAcrossThreads)->UseRealTime();

void BM_NamedEventWakeAcrossProcesses(benchmark::State& state) {
  char pattern[] = "/tmp/agplatform_bench_XXXXXX";
  const std::string root = mkdtemp(pattern);
  platform::SetMachineRoot(root);
  auto ping = NamedEvent::CreateOrOpen("Global\\bench_ping", false, false, nullptr);
  auto pong = NamedEvent::CreateOrOpen("Global\\bench_pong", false, false, nullptr);
  auto stop = NamedEvent::CreateOrOpen("Global\\bench_stop", true, false, nullptr);
  if (!ping || !pong || !stop) {
    state.SkipWithError("cannot create the named events");
    return;
  }
  const pid_t child = fork();
  if (child == 0) {
    // The inherited objects share our open files (and so our flock); the
    // child opens its own, as a separate program would.
    auto child_ping = NamedEvent::OpenExisting("Global\\bench_ping");
    auto child_pong = NamedEvent::OpenExisting("Global\\bench_pong");
    auto child_stop = NamedEvent::OpenExisting("Global\\bench_stop");
    if (!child_ping || !child_pong || !child_stop) {
      _exit(1);
    }
    Waitable* handles[] = {child_ping.get(), child_stop.get()};
    while (WaitAnyRealTime(handles, kInfinite) == 0) {
      child_pong->Set();
    }
    _exit(0);
  }
  Waitable* handles[] = {pong.get()};
  for (auto _ : state) {
    ping->Set();
    WaitAnyRealTime(handles, kInfinite);
  }
  stop->Set();
  int status = 0;
  waitpid(child, &status, 0);
  platform::SetMachineRoot("/");
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_NamedEventWakeAcrossProcesses)->UseRealTime();

}  // namespace
