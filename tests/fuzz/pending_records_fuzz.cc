// libFuzzer target for the pending records of lists 14 (command
// acknowledgements) and 15 (client notifications) as the client data store
// hands them back. The first byte picks the list, the rest is the stored
// record. The record goes the way the heartbeat's follow-up work and a task
// performer take it: a copy that keeps the stored size, then the reader.
// A record is either refused or read within its size, and a record that is
// read and stored again (as a performer does after a failed send) reads back
// the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/casupp/pending_record_copy.h"
#include "core/casupp/pending_records.h"

namespace {

void CheckAck(const PendingRecordBytes& record) {
  const std::optional<PendingCommandAck> ack = ParsePendingCommandAck(record.data, record.size);
  if (!ack) return;
  if (ack->guid.size() > 99) std::abort();
  CmdAck again{};
  again.dwCmdId = ack->cmdId;
  ack->guid.copy(again.szCmdGuid, sizeof(again.szCmdGuid) - 1);
  again.dwStatus = ack->status;
  again.byRetry = ack->byteA;
  again.byLeading = ack->byteB;
  std::string payload = ack->payload.value_or(std::string());
  again.pszAckPayload = ack->payload ? payload.data() : nullptr;
  const std::vector<uint8_t> stored = SerialisePendingCommandAck(again);
  const std::optional<PendingCommandAck> reread = ParsePendingCommandAck(stored.data(), stored.size());
  if (!reread || reread->cmdId != ack->cmdId || reread->guid != ack->guid || reread->status != ack->status ||
      reread->byteA != ack->byteA || reread->byteB != ack->byteB || reread->payload != ack->payload) {
    std::abort();
  }
}

void CheckNotification(const PendingRecordBytes& record) {
  const std::optional<PendingNotification> notification = ParsePendingNotification(record.data, record.size);
  if (!notification) return;
  if (notification->json.size() + 9 != record.size) std::abort();
  const std::vector<uint8_t> stored = SerialisePendingNotification(*notification);
  const std::optional<PendingNotification> reread = ParsePendingNotification(stored.data(), stored.size());
  if (!reread || reread->kind != notification->kind || reread->dataId != notification->dataId ||
      reread->json != notification->json) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool ackList = (data[0] & 1) == 0;
  void* copy = CopyPendingRecord(data + 1, static_cast<uint32_t>(size - 1));
  if (copy == nullptr) return 0;
  const PendingRecordBytes record = PendingRecordOf(copy);
  if (record.size != size - 1) std::abort();
  if (ackList) {
    CheckAck(record);
  } else {
    CheckNotification(record);
  }
  std::free(copy);
  return 0;
}
