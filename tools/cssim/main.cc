// cssim: the management-server simulator. Wires the listeners (server and
// optional relay) to the protocol handler and the admin API, prints the
// addresses it listens on, and runs until SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "tools/cssim/admin_api.h"
#include "tools/cssim/build_host.h"
#include "tools/cssim/client_records.h"
#include "tools/cssim/journal.h"
#include "tools/cssim/listener.h"
#include "tools/cssim/options.h"
#include "tools/cssim/protocol_handler.h"
#include "tools/cssim/sim_state.h"

int main(int argc, char** argv) {
  bool help = false;
  std::string error;
  const std::optional<cssim::Options> options = cssim::ParseOptions(argc, argv, &help, &error);
  if (help) {
    std::fputs(cssim::HelpText().c_str(), stdout);
    return 0;
  }
  if (!options) {
    std::fprintf(stderr, "cssim: %s (see --help)\n", error.c_str());
    return 2;
  }

  // Signals are taken by sigwait below; every thread started from here on
  // inherits the blocked mask, so none of them is interrupted by a stop.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  cssim::Journal journal;
  if (!journal.Open(options->journal, &error)) {
    std::fprintf(stderr, "cssim: %s\n", error.c_str());
    return 1;
  }
  const uint32_t seed = options->seed.value_or(std::random_device{}());
  std::printf("cssim: seed %u\n", seed);
  cssim::SimState state(options->refuse_registration, options->default_leading, seed, options->redeliver);
  cssim::ServerBehaviour behaviour;
  behaviour.heartbeat_interval_minutes = options->heartbeat_interval_minutes;
  behaviour.relay_intervals = options->relay_intervals;
  behaviour.strict_enrolment = options->strict_enrolment;
  cssim::BuildHost av_build;
  if (!options->av_build.empty()) {
    if (!av_build.Load(options->av_build, &error)) {
      std::fprintf(stderr, "cssim: %s\n", error.c_str());
      return 1;
    }
    behaviour.av_build = &av_build;
  }
  cssim::ClientRecords records;
  cssim::ProtocolHandler protocol(state, records, journal, behaviour);

  std::vector<std::unique_ptr<cssim::Listener>> listeners;
  cssim::AdminApi admin(state, records, journal, [&listeners](const std::string& which, std::chrono::milliseconds period) {
    bool found = false;
    for (const auto& listener : listeners) {
      if (which == "all" || which == listener->name()) {
        listener->Suspend(period);
        found = true;
      }
    }
    return found;
  });

  listeners.push_back(std::make_unique<cssim::Listener>(
      "direct", options->listen.host, options->listen.port, options->tls_cert, options->tls_key,
      [&](httplib::Server& server) {
        protocol.Install(server, "direct");
        admin.Install(server);
        if (behaviour.av_build != nullptr) av_build.Install(server);
      }));
  if (options->relay_listen) {
    listeners.push_back(std::make_unique<cssim::Listener>(
        "relay", options->relay_listen->host, options->relay_listen->port, "", "",
        [&](httplib::Server& server) { protocol.Install(server, "relay"); }));
  }
  for (const auto& listener : listeners) {
    if (!listener->Bind(&error)) {
      std::fprintf(stderr, "cssim: %s\n", error.c_str());
      return 1;
    }
  }
  av_build.SetBaseUrl(std::string(options->tls_cert.empty() ? "http://" : "https://") + options->listen.host + ":" +
                      std::to_string(listeners[0]->port()));
  for (const auto& listener : listeners) listener->Start();
  std::printf("cssim: listening on %s:%d%s\n", options->listen.host.c_str(), listeners[0]->port(),
              options->tls_cert.empty() ? "" : " (https)");
  if (options->relay_listen) {
    std::printf("cssim: relay listening on %s:%d\n", options->relay_listen->host.c_str(), listeners[1]->port());
  }
  std::printf("cssim: ready\n");
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  std::printf("cssim: stopping on signal %d\n", received);
  std::fflush(stdout);
  state.Shutdown();
  for (const auto& listener : listeners) listener->Stop();
  return 0;
}
