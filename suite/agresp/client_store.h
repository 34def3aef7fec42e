// Scoped access to the agent's client data store (libagmisc) for the entries
// the response generator keeps: status digests, relay intervals, heartbeat
// interval, download locations, P2P values, the pull-log sub-URL.
//
// Opens the store on construction and closes it on destruction; every entry is
// written with the store's blob type. Not shared between threads.
#pragma once

#include <agsuite/agmisc.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace agresp {

// Store ids written or read here (the numbers the core uses for the same entries).
inline constexpr uint32_t kStoreIdHeartbeatInterval = 28;
inline constexpr uint32_t kStoreIdAvLocations = 40;
inline constexpr uint32_t kStoreIdRelayIntervals = 57;
inline constexpr uint32_t kStoreIdP2PServerIpUrl = 58;
inline constexpr uint32_t kStoreIdP2PServerHostUrl = 59;
inline constexpr uint32_t kStoreIdP2PSubnet = 60;
inline constexpr uint32_t kStoreIdP2PResend = 61;
inline constexpr uint32_t kStoreIdP2POsVersion = 62;
inline constexpr uint32_t kStoreIdUaLocations = 69;
inline constexpr uint32_t kStoreIdPullLogSubUrl = 75;

// The download-location record: eight NUL-terminated slots of 1024 bytes.
inline constexpr uint32_t kLocationRecordSize = 8192;
inline constexpr uint32_t kLocationSlotSize = 1024;
// Texts kept in the store are bounded like the core's 260-byte buffers.
inline constexpr uint32_t kStoreTextMax = 260;

class ClientStore {
 public:
  ClientStore();
  ~ClientStore();
  ClientStore(const ClientStore&) = delete;
  ClientStore& operator=(const ClientStore&) = delete;

  [[nodiscard]] bool IsOpen() const { return db_ != nullptr; }
  [[nodiscard]] bool Read(uint32_t id, uint32_t size, void* buffer);
  [[nodiscard]] bool Write(uint32_t id, uint32_t size, const void* buffer);
  // A text entry (stored with its terminator); nullopt when absent.
  [[nodiscard]] std::optional<std::string> ReadText(uint32_t id);
  // Cut to kStoreTextMax - 1 bytes.
  [[nodiscard]] bool WriteText(uint32_t id, const std::string& text);
  // The location record, zero-filled when absent.
  [[nodiscard]] std::vector<char> ReadLocations(uint32_t id);

 private:
  CLDBHANDLE db_ = nullptr;
};

// Text of one slot of a location record.
[[nodiscard]] std::string LocationSlot(const std::vector<char>& record, uint32_t offset);
void SetLocationSlot(std::vector<char>& record, uint32_t offset, const std::string& text);

}  // namespace agresp
