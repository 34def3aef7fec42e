// Storing serialised pending records in the client data store.
#include "core/casupp/pending_records.h"

#include "core/siblings/client_store.h"

bool StorePendingNotification(uint32_t kind, uint32_t dataId, const std::string& json) {
  const std::vector<uint8_t> block = SerialisePendingNotification({kind, dataId, json});
  return SetClientPendingCommands(CL_PENDING_LIST_CLIENT_NOTIFICATION, static_cast<uint32_t>(block.size()),
                                  block.data());
}

bool StorePendingCommandAck(const CmdAck& ack) {
  const std::vector<uint8_t> block = SerialisePendingCommandAck(ack);
  return SetClientPendingCommands(CL_PENDING_LIST_COMMAND_ACK, static_cast<uint32_t>(block.size()), block.data());
}
