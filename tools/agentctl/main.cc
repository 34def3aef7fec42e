// agentctl: what an operator asks of a running (or stopped) agent.
//
//   agentctl status  [--root DIR] [--machine-root DIR] [--json]
//   agentctl pending [--root DIR] [--json]
//   agentctl tenant  [--root DIR] [--json]
//
// Read-only: the store is opened read-only and never waited on for long,
// the tenant and INI files are only read.
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "agent_status.h"
#include "exit_codes.h"
#include "pending_view.h"
#include "status_report.h"
#include "tenant_masking.h"

namespace {

using agentctl::kExitDamaged;
using agentctl::kExitMissing;
using agentctl::kExitOk;
using agentctl::kExitUsage;

constexpr const char* kUsage =
    "usage: agentctl status  [--root DIR] [--machine-root DIR] [--json]\n"
    "       agentctl pending [--root DIR] [--json]\n"
    "       agentctl tenant  [--root DIR] [--json]\n"
    "\n"
    "status   enrolment, identities, server, heartbeat, last contact, pending\n"
    "         records, protection product and whether the service runs\n"
    "pending  every pending acknowledgement and notification, oldest first\n"
    "tenant   the tenant file clagnt.dat decoded, secrets masked\n"
    "\n"
    "  --root DIR          agent root (default /var/lib/vornex-agent)\n"
    "  --machine-root DIR  folder standing for the machine's files (default /)\n"
    "  --json              one JSON document (see docs/operations.md)\n"
    "\n"
    "Reads only: the client data store is opened read-only and never waited\n"
    "on for more than a quarter of a second.\n"
    "\n"
    "Exit status: 0 done; 1 no client data store (or tenant file) under the\n"
    "root; 2 usage error; 3 the store or tenant file is damaged or unreadable;\n"
    "4 the store stayed locked by another process.\n";

struct Command {
  std::string name;
  agentctl::StatusSources sources;
  bool json = false;
};

std::optional<Command> Parse(const std::vector<std::string>& args, std::string* error) {
  if (args.empty()) {
    *error = "no command";
    return std::nullopt;
  }
  Command command;
  command.name = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      command.json = true;
    } else if ((arg == "--root" || arg == "--machine-root") && i + 1 < args.size() && !args[i + 1].empty()) {
      (arg == "--root" ? command.sources.agent_root : command.sources.machine_root) = args[++i];
    } else {
      *error = "unexpected argument " + arg;
      return std::nullopt;
    }
  }
  return command;
}

void PrintJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  std::cout << Json::writeString(builder, value) << "\n";
}

int Status(const Command& command, int64_t now) {
  const agentctl::AgentStatus status = agentctl::CollectStatus(command.sources);
  if (command.json) {
    PrintJson(agentctl::StatusJson(status, now));
  } else {
    std::cout << agentctl::StatusText(status, now);
  }
  return agentctl::ExitCodeFor(status.store.state);
}

int Pending(const Command& command, int64_t now) {
  const agentctl::StoreReading reading = agentctl::ReadStore(agentctl::StorePathOf(command.sources.agent_root));
  if (reading.state != agentctl::StoreState::kRead) {
    std::cerr << "agentctl: " << reading.message << "\n";
    return agentctl::ExitCodeFor(reading.state);
  }
  if (command.json) {
    PrintJson(agentctl::PendingJson(reading.snapshot.pending, now));
  } else {
    std::cout << agentctl::PendingText(reading.snapshot.pending, now);
  }
  return kExitOk;
}

int Tenant(const Command& command) {
  const std::string path = agentctl::TenantPathOf(command.sources.agent_root);
  const agentctl::TenantView tenant = agentctl::ReadTenant(path);
  if (!tenant.readable) {
    std::cerr << "agentctl: " << tenant.problem << "\n";
    return tenant.present ? kExitDamaged : kExitMissing;
  }
  const Json::Value masked = agentctl::MaskedTenant(tenant.root);
  if (command.json) {
    PrintJson(masked);
  } else {
    std::cout << agentctl::TenantText(masked);
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    std::cout << kUsage;
    return kExitOk;
  }
  std::string error;
  const auto command = Parse(args, &error);
  if (!command) {
    std::cerr << "agentctl: " << error << "\n\n" << kUsage;
    return kExitUsage;
  }
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (command->name == "status") return Status(*command, now);
  if (command->name == "pending") return Pending(*command, now);
  if (command->name == "tenant") return Tenant(*command);
  std::cerr << "agentctl: unknown command " << command->name << "\n\n" << kUsage;
  return kExitUsage;
}
