// Everything the simulator remembers between requests: enrolled clients with
// their command queues, pending faults, the registration policy and a slow
// period. Thread-safe: every member function takes the one lock; the wait of a
// slow period happens outside it and ends early on Shutdown.
#pragma once

#include <json/value.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace cssim {

// Which response carries a queued command to its client.
enum class Delivery { kHeartbeat, kPolicy, kRelayConfig };
[[nodiscard]] std::optional<Delivery> DeliveryFromName(const std::string& name);
[[nodiscard]] const char* DeliveryName(Delivery delivery);

// The agent takes at most this many commands from one answer and refuses
// the rest (docs/protocol.md, "Command bound"); the simulator hands out no
// more, so that what it journals as sent is what the agent can carry out.
inline constexpr size_t kMaxCommandsPerAnswer = 100;

struct QueuedCommand {
  std::string guid;
  uint32_t leading = 0;
  Json::Value command;  // {"cmd": {...}}
};

struct Fault {
  uint32_t remaining = 1;
  std::string chaos;  // the kind of a random fault; empty for one asked for
  std::string operation;  // empty: any operation
  std::string client;     // empty: any client
  std::vector<uint32_t> error_codes;
  bool success = false;
  int http_status = 0;              // 0: 200 with a JSON answer
  std::optional<std::string> body;  // raw body instead of the JSON answer
};

class SimState {
 public:
  using Clock = std::chrono::steady_clock;

  // `seed` drives the random faults; with `redeliver`, a heartbeat command
  // goes out with every heartbeat answer until an acknowledgement of it is
  // answered (see Acknowledged).
  SimState(bool refuse_registration, uint32_t default_leading, uint64_t seed, bool redeliver);

  // Records that `guid` was heard from; false when the client never enrolled.
  bool Touch(const std::string& guid, const std::string& tenant_id, const std::string& operation,
             const std::string& via);
  // Enrols `guid`; true when it was not enrolled before.
  bool Enrol(const std::string& guid);
  void SetRelayRegistered(const std::string& guid, bool registered);
  [[nodiscard]] bool refusing_registration() const;
  void SetRefuseRegistration(bool refuse);

  // Queues `command` for `client` ("*": every client heard from). Returns
  // (client, command GUID) for each queued copy.
  std::vector<std::pair<std::string, std::string>> Queue(const std::string& client, const Json::Value& command,
                                                         std::optional<std::string> guid,
                                                         std::optional<uint32_t> leading, Delivery delivery);
  // The oldest `max_count` commands queued for `delivery`; the rest stay
  // queued for the next answer.
  [[nodiscard]] std::vector<QueuedCommand> Take(const std::string& client, Delivery delivery,
                                                size_t max_count = kMaxCommandsPerAnswer);
  [[nodiscard]] Json::Value Pending(const std::string& client) const;
  [[nodiscard]] Json::Value Clients() const;
  [[nodiscard]] size_t client_count() const;
  // Requests held by a slow period at this moment.
  [[nodiscard]] size_t held_count() const;

  void AddFault(Fault fault);
  void ClearFaults();
  // The first pending fault that matches, counted down by one.
  [[nodiscard]] std::optional<Fault> TakeFault(const std::string& operation, const std::string& client);

  // From now on `percent` of the answers to `operation` fail at random, each
  // with one of a mix of answers (HTTP errors, malformed bodies, a refusal);
  // 0 ends it.
  void SetChaos(const std::string& operation, uint32_t percent);
  // A random fault for this answer, or none.
  [[nodiscard]] std::optional<Fault> TakeChaosFault(const std::string& operation);
  // The client has its answer to the acknowledgement of `command_guid`: with
  // redelivery, the command stops going out again.
  void Acknowledged(const std::string& client, const std::string& command_guid);

  void SetSlow(std::chrono::milliseconds period, std::chrono::milliseconds delay);
  void ClearSlow();
  // Holds the caller for the slow delay while a slow period lasts; returns at
  // once after Shutdown.
  void WaitIfSlow();

  [[nodiscard]] std::string NewGuid();
  void Shutdown();

 private:
  struct Client {
    std::string tenant_id;
    bool enrolled = false;
    bool relay_registered = false;
    int64_t last_seen_ms = 0;
    std::string last_operation;
    std::string via;
    std::map<Delivery, std::deque<QueuedCommand>> queues;
  };

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, Client> clients_;  // guarded by mutex_
  std::deque<Fault> faults_;               // guarded by mutex_
  bool refuse_registration_;               // guarded by mutex_
  const uint32_t default_leading_;
  Clock::time_point slow_until_{};         // guarded by mutex_
  std::chrono::milliseconds slow_delay_{0};  // guarded by mutex_
  size_t held_ = 0;                        // guarded by mutex_
  bool stopping_ = false;                  // guarded by mutex_
  std::mt19937_64 random_;                 // guarded by mutex_: GUIDs
  std::mt19937_64 chaos_random_;           // guarded by mutex_: random faults, replayable by seed
  std::string chaos_operation_;            // guarded by mutex_
  uint32_t chaos_percent_ = 0;             // guarded by mutex_
  const bool redeliver_;
};

}  // namespace cssim
