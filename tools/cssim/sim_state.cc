#include "tools/cssim/sim_state.h"

#include <algorithm>
#include <cstdio>

namespace cssim {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

std::optional<Delivery> DeliveryFromName(const std::string& name) {
  if (name.empty() || name == "heartbeat") return Delivery::kHeartbeat;
  if (name == "policy") return Delivery::kPolicy;
  if (name == "rpconfig") return Delivery::kRelayConfig;
  return std::nullopt;
}

const char* DeliveryName(Delivery delivery) {
  switch (delivery) {
    case Delivery::kHeartbeat: return "heartbeat";
    case Delivery::kPolicy: return "policy";
    case Delivery::kRelayConfig: return "rpconfig";
  }
  return "heartbeat";
}

SimState::SimState(bool refuse_registration, uint32_t default_leading, uint64_t seed, bool redeliver)
    : refuse_registration_(refuse_registration),
      default_leading_(default_leading),
      random_(std::random_device{}()),
      chaos_random_(seed),
      redeliver_(redeliver) {}

bool SimState::Touch(const std::string& guid, const std::string& tenant_id, const std::string& operation,
                     const std::string& via) {
  std::lock_guard lock(mutex_);
  Client& client = clients_[guid];
  if (!tenant_id.empty()) client.tenant_id = tenant_id;
  client.last_seen_ms = NowMs();
  client.last_operation = operation;
  client.via = via;
  return client.enrolled;
}

bool SimState::Enrol(const std::string& guid) {
  std::lock_guard lock(mutex_);
  Client& client = clients_[guid];
  const bool first = !client.enrolled;
  client.enrolled = true;
  client.relay_registered = true;
  return first;
}

void SimState::SetRelayRegistered(const std::string& guid, bool registered) {
  std::lock_guard lock(mutex_);
  clients_[guid].relay_registered = registered;
}

bool SimState::refusing_registration() const {
  std::lock_guard lock(mutex_);
  return refuse_registration_;
}

void SimState::SetRefuseRegistration(bool refuse) {
  std::lock_guard lock(mutex_);
  refuse_registration_ = refuse;
}

std::vector<std::pair<std::string, std::string>> SimState::Queue(const std::string& client,
                                                                 const Json::Value& command,
                                                                 std::optional<std::string> guid,
                                                                 std::optional<uint32_t> leading,
                                                                 Delivery delivery) {
  std::vector<std::string> targets;
  {
    std::lock_guard lock(mutex_);
    if (client == "*") {
      for (const auto& [name, state] : clients_) targets.push_back(name);
    } else {
      targets.push_back(client);
    }
  }
  std::vector<std::pair<std::string, std::string>> queued;
  for (const std::string& target : targets) {
    // A given GUID is used for one client only; copies for further clients
    // get server-made GUIDs, as a real server would.
    std::string command_guid = guid && queued.empty() ? *guid : NewGuid();
    std::lock_guard lock(mutex_);
    clients_[target].queues[delivery].push_back(
        QueuedCommand{command_guid, leading.value_or(default_leading_), command});
    queued.emplace_back(target, command_guid);
  }
  return queued;
}

std::vector<QueuedCommand> SimState::Take(const std::string& client, Delivery delivery, size_t max_count) {
  std::lock_guard lock(mutex_);
  const auto found = clients_.find(client);
  if (found == clients_.end()) return {};
  std::deque<QueuedCommand>& queue = found->second.queues[delivery];
  const auto end = queue.begin() + static_cast<std::ptrdiff_t>(std::min(max_count, queue.size()));
  std::vector<QueuedCommand> taken(queue.begin(), end);
  if (!redeliver_ || delivery != Delivery::kHeartbeat) queue.erase(queue.begin(), end);
  return taken;
}

Json::Value SimState::Pending(const std::string& client) const {
  Json::Value pending(Json::arrayValue);
  std::lock_guard lock(mutex_);
  const auto found = clients_.find(client);
  if (found == clients_.end()) return pending;
  for (const auto& [delivery, queue] : found->second.queues) {
    for (const QueuedCommand& command : queue) {
      Json::Value item;
      item["guid"] = command.guid;
      item["leading"] = command.leading;
      item["on"] = DeliveryName(delivery);
      item["command"] = command.command;
      pending.append(item);
    }
  }
  return pending;
}

Json::Value SimState::Clients() const {
  Json::Value list(Json::arrayValue);
  std::lock_guard lock(mutex_);
  for (const auto& [guid, client] : clients_) {
    Json::Value item;
    item["guid"] = guid;
    item["tenantId"] = client.tenant_id;
    item["enrolled"] = client.enrolled;
    item["relayRegistered"] = client.relay_registered;
    item["lastSeenMs"] = static_cast<Json::Int64>(client.last_seen_ms);
    item["lastOperation"] = client.last_operation;
    item["via"] = client.via;
    Json::UInt queued = 0;
    for (const auto& [delivery, queue] : client.queues) queued += static_cast<Json::UInt>(queue.size());
    item["queued"] = queued;
    list.append(item);
  }
  return list;
}

size_t SimState::client_count() const {
  std::lock_guard lock(mutex_);
  return clients_.size();
}

void SimState::AddFault(Fault fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back(std::move(fault));
}

void SimState::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

std::optional<Fault> SimState::TakeFault(const std::string& operation, const std::string& client) {
  std::lock_guard lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (!it->operation.empty() && it->operation != operation) continue;
    if (!it->client.empty() && it->client != client) continue;
    Fault taken = *it;
    if (--it->remaining == 0) faults_.erase(it);
    return taken;
  }
  return std::nullopt;
}

