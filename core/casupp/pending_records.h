// The two serialised pending forms kept in the client data store:
// notifications (list 15, 9 + n bytes) and command acknowledgements
// (list 14, 114 + L bytes), little-endian, no padding. Readers reject a
// block whose lengths do not add up.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct PendingNotification {
  uint32_t kind = 0;
  uint32_t dataId = 0;
  std::string json;
};

struct PendingCommandAck {
  uint32_t cmdId = 0;
  std::string guid;      // at most 99 characters
  uint32_t status = 0;
  uint8_t byteA = 0;
  uint8_t byteB = 0;
  std::optional<std::string> payload;
};

std::vector<uint8_t> SerialisePendingNotification(const PendingNotification& notification);
std::optional<PendingNotification> ParsePendingNotification(const uint8_t* data, size_t size);
std::vector<uint8_t> SerialisePendingCommandAck(const CmdAck& ack);
std::optional<PendingCommandAck> ParsePendingCommandAck(const uint8_t* data, size_t size);

// Serialises and stores with SetClientPendingCommands; true when stored.
bool StorePendingNotification(uint32_t kind, uint32_t dataId, const std::string& json);
bool StorePendingCommandAck(const CmdAck& ack);
