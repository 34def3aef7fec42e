#include "server_commands.h"

#include <agsuite/agmisc.h>

#include <array>

#include "client_store.h"
#include "host_facts.h"
#include "json_text.h"
#include "product_standin.h"
#include "resp_log.h"

namespace agresp {
namespace {

// Events of the core's notification callback.
constexpr int32_t kEventClientUnregister = 26;
constexpr int32_t kEventHeartbeatIntervalChanged = 27;
constexpr int32_t kEventOtpStatus = 33;

constexpr uint32_t kAvStatusDigestSlot = 21;
constexpr uint32_t kMaxHeartbeatMinutes = 43200;  // 30 days

Json::Value DataOf(const CSPRequest& request) {
  Json::Value data;
  if (request.data == nullptr || !ParseJson(request.data, &data)) return Json::Value();
  return data;
}

bool PositiveMember(const Json::Value& data, const char* key, uint32_t max, uint32_t* out) {
  if (!data.isObject()) return false;
  const Json::Value& member = data[key];
  // 45.5 minutes is a server fault, not something to round.
  if ((member.type() != Json::intValue && member.type() != Json::uintValue) || !member.isUInt()) return false;
  const uint32_t value = member.asUInt();
  if (value == 0 || value > max) return false;
  *out = value;
  return true;
}

bool Raise(PFN_NOTIFY_CLIENT_CORE callback, int32_t event, int64_t param = 0) {
  if (callback == nullptr) {
    RESPLOG(AG_LOG_FAILURE, "No core callback to raise event %d.", event);
    return false;
  }
  if (callback(event, param) == 0) {
    RESPLOG(AG_LOG_FAILURE, "Core callback refused event %d.", event);
    return false;
  }
  RESPLOG(AG_LOG_PROGRESS, "Core callback raised with event %d.", event);
  return true;
}

// Server command ids handled here.
enum : uint32_t {
  kCmdSendAvStatus = 1,
  kCmdGetData = 3,
  kCmdApplyPolicy = 12,
  kCmdUaBuildLocation = 20,
  kCmdFetchPolicy = 24,
  kCmdUnregister = 26,
  kCmdHeartbeatInterval = 27,
  kCmdReactivate = 28,
  kCmdForceSync = 29,
  kCmdDisconnect = 30,
  kCmdUnauthorisedDevice = 31,
  kCmdEncryptionRecovery = 32,
  kCmdOtpStatus = 33,
  kCmdAvBuildLocations = 39,
  kCmdOsQuery = 49,
  kCmdRelayConfig = 57,
  kCmdEnumerateEndpoints = 104,
  kCmdRemoteUninstall = 107,
  kCmdRegistrationStatus = 109,
  kCmdReEnrol = 111,
  kCmdSpUpgrade = 116,
  kCmdUpUpgrade = 117,
  kCmdUpgrade = 120,
  kCmdPullLog = 141,
  kCmdMigration = 143,
};

bool StoreLocations(uint32_t store_id, std::initializer_list<std::pair<uint32_t, std::string>> slots) {
  ClientStore store;
  std::vector<char> record = store.ReadLocations(store_id);
  for (const auto& [offset, text] : slots) {
    if (!text.empty()) SetLocationSlot(record, offset, text);
  }
  return store.Write(store_id, kLocationRecordSize, record.data());
}

std::string TextMember(const Json::Value& data, const char* key) {
  return data.isObject() && data[key].isString() ? data[key].asString() : std::string();
}

bool ApplyPolicy(const Json::Value& data, CommandOutcome* outcome) {
  if (!data.isObject() || (data.isMember("features") && !data["features"].isObject())) {
    RESPLOG(AG_LOG_FAILURE, "Policy command without a policy object.");
    return false;
  }
  const ProtectionProduct product = ProtectionProduct::Locate();
  bool applied = false;
  if (product.IsInstalled()) {
    applied = product.WriteObject(kProductPolicyFile, data);
    Json::Value entry(Json::objectValue);
    entry["cmd"] = kCmdApplyPolicy;
    entry["version"] = TextMember(data, "version");
    if (!product.Tell(std::move(entry))) RESPLOG(AG_LOG_PASSED_OVER, "Policy journal entry not written");
  } else {
    RESPLOG(AG_LOG_PASSED_OVER, "Protection product not installed; policy kept by the server only.");
  }
  Json::Value ack(Json::objectValue);
  ack["applied"] = applied;
  ack["version"] = TextMember(data, "version");
  outcome->ack_payload = CompactJson(ack);
  return true;
}

bool GetData(const Json::Value& data, PayloadBuilder& payloads, CommandOutcome* outcome) {
  if (!data.isObject() || !data["dataId"].isUInt()) {
    RESPLOG(AG_LOG_FAILURE, "Get-data command without \"dataId\".");
    return false;
  }
  const uint32_t id = data["dataId"].asUInt();
  // Product reads have ids below 100, client items from 100 on.
  const uint32_t category = data["category"].isUInt() ? data["category"].asUInt() : (id < 100 ? 2 : 1);
  payloads.BeginRequest();
  outcome->ack_payload = payloads.Build(id, category, 1, nullptr, /*apply_digest=*/false);
  if (outcome->ack_payload.empty()) {
    RESPLOG(AG_LOG_FAILURE, "Nothing to give for data id %u.", id);
    return false;
  }
  return true;
}

bool OsQuery(const Json::Value& data, CommandOutcome* outcome) {
  const OsFacts os = ReadOsFacts();
  Json::Value ack(Json::objectValue);
  ack["query"] = data.isObject() ? data["query"] : Json::Value();
  ack["hostName"] = HostName();
  ack["os"]["name"] = os.name;
  ack["os"]["release"] = os.release;
  ack["os"]["machine"] = os.machine;
  ack["os"]["distribution"] = os.distribution;
  outcome->ack_payload = CompactJson(ack);
  return true;
}

bool ForwardToProduct(const CSPRequest& request, const Json::Value& data) {
  const ProtectionProduct product = ProtectionProduct::Locate();
  if (!product.IsInstalled()) {
    RESPLOG(AG_LOG_PASSED_OVER, "Command %u has no action without the protection product.", request.commandId);
    return true;
  }
  Json::Value entry(Json::objectValue);
  entry["cmd"] = request.commandId;
  entry["type"] = request.commandType;
  entry["data"] = data;
  Json::Value context;
  if (request.context != nullptr && ParseJson(request.context, &context)) entry["context"] = context;
  return product.Tell(std::move(entry));
}

}  // namespace

bool CarryOutCommand(const CSPRequest& request, PFN_NOTIFY_CLIENT_CORE callback, PayloadBuilder& payloads,
                     CommandOutcome* outcome) {
  const Json::Value data = DataOf(request);
  RESPLOG(AG_LOG_PROGRESS, "Command %u type %u.", request.commandId, request.commandType);
  switch (request.commandId) {
    case kCmdSendAvStatus: {
      // The core pushes status 9 after this command: forgetting its digest makes it go out.
      ClientStore store;
      const std::array<uint8_t, 16> zero{};
      return store.Write(kAvStatusDigestSlot, zero.size(), zero.data());
    }
    case kCmdGetData:
      return GetData(data, payloads, outcome);
    case kCmdApplyPolicy:
      return ApplyPolicy(data, outcome);
    case kCmdUaBuildLocation: {
      const std::string url = TextMember(data, "uabld");
      if (url.empty()) {
        RESPLOG(AG_LOG_FAILURE, "Unified-agent build command without \"uabld\".");
        return false;
      }
      return StoreLocations(kStoreIdUaLocations, {{0x1C00, url}});
    }
    case kCmdFetchPolicy:
    case kCmdReactivate:
    case kCmdForceSync:
    case kCmdDisconnect:
    case kCmdUnauthorisedDevice:
    case kCmdEncryptionRecovery:
      // These commands carry the number of the core event they raise.
      return Raise(callback, static_cast<int32_t>(request.commandId));
    case kCmdUnregister:
      // Registration starts over only when the stored status says unregistered.
      if (SetClientRegStatus(0, 0) == 0) RESPLOG(AG_LOG_FAILURE, "SetClientRegStatus failed");
      return Raise(callback, kEventClientUnregister);
    case kCmdHeartbeatInterval: {
      uint32_t minutes = 0;
      if (!PositiveMember(data, "interval", kMaxHeartbeatMinutes, &minutes)) {
        RESPLOG(AG_LOG_FAILURE, "Heartbeat interval missing or out of range.");
        return false;
      }
      ClientStore store;
      return store.Write(kStoreIdHeartbeatInterval, sizeof(minutes), &minutes) &&
             Raise(callback, kEventHeartbeatIntervalChanged);
    }
    case kCmdOtpStatus:
      if (!data.isObject() || !data["code"].isIntegral()) {
        RESPLOG(AG_LOG_FAILURE, "OTP status command without \"code\".");
        return false;
      }
      return Raise(callback, kEventOtpStatus, data["code"].asLargestInt());
    case kCmdAvBuildLocations:
      return StoreLocations(kStoreIdAvLocations, {{0x0800, TextMember(data, "url1")}, {0x0400, TextMember(data, "url2")}});
    case kCmdOsQuery:
      return OsQuery(data, outcome);
    case kCmdRelayConfig: {
      std::array<uint32_t, 3> intervals{};  // rpHb, rpFcfg, rpReg in minutes
      if (!PositiveMember(data, "rpHb", kMaxHeartbeatMinutes, &intervals[0]) ||
          !PositiveMember(data, "rpFcfg", kMaxHeartbeatMinutes, &intervals[1]) ||
          !PositiveMember(data, "rpReg", kMaxHeartbeatMinutes, &intervals[2])) {
        RESPLOG(AG_LOG_FAILURE, "Relay configuration incomplete or out of range.");
        return false;
      }
      ClientStore store;
      return store.Write(kStoreIdRelayIntervals, sizeof(intervals), intervals.data());
    }
    case kCmdEnumerateEndpoints:
      payloads.BeginRequest();
      outcome->entries.emplace_back(kCmdEnumerateEndpoints, payloads.Build(kCmdEnumerateEndpoints, 1, 1, nullptr));
      return true;
    case kCmdRegistrationStatus:
      if (data.isObject() && data["status"].isUInt() && SetClientRegStatus(data["status"].asUInt(), 0) == 0) {
        RESPLOG(AG_LOG_FAILURE, "SetClientRegStatus failed");
        return false;
      }
      return true;
    case kCmdPullLog: {
      // The core runs the log collector itself on the failed path of this
      // command; here only the upload location is kept for it.
      const std::string sub_url = TextMember(data, "subUrl");
      if (!sub_url.empty()) {
        ClientStore store;
        if (!store.WriteText(kStoreIdPullLogSubUrl, sub_url)) RESPLOG(AG_LOG_FAILURE, "Storing the sub-URL failed");
      }
      RESPLOG(AG_LOG_PROGRESS, "Pull log left to the agent core.");
      return false;
    }
    case kCmdRemoteUninstall:
    case kCmdReEnrol:
    case kCmdSpUpgrade:
    case kCmdUpUpgrade:
    case kCmdUpgrade:
    case kCmdMigration:
      // The core does the work of these itself after a successful processing.
      return true;
    default:
      return ForwardToProduct(request, data);
  }
}

}  // namespace agresp
