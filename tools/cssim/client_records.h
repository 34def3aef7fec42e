// What the simulator keeps per client beyond its command queues: the report
// records it received (counted per client and per kind) and the policy the
// server assigns to it, which the admin API can change and a policy request
// of the client is answered with.
//
// Thread-safe: every member function takes the one lock.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace cssim {

class ClientRecords {
 public:
  // Counts the report records of one client-report message ([{"dataId":106,
  // "payload":{"records":[...]}}, {"dataId":103, ...}]). Returns how many
  // records it held and sets *total to the client's total so far.
  uint64_t AddReportChunk(const std::string& client, const Json::Value& message, uint64_t* total);
  // {"<client>": {"records": n, "chunks": m, "kinds": {"<kind>": n}}}
  [[nodiscard]] Json::Value Reports() const;

  // Assigns {"version": text, "features": {"<id>": text}} to `client`; "*"
  // assigns it to every client, replacing what single clients were given.
  void SetPolicy(const std::string& client, const Json::Value& policy);
  [[nodiscard]] std::optional<Json::Value> Policy(const std::string& client) const;
  // {"<client>": policy, "*": default policy}
  [[nodiscard]] Json::Value Policies() const;

 private:
  struct ReportCount {
    uint64_t records = 0;
    uint64_t chunks = 0;
    std::map<std::string, uint64_t> kinds;
  };

  mutable std::mutex mutex_;
  std::map<std::string, ReportCount> reports_;  // guarded by mutex_
  std::map<std::string, Json::Value> policies_;  // guarded by mutex_
  std::optional<Json::Value> default_policy_;    // guarded by mutex_
};

// A policy object as the admin API accepts it; false with a reason otherwise.
[[nodiscard]] bool IsPolicyObject(const Json::Value& policy, std::string* reason);

}  // namespace cssim
