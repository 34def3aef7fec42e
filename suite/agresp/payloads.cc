#include "payloads.h"

#include <agsuite/agmisc.h>

#include <cstring>
#include <filesystem>
#include <utility>

#include "client_store.h"
#include "host_facts.h"
#include "json_text.h"
#include "platform/clock.h"
#include "product_standin.h"
#include "resp_log.h"
#include "status_digest.h"

namespace agresp {
namespace {

// Port of the local P2P web server named in the 131 payload.
constexpr int kP2PWebServerPort = 9091;

Json::Value OsObject() {
  const OsFacts os = ReadOsFacts();
  Json::Value value(Json::objectValue);
  value["name"] = os.name;
  value["release"] = os.release;
  value["version"] = os.version;
  value["machine"] = os.machine;
  value["distribution"] = os.distribution;
  return value;
}

std::string ClientUdi() {
  char udi[100] = {};
  if (GetClientUDI(udi, sizeof(udi)) == 0) return {};
  return std::string(udi, strnlen(udi, sizeof(udi)));
}

uint32_t ReadOr(uint8_t (*get)(uint32_t*), uint32_t fallback) {
  uint32_t value = fallback;
  return get(&value) != 0 ? value : fallback;
}

uint32_t RegStatus() {
  uint32_t status = 0;
  return GetClientRegStatus(&status, 0) != 0 ? status : 0;
}

Json::Value LocationsObject(const std::vector<char>& record) {
  Json::Value value(Json::objectValue);
  value["ua"] = LocationSlot(record, 0x0000);
  value["cdn"] = LocationSlot(record, 0x0400);
  value["server"] = LocationSlot(record, 0x0800);
  value["peer1"] = LocationSlot(record, 0x0C00);
  value["peer2"] = LocationSlot(record, 0x1000);
  return value;
}

Json::Value Timestamped() {
  Json::Value value(Json::objectValue);
  value["guid"] = ClientGuid();
  value["time"] = Json::Int64(platform::GetClock().NowSeconds());
  return value;
}

std::string ProductVersion(const ProtectionProduct& product) {
  const Json::Value status = product.ReadObject(kProductStatusFile);
  return status.isObject() && status["version"].isString() ? status["version"].asString() : std::string();
}

Json::Value ParsedOrText(const char* text) {
  if (text == nullptr || *text == '\0') return Json::Value();
  Json::Value value;
  return ParseJson(text, &value) ? value : Json::Value(text);
}

// P2P values are sent when they differ from those last handed out, or when
// the core marked the last ones as not delivered (a non-zero value at 61).
std::string P2PPayload() {
  ClientStore store;
  const Ipv4Interface ip = PrimaryIpv4();
  const std::string port = std::to_string(kP2PWebServerPort);
  const OsFacts os = ReadOsFacts();
  const std::string osv = os.distribution.empty() ? os.release : os.distribution;
  const std::string ipUrl = ip.address.empty() ? std::string() : "http://" + ip.address + ":" + port + "/";
  const std::string hostUrl = "http://" + HostName() + ":" + port + "/";
  uint16_t resend = 0;
  if (!store.Read(kStoreIdP2PResend, sizeof(resend), &resend)) resend = 0;
  const bool same = store.ReadText(kStoreIdP2PSubnet) == ip.subnet && store.ReadText(kStoreIdP2POsVersion) == osv &&
                    store.ReadText(kStoreIdP2PServerIpUrl) == ipUrl &&
                    store.ReadText(kStoreIdP2PServerHostUrl) == hostUrl;
  if (same && resend == 0 && store.IsOpen()) {
    RESPLOG(AG_LOG_VERBOSE, "P2P values unchanged; not sent again.");
    return {};
  }
  const uint16_t delivered = 0;
  if (!store.WriteText(kStoreIdP2PSubnet, ip.subnet) || !store.WriteText(kStoreIdP2POsVersion, osv) ||
      !store.WriteText(kStoreIdP2PServerIpUrl, ipUrl) || !store.WriteText(kStoreIdP2PServerHostUrl, hostUrl) ||
      !store.Write(kStoreIdP2PResend, sizeof(delivered), &delivered)) {
    RESPLOG(AG_LOG_FAILURE, "Storing the P2P values failed");
  }
  Json::Value payload(Json::objectValue);
  payload["sbnet"] = ip.subnet;
  payload["osv"] = osv;
  payload["srvurls"]["srvipurl"] = ipUrl;
  payload["srvurls"]["srvhosturl"] = hostUrl;
  return CompactJson(payload);
}

// The product puts the listed features back to the policy it was given.
void ResetPolicyFeatures(const ProtectionProduct& product, const char* request_payload) {
  Json::Value ids;
  if (request_payload == nullptr || !ParseJson(request_payload, &ids) || !ids.isArray()) {
    RESPLOG(AG_LOG_FAILURE, "Feature-id list is not a JSON array; nothing reset.");
    return;
  }
  Json::Value policy = product.ReadObject(kProductPolicyFile);
  if (!policy.isObject() || !policy["features"].isObject()) return;
  const std::string version = policy["version"].isString() ? policy["version"].asString() : std::string();
  for (const Json::Value& id : ids) {
    if (!id.isIntegral()) continue;
    const std::string key = std::to_string(id.asLargestInt());
    if (policy["features"].isMember(key)) policy["features"][key] = version.empty() ? "restored" : version;
  }
  if (!product.WriteObject(kProductPolicyFile, policy)) RESPLOG(AG_LOG_FAILURE, "Resetting policy features failed");
}

}  // namespace

std::string ClientGuid() {
  char guid[100] = {};
  if (GetClientGUID(guid, sizeof(guid)) == 0) {
    RESPLOG(AG_LOG_PASSED_OVER, "GetClientGUID failed");
    return {};
  }
  return std::string(guid, strnlen(guid, sizeof(guid)));
}

std::string PayloadBuilder::Build(uint32_t id, uint32_t category, uint32_t action, const char* request_payload,
                                  bool apply_digest) {
  std::string payload;
  if (category == 1) {
    payload = BuildClientItem(id, request_payload);
  } else if (category == 2 && action == 1) {
    payload = BuildProductRead(id);
  } else if (category == 2) {
    payload = TellProduct(id, category, action, request_payload);
  } else {
    RESPLOG(AG_LOG_PASSED_OVER, "Unknown category %u for id %u; nothing to send.", category, id);
  }
  const auto slot = DigestSlotFor(id);
  if (apply_digest && action == 1 && slot && !payload.empty()) {
    ClientStore store;
    if (!StatusChanged(store, *slot, payload)) payload.clear();
  }
  return payload;
}

std::string PayloadBuilder::BuildClientItem(uint32_t id, const char* request_payload) {
  const ProtectionProduct product = ProtectionProduct::Locate();
  Json::Value value(Json::objectValue);
  switch (id) {
    case 118:  // heartbeat: just enough for the server to know who is alive
      value = Timestamped();
      break;
    case 122: {  // registration: the facts that identify this computer
      const Ipv4Interface ip = PrimaryIpv4();
      value["guid"] = ClientGuid();
      value["udi"] = ClientUdi();
      value["hostName"] = HostName();
      value["os"] = OsObject();
      value["agentVersion"] = AgentVersionText();
      value["ipAddress"] = ip.address;
      value["productInstalled"] = product.IsInstalled();
      break;
    }
    case 126: {  // miscellaneous information, sent every registered cycle
      char tag[260] = {};
      uint8_t changed = 0;
      if (GetOrSetAssetTagName(tag, sizeof(tag), &changed, 1) == 0) tag[0] = '\0';
      value["guid"] = ClientGuid();
      value["hostName"] = HostName();
      value["ipAddress"] = PrimaryIpv4().address;
      value["assetTag"] = std::string(tag, strnlen(tag, sizeof(tag)));
      value["assetTagChanged"] = changed != 0;
      value["agentVersion"] = AgentVersionText();
      value["os"] = OsObject();
      break;
    }
    case 101: {  // client status with the product's download locations (digested: no times)
      ClientStore store;
      value["guid"] = ClientGuid();
      value["registered"] = RegStatus() == 3;
      value["productInstalled"] = product.IsInstalled();
      value["avDownloadUrls"] = LocationsObject(store.ReadLocations(kStoreIdAvLocations));
      break;
    }
    case 102:  // agent status (digested: no times)
      value["agentVersion"] = AgentVersionText();
      value["upgradeType"] = ReadOr(GetClientUpgradeType, 0);
      value["avUpgradeStatus"] = ReadOr(GetAVUpgradeStatus, 0);
      value["connectionStatus"] = ReadOr(GetClientConnectionStatus, 0);
      value["hostName"] = HostName();
      value["os"] = OsObject();
      break;
    case 131:
      return P2PPayload();
    case 114:
    case 119:  // installation status (119: after a failed unified-agent build command)
      value["productInstalled"] = product.IsInstalled();
      value["productVersion"] = ProductVersion(product);
      value["upgradeType"] = ReadOr(GetClientUpgradeType, 0);
      value["avUpgradeStatus"] = ReadOr(GetAVUpgradeStatus, 0);
      break;
    case 104: {  // endpoints seen on the local network
      value["subnet"] = PrimaryIpv4().subnet;
      value["endpoints"] = Json::Value(Json::arrayValue);
      for (const Neighbour& n : ReadNeighbours()) {
        Json::Value endpoint(Json::objectValue);
        endpoint["ip"] = n.address;
        endpoint["mac"] = n.mac;
        value["endpoints"].append(std::move(endpoint));
      }
      break;
    }
    case 106:
      return ReportChunkPayload(request_payload);
    case 103:
      return ReportSummaryPayload();
    case 127:
      return TellProduct(id, 1, 2, request_payload);
    case 130: {  // download information
      ClientStore store;
      value = Timestamped();
      value["productInstalled"] = product.IsInstalled();
      value["avDownloadUrls"] = LocationsObject(store.ReadLocations(kStoreIdAvLocations));
      break;
    }
    case 134: {  // asks the server where to download the product from
      const OsFacts os = ReadOsFacts();
      value = Timestamped();
      value["os"] = os.name;
      value["machine"] = os.machine;
      value["agentVersion"] = AgentVersionText();
      break;
    }
    case 137:  // disconnect notification
    case 138:  // uninstall notification
      value = Timestamped();
      break;
    case 139:  // install notification
      value = Timestamped();
      value["productVersion"] = ProductVersion(product);
      break;
    default:
      RESPLOG(AG_LOG_PASSED_OVER, "No payload defined for client id %u.", id);
      return {};
  }
  return CompactJson(value);
}

std::string PayloadBuilder::BuildProductRead(uint32_t id) {
  const ProtectionProduct product = ProtectionProduct::Locate();
  Json::Value value(Json::objectValue);
  switch (id) {
    case 9: {  // product status (digested)
      value["installed"] = product.IsInstalled();
      if (product.IsInstalled()) {
        const Json::Value status = product.ReadObject(kProductStatusFile);
        value["status"] = status.isObject() ? status : Json::Value(Json::objectValue);
      }
      break;
    }
    case 10: {  // a snapshot of the product's report database, for the agent to copy
      int64_t last_id = 0;
      if (!product.ExportReportDb(&last_id)) {
        RESPLOG(AG_LOG_PASSED_OVER, "No product report database.");
        return {};
      }
      exported_up_to_ = last_id;
      value["Path"] = product.PathOf(kProductReportExportFile);
      break;
    }
    case 13:
    case 14: {  // policy details (13) and policy state per feature (14)
      if (!product.IsInstalled()) return {};
      const Json::Value policy = product.ReadObject(kProductPolicyFile);
      const Json::Value features =
          policy.isObject() && policy["features"].isObject() ? policy["features"] : Json::Value(Json::objectValue);
      if (id == 14) return CompactJson(features);
      value["version"] = policy.isObject() && policy["version"].isString() ? policy["version"].asString() : "";
      value["features"] = Json::Value(Json::arrayValue);
      for (const std::string& name : features.getMemberNames()) value["features"].append(name);
      break;
    }
    case 19:  // unified-agent status: this suite has no unified agent yet
      value["installed"] = false;
      break;
    default:
      RESPLOG(AG_LOG_PASSED_OVER, "No product read defined for id %u.", id);
      return {};
  }
  return CompactJson(value);
}

std::string PayloadBuilder::TellProduct(uint32_t id, uint32_t category, uint32_t action,
                                        const char* request_payload) {
  const ProtectionProduct product = ProtectionProduct::Locate();
  bool delivered = false;
  if (product.IsInstalled()) {
    // A reset after a snapshot removes what the snapshot holds, so reports
    // the product wrote meanwhile wait for the next upload.
    if (id == 11 && category == 2 && !product.ResetReportDb(std::exchange(exported_up_to_, std::nullopt))) {
      RESPLOG(AG_LOG_FAILURE, "Report database reset failed");
    }
    if (id == 26 && category == 2) ResetPolicyFeatures(product, request_payload);
    Json::Value entry(Json::objectValue);
    entry["id"] = id;
    entry["category"] = category;
    entry["action"] = action;
    entry["payload"] = ParsedOrText(request_payload);
    delivered = product.Tell(std::move(entry));
  } else {
    RESPLOG(AG_LOG_PASSED_OVER, "Protection product not installed; action %u not delivered.", id);
  }
  Json::Value reply(Json::objectValue);
  reply["action"] = id;
  reply["delivered"] = delivered;
  reply["guid"] = ClientGuid();
  return CompactJson(reply);
}

std::string PayloadBuilder::ReportChunkPayload(const char* request_payload) {
  Json::Value info;
  if (request_payload == nullptr || !ParseJson(request_payload, &info) || !info.isObject() ||
      !info["DBPath"].isString() || info["DBPath"].asString().empty()) {
    RESPLOG(AG_LOG_FAILURE, "Report request without a database path.");
    return {};
  }
  const uint32_t count = info["RecordCount"].isUInt() ? info["RecordCount"].asUInt() : 0;
  ReportChunk chunk = reports_.Next(info["DBPath"].asString(), count);
  if (chunk.records.empty()) {
    RESPLOG(AG_LOG_PROGRESS, "No more report records in %s.", info["DBPath"].asString().c_str());
    return {};
  }
  Json::Value value(Json::objectValue);
  value["first"] = static_cast<Json::Int64>(chunk.first_id);
  value["records"] = chunk.records;
  last_chunk_ = std::move(chunk);
  return CompactJson(value);
}

std::string PayloadBuilder::ReportSummaryPayload() {
  if (!last_chunk_) return {};
  Json::Value value = Timestamped();
  value["first"] = static_cast<Json::Int64>(last_chunk_->first_id);
  value["count"] = last_chunk_->records.size();
  return CompactJson(value);
}

}  // namespace agresp