void SimState::SetChaos(const std::string& operation, uint32_t percent) {
  std::lock_guard lock(mutex_);
  chaos_operation_ = operation;
  chaos_percent_ = percent;
}

std::optional<Fault> SimState::TakeChaosFault(const std::string& operation) {
  struct Kind {
    const char* name;
    int http_status;
    const char* body;  // null: a refusal, {"success": false}
  };
  // What a troubled server or the network between answers: the agent stores
  // the acknowledgement and sends it again, except after the refusal, which
  // is the server's final word.
  static constexpr Kind kKinds[] = {
      {"http500", 500, R"({"error":"internal"})"},
      {"http503", 503, ""},
      {"truncated", 200, R"({"success":tr)"},
      {"no-success", 200, R"({"errorCodes":[]})"},
      {"not-json", 200, "<html>busy</html>"},
      {"refused", 200, nullptr},
  };
  std::lock_guard lock(mutex_);
  if (chaos_percent_ == 0 || operation != chaos_operation_) return std::nullopt;
  if (chaos_random_() % 100 >= chaos_percent_) return std::nullopt;
  const Kind& kind = kKinds[chaos_random_() % std::size(kKinds)];
  Fault fault;
  fault.chaos = kind.name;
  fault.http_status = kind.http_status;
  if (kind.body != nullptr) fault.body = kind.body;
  return fault;
}

void SimState::Acknowledged(const std::string& client, const std::string& command_guid) {
  if (!redeliver_) return;
  std::lock_guard lock(mutex_);
  const auto found = clients_.find(client);
  if (found == clients_.end()) return;
  std::deque<QueuedCommand>& queue = found->second.queues[Delivery::kHeartbeat];
  std::erase_if(queue, [&](const QueuedCommand& command) { return command.guid == command_guid; });
}

void SimState::SetSlow(std::chrono::milliseconds period, std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  slow_until_ = Clock::now() + period;
  slow_delay_ = delay;
}

void SimState::ClearSlow() {
  {
    std::lock_guard lock(mutex_);
    slow_until_ = Clock::time_point{};
  }
  wake_.notify_all();
}

void SimState::WaitIfSlow() {
  std::unique_lock lock(mutex_);
  const Clock::time_point now = Clock::now();
  if (stopping_ || now >= slow_until_) return;
  const Clock::time_point until = now + slow_delay_;
  ++held_;
  wake_.wait_until(lock, until, [&] { return stopping_ || Clock::now() >= slow_until_; });
  --held_;
}

size_t SimState::held_count() const {
  std::lock_guard lock(mutex_);
  return held_;
}

std::string SimState::NewGuid() {
  uint64_t high = 0;
  uint64_t low = 0;
  {
    std::lock_guard lock(mutex_);
    high = random_();
    low = random_();
  }
  char text[37];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xffff), static_cast<unsigned>(high & 0xffff),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xffffffffffffULL));
  return text;
}

void SimState::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
}

}  // namespace cssim
