// The RP client object: the agent core's handle for every exchange with the
// management server or its relay (IRPClient of agmsg.h), and the CS client
// object it is made from.
//
// Ownership: the core owns an RP client from CreateRPClientObject until
// FreeRPClientObject; every ServerResponse it hands out belongs to the library
// until FreeServerResponse. The CS client object is one process-wide object
// of the library and is never freed by the caller.
//
// Threads: an RP client is meant for one thread (the heartbeat thread or one
// task performer); its operations are serialised by a lock all the same, so a
// second thread only waits. Each call blocks for at most the connect plus the
// total time-out.
#pragma once

#include <agsuite/agmsg.h>
#include <json/value.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "suite/agtransport/endpoint.h"
#include "suite/agtransport/http_session.h"
#include "suite/agtransport/support_environment.h"
#include "suite/agtransport/transport_settings.h"

namespace agtransport {

// The transport base object: its existence means libcurl is set up.
class CsClient final : public ICSClient {
 public:
  [[nodiscard]] static CsClient& Instance();

 private:
  CsClient() = default;
};

class RpClient final : public IRPClient {
 public:
  struct Options {
    Timeouts timeouts;
    bool on_premises = false;
  };

  RpClient(SupportEnvironment& environment, Options options);
  ~RpClient() override = default;
  RpClient(const RpClient&) = delete;
  RpClient& operator=(const RpClient&) = delete;

  [[nodiscard]] bool valid() const { return session_.valid(); }

  uint8_t InitCSClient(const CSConnectionInfo* info) override;
  uint8_t DeInitializeRPClient() override;
  uint8_t Register(const char* pszJson, ServerResponse** ppResponse) override;
  uint8_t SendCommandAck(const CmdAck* ack, ServerResponse** ppResponse) override;
  uint8_t SetClientData(const ClientDataRecord* record, uint32_t dataId, ServerResponse** ppResponse,
                        uint8_t flag) override;
  uint8_t SendNotification(uint32_t kind, uint32_t id, const char* pszJson, ServerResponse** ppResponse) override;
  uint8_t FreeServerResponse(ServerResponse* response) override;
  uint8_t GetRPConfig(ServerResponse** ppResponse) override;
  uint8_t SetRPMode(uint8_t viaRelay) override;
  uint8_t UnRegisterFromRP() override;

 private:
  enum class Route { kCurrentMode, kRelayWhenKnown };

  // Sends `body` for `operation` and parses the answer into *response.
  // Caller holds mutex_.
  [[nodiscard]] bool Exchange(Operation operation, uint32_t client_data_kind, Route route, const Json::Value& body,
                              ServerResponse** response);
  [[nodiscard]] std::vector<std::string> IdentityHeaders() const;

  SupportEnvironment& environment_;
  const Options options_;
  std::mutex mutex_;
  std::optional<ConnectionSettings> settings_;  // guarded by mutex_; set by InitCSClient
  std::optional<ProxySettings> proxy_;          // guarded by mutex_
  std::string ca_bundle_;                       // guarded by mutex_
  bool relay_mode_ = false;                     // guarded by mutex_
  HttpSession session_;                         // guarded by mutex_
};

}  // namespace agtransport
