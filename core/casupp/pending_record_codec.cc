// The two serialised pending forms of pending_records.h. Blocks come back
// from the client data store and are untrusted: every reader checks that the
// stated lengths add up to the block's size before it copies anything.
// Free of logging and store calls, so that the status tool can decode what it
// reads from the store without the core.
#include "core/casupp/pending_records.h"

#include <cstring>

namespace {

constexpr size_t kNotificationHeader = 8;  // kind, data id
constexpr size_t kAckGuidWidth = 100;
constexpr size_t kAckHeader = 114;         // up to and including the payload length

void PutU32(std::vector<uint8_t>* out, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const uint8_t* data) {
  return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
         static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
}

}  // namespace

std::vector<uint8_t> SerialisePendingNotification(const PendingNotification& notification) {
  std::vector<uint8_t> block(kNotificationHeader + notification.json.size() + 1, 0);
  PutU32(&block, 0, notification.kind);
  PutU32(&block, 4, notification.dataId);
  std::memcpy(block.data() + kNotificationHeader, notification.json.data(), notification.json.size());
  return block;
}

std::optional<PendingNotification> ParsePendingNotification(const uint8_t* data, size_t size) {
  // The text must end exactly at the block's last byte, with its NUL there
  // and nowhere before it.
  if (data == nullptr || size < kNotificationHeader + 1 || data[size - 1] != '\0') return std::nullopt;
  const char* text = reinterpret_cast<const char*>(data + kNotificationHeader);
  const size_t textLength = size - kNotificationHeader - 1;
  if (std::memchr(text, '\0', textLength) != nullptr) return std::nullopt;
  PendingNotification out;
  out.kind = GetU32(data);
  out.dataId = GetU32(data + 4);
  out.json.assign(text, textLength);
  return out;
}

std::vector<uint8_t> SerialisePendingCommandAck(const CmdAck& ack) {
  const size_t payloadLength = ack.pszAckPayload != nullptr ? std::strlen(ack.pszAckPayload) + 1 : 0;
  std::vector<uint8_t> block(kAckHeader + payloadLength, 0);
  PutU32(&block, 0, ack.dwCmdId);
  const size_t guidLength = strnlen(ack.szCmdGuid, kAckGuidWidth - 1);
  std::memcpy(block.data() + 4, ack.szCmdGuid, guidLength);
  PutU32(&block, 104, ack.dwStatus);
  block[108] = ack.byRetry;
  block[109] = ack.byLeading;
  PutU32(&block, 110, static_cast<uint32_t>(payloadLength));
  if (payloadLength != 0) std::memcpy(block.data() + kAckHeader, ack.pszAckPayload, payloadLength);
  return block;
}

std::optional<PendingCommandAck> ParsePendingCommandAck(const uint8_t* data, size_t size) {
  if (data == nullptr || size < kAckHeader) return std::nullopt;
  const uint32_t payloadLength = GetU32(data + 110);
  if (size != kAckHeader + static_cast<size_t>(payloadLength)) return std::nullopt;
  PendingCommandAck out;
  out.cmdId = GetU32(data);
  const char* guid = reinterpret_cast<const char*>(data + 4);
  out.guid.assign(guid, strnlen(guid, kAckGuidWidth - 1));
  out.status = GetU32(data + 104);
  out.byteA = data[108];
  out.byteB = data[109];
  if (payloadLength != 0) {
    const char* payload = reinterpret_cast<const char*>(data + kAckHeader);
    if (payload[payloadLength - 1] != '\0') return std::nullopt;
    out.payload.emplace(payload, strnlen(payload, payloadLength - 1));
  }
  return out;
}
