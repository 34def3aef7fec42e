// The protocol side of the simulator: answers every RP client operation
// (register, clientdata, notification, ack, rpconfig, unregister) as
// docs/protocol.md describes, applying pending faults and slow periods, and
// journals each request with the answer given.
//
// Called concurrently from the handler threads of both listeners.
#pragma once

#include <httplib.h>
#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/cssim/build_host.h"
#include "tools/cssim/client_records.h"
#include "tools/cssim/journal.h"
#include "tools/cssim/sim_state.h"

namespace cssim {

struct ServerBehaviour {
  std::optional<uint32_t> heartbeat_interval_minutes;  // queued for each new client
  std::vector<uint32_t> relay_intervals;               // RpHb, RpFcfg, RpReg or empty
  bool strict_enrolment = false;
  const BuildHost* av_build = nullptr;                  // null: no build to hand out
};

// Error codes the simulator answers with.
inline constexpr uint32_t kErrorRegistrationRefused = 101;
inline constexpr uint32_t kErrorClientUnknown = 20016;

// Data id of the heartbeat's client data, the policy kind of client data,
// and the data id of a client-report chunk.
inline constexpr uint32_t kHeartbeatDataId = 118;
inline constexpr uint32_t kPolicyDataType = 10;
inline constexpr uint32_t kReportDataId = 103;

class ProtocolHandler {
 public:
  ProtocolHandler(SimState& state, ClientRecords& records, Journal& journal, ServerBehaviour behaviour);

  // Adds the protocol routes; `via` ("direct" or "relay") is journaled.
  void Install(httplib::Server& server, const std::string& via);

 private:
  void Handle(const httplib::Request& request, httplib::Response& response, const std::string& via);
  // `entry` is the request's journal entry; report counts and the policy sent
  // are added to it.
  [[nodiscard]] Json::Value Answer(const std::string& operation, const std::string& guid, bool enrolled,
                                   const Json::Value& body, Json::Value* entry);
  [[nodiscard]] std::vector<QueuedCommand> AnswerClientData(const std::string& guid, const Json::Value& body,
                                                            Json::Value* entry);
  void QueueForHeartbeat(const std::string& guid, const Json::Value& command);

  SimState& state_;
  ClientRecords& records_;
  Journal& journal_;
  const ServerBehaviour behaviour_;
};

// {"cmd": {"id": id, "type": 1, "context": {}, "data": data}}
[[nodiscard]] Json::Value MakeCommand(uint32_t id, const Json::Value& data);
// The policy command 12 carrying `policy`; type 4, so that its
// acknowledgement carries the policy the client applied.
[[nodiscard]] Json::Value MakePolicyCommand(const Json::Value& policy);

}  // namespace cssim
