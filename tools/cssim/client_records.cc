#include "tools/cssim/client_records.h"

namespace cssim {
namespace {

constexpr uint32_t kReportChunkDataId = 106;

}  // namespace

uint64_t ClientRecords::AddReportChunk(const std::string& client, const Json::Value& message, uint64_t* total) {
  uint64_t records = 0;
  std::map<std::string, uint64_t> kinds;
  if (message.isArray()) {
    for (const Json::Value& entry : message) {
      if (!entry.isObject() || !entry["dataId"].isUInt() || entry["dataId"].asUInt() != kReportChunkDataId) continue;
      const Json::Value& list = entry["payload"]["records"];
      if (!list.isArray()) continue;
      for (const Json::Value& record : list) {
        ++records;
        ++kinds[record.isObject() && record["kind"].isString() ? record["kind"].asString() : ""];
      }
    }
  }
  std::lock_guard lock(mutex_);
  ReportCount& counted = reports_[client];
  counted.records += records;
  counted.chunks += 1;
  for (const auto& [kind, count] : kinds) counted.kinds[kind] += count;
  if (total != nullptr) *total = counted.records;
  return records;
}

Json::Value ClientRecords::Reports() const {
  Json::Value all(Json::objectValue);
  std::lock_guard lock(mutex_);
  for (const auto& [client, counted] : reports_) {
    Json::Value& item = all[client];
    item["records"] = static_cast<Json::UInt64>(counted.records);
    item["chunks"] = static_cast<Json::UInt64>(counted.chunks);
    item["kinds"] = Json::Value(Json::objectValue);
    for (const auto& [kind, count] : counted.kinds) item["kinds"][kind] = static_cast<Json::UInt64>(count);
  }
  return all;
}

void ClientRecords::SetPolicy(const std::string& client, const Json::Value& policy) {
  std::lock_guard lock(mutex_);
  if (client != "*") {
    policies_[client] = policy;
    return;
  }
  default_policy_ = policy;
  policies_.clear();
}

std::optional<Json::Value> ClientRecords::Policy(const std::string& client) const {
  std::lock_guard lock(mutex_);
  const auto found = policies_.find(client);
  if (found != policies_.end()) return found->second;
  return default_policy_;
}

Json::Value ClientRecords::Policies() const {
  Json::Value all(Json::objectValue);
  std::lock_guard lock(mutex_);
  for (const auto& [client, policy] : policies_) all[client] = policy;
  if (default_policy_) all["*"] = *default_policy_;
  return all;
}

bool IsPolicyObject(const Json::Value& policy, std::string* reason) {
  if (!policy.isObject() || !policy["version"].isString() || !policy["features"].isObject()) {
    *reason = "\"policy\" must be {\"version\": text, \"features\": {\"<id>\": text}}";
    return false;
  }
  for (const std::string& name : policy["features"].getMemberNames()) {
    if (!policy["features"][name].isString()) {
      *reason = "feature " + name + " must have a text value";
      return false;
    }
  }
  return true;
}

}  // namespace cssim
