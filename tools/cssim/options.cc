#include "tools/cssim/options.h"

#include <charconv>
#include <string_view>

namespace cssim {
namespace {

std::optional<uint32_t> ParseNumber(std::string_view text) {
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<Address> ParseAddress(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  const std::optional<uint32_t> port = ParseNumber(text.substr(colon + 1));
  if (!port || *port > 65535) return std::nullopt;
  return Address{std::string(text.substr(0, colon)), static_cast<int>(*port)};
}

std::optional<std::vector<uint32_t>> ParseTriple(std::string_view text) {
  std::vector<uint32_t> values;
  while (true) {
    const size_t comma = text.find(',');
    const std::optional<uint32_t> value = ParseNumber(text.substr(0, comma));
    if (!value) return std::nullopt;
    values.push_back(*value);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (values.size() != 3) return std::nullopt;
  return values;
}

}  // namespace

std::optional<Options> ParseOptions(int argc, char** argv, bool* help, std::string* error) {
  Options options;
  bool have_listen = false;
  *help = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      *help = true;
      return options;
    }
    if (arg == "--refuse-registration") {
      options.refuse_registration = true;
      continue;
    }
    if (arg == "--strict-enrolment") {
      options.strict_enrolment = true;
      continue;
    }
    if (arg == "--redeliver") {
      options.redeliver = true;
      continue;
    }
    if (i + 1 >= argc) {
      *error = std::string(arg) + ": unknown option or missing value";
      return std::nullopt;
    }
    const std::string_view value = argv[++i];
    if (arg == "--listen" || arg == "--relay-listen") {
      const std::optional<Address> address = ParseAddress(value);
      if (!address) {
        *error = std::string(arg) + " wants HOST:PORT, got '" + std::string(value) + "'";
        return std::nullopt;
      }
      if (arg == "--listen") {
        options.listen = *address;
        have_listen = true;
      } else {
        options.relay_listen = *address;
      }
    } else if (arg == "--tls-cert") {
      options.tls_cert = value;
    } else if (arg == "--tls-key") {
      options.tls_key = value;
    } else if (arg == "--journal") {
      options.journal = value;
    } else if (arg == "--av-build") {
      options.av_build = value;
    } else if (arg == "--heartbeat-interval" || arg == "--default-leading" || arg == "--seed") {
      const std::optional<uint32_t> number = ParseNumber(value);
      if (!number) {
        *error = std::string(arg) + " wants a number, got '" + std::string(value) + "'";
        return std::nullopt;
      }
      if (arg == "--heartbeat-interval") {
        options.heartbeat_interval_minutes = *number;
      } else if (arg == "--seed") {
        options.seed = *number;
      } else {
        options.default_leading = *number;
      }
    } else if (arg == "--relay-intervals") {
      const std::optional<std::vector<uint32_t>> triple = ParseTriple(value);
      if (!triple) {
        *error = "--relay-intervals wants HB,FCFG,REG (three numbers of minutes)";
        return std::nullopt;
      }
      options.relay_intervals = *triple;
    } else {
      *error = std::string(arg) + ": unknown option";
      return std::nullopt;
    }
  }
  if (!have_listen) {
    *error = "--listen HOST:PORT is required";
    return std::nullopt;
  }
  if (options.journal.empty()) {
    *error = "--journal FILE is required";
    return std::nullopt;
  }
  if (options.tls_cert.empty() != options.tls_key.empty()) {
    *error = "--tls-cert and --tls-key go together";
    return std::nullopt;
  }
  return options;
}

std::string HelpText() {
  return R"(cssim - management-server simulator for the client agent

Usage:
  cssim --listen HOST:PORT --journal FILE [options]

Options:
  --listen HOST:PORT         address of the server (protocol and /admin/ API).
                             PORT 0 picks a free port; the chosen one is printed
                             as "cssim: listening on HOST:PORT".
  --relay-listen HOST:PORT   also act as the relay (plain HTTP) on this address;
                             printed as "cssim: relay listening on HOST:PORT".
  --tls-cert FILE            serve the server address over HTTPS with this PEM
  --tls-key FILE             certificate (chain) and key.
  --journal FILE             append every request as one JSON line:
                             {"seq","time","timeMs","listener","service",
                              "operation","clientGuid","tenantId","dataId",...,
                              "payload","response":{...}}
  --heartbeat-interval MIN   queue a heartbeat-interval command for every newly
                             enrolled client (delivered with its first heartbeat).
  --relay-intervals H,F,R    answer every relay-configuration request with a
                             command that sets the relay heartbeat, relay
                             configuration and relay registration intervals.
  --default-leading N        leading value of queued commands that give none (0).
  --av-build FILE            serve FILE as the protection product's build at
                             /s1/build.exe and /cdn/build.exe and hand those two
                             locations to every client (command 39) with its
                             first heartbeat and after each request for them
                             (notification 134).
  --refuse-registration      refuse every registration with error 101.
  --strict-enrolment         answer requests of clients that never registered
                             with error 20016 (client unknown).
  --redeliver                keep each heartbeat command queued until the
                             acknowledgement of its GUID gets a well-formed
                             answer; until then it goes out with every heartbeat
                             answer, as a server does that waits for the ack.
  --seed N                   seed of the random faults (POST /admin/chaos);
                             printed as "cssim: seed N", random when not given.
  --help                     this text.

Protocol (see docs/protocol.md): POST /<app>/<service>/<operation> with a JSON
body; operation is one of register, clientdata, notification, ack, rpconfig,
unregister. Queued commands go out with the next heartbeat (clientdata with
dataId 118) of their client. Report chunks (clientdata with dataId 103) are
counted per client; the journal entry of each holds "reportRecords" and
"reportTotal", that of a policy answer "policyVersion".

Admin API (on the --listen address, JSON in and out):
  GET    /admin/health                  {"status":"ok","clients":N,
                                         "held":N (requests a slow period holds)}
  GET    /admin/clients                 enrolled clients and their queues
  POST   /admin/commands                queue a command:
           {"client":"GUID" | "*", "command":{"cmd":{"id":12,"type":1,
            "context":{},"data":{}}}, "guid":"optional", "leading":N,
            "on":"heartbeat" | "policy" | "rpconfig"}
  GET    /admin/commands?client=GUID    commands still queued
  POST   /admin/faults                  fail the next responses:
           {"count":N, "operation":"ack" (optional), "client":"GUID" (optional),
            "errorCodes":[20016], "success":false, "httpStatus":500 (optional),
            "body":"raw body text" (optional)}
  DELETE /admin/faults                  drop every pending fault
  POST   /admin/chaos                   fail a random share of the answers:
           {"operation":"ack", "percent":30}; each failure is an HTTP 500 or
           503, a truncated or non-JSON body, a body without "success", or a
           refusal ("success":false); journaled with "chaos":"<kind>"
  DELETE /admin/chaos                   no more random failures
  POST   /admin/registration            {"refuse":true|false}
  POST   /admin/outage                  {"mode":"unreachable" | "slow",
                                         "seconds":N, "delayMs":M (slow),
                                         "listener":"direct"|"relay"|"all"}
  DELETE /admin/outage                  end a slow period at once
  GET    /admin/journal?since=SEQ&client=GUID&operation=OP
                                        journal entries after SEQ
  GET    /admin/reports                 report records received per client:
                                        {"clients":{"GUID":{"records":N,
                                         "chunks":M,"kinds":{...}}}}
  GET    /admin/policy                  the policies assigned to clients
  POST   /admin/policy                  assign a policy ("*": every client):
           {"client":"GUID" | "*", "policy":{"version":"v2",
            "features":{"3":"on","7":"off"}}, "notify":true (default)}
           With notify, command 24 goes out with the next heartbeat and the
           client asks for its policy; a policy request (clientdata with
           dataType 10) is answered with command 12 carrying the policy.

Queue a command for every client (copy and paste, adjust the port):
  curl -s -X POST http://127.0.0.1:8443/admin/commands \
       -H 'Content-Type: application/json' \
       -d '{"client":"*","command":{"cmd":{"id":1,"type":1,"context":{},"data":{}}}}'

Stops cleanly on SIGTERM or SIGINT.
)";
}

}  // namespace cssim
