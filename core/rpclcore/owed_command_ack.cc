#include "core/rpclcore/owed_command_ack.h"

#include <utility>
#include <vector>

#include "core/casupp/pending_records.h"
#include "core/casupp/product_notifications.h"
#include "core/common/aglog.h"
#include "core/rpclcore/command_skipping.h"
#include "core/siblings/client_store.h"

namespace {

// The innermost OwedCommandAck of the calling thread (commands may be carried
// out on the heartbeat thread and the task performers at once).
thread_local OwedCommandAck* threadOwedAck = nullptr;

}  // namespace

OwedCommandAck::OwedCommandAck(uint8_t leading) : leading_(leading), outer_(threadOwedAck) { threadOwedAck = this; }

OwedCommandAck::~OwedCommandAck() {
  threadOwedAck = outer_;
  DropStandIn();
}

void OwedCommandAck::DropStandIn() {
  const uint64_t standIn = std::exchange(standIn_, 0);
  if (standIn != 0 && !CompleteClientPendingTask(standIn)) {
    AGLOG(AG_LOG_FAILURE, "Stand-in acknowledgement %llu not deleted; it is sent after a restart",
          static_cast<unsigned long long>(standIn));
  }
}

bool OwedCommandAck::KeepGuid(uint32_t storeId, uint32_t commandId, const std::string& guid) {
  if (threadOwedAck != nullptr) return threadOwedAck->KeepWithStandIn(storeId, commandId, guid);
  return SetClientBlobData(storeId, static_cast<uint32_t>(guid.size()), guid.data());
}

bool OwedCommandAck::KeepWithStandIn(uint32_t storeId, uint32_t commandId, const std::string& guid) {
  DropStandIn();
  CmdAck standIn{};
  standIn.dwCmdId = commandId;
  CopyCmdGuid(&standIn, guid.c_str());
  standIn.dwStatus = kCmdAckFailed;
  standIn.byLeading = leading_;
  const std::vector<uint8_t> record = SerialisePendingCommandAck(standIn);
  return SetClientBlobDataWithLeasedPending(storeId, static_cast<uint32_t>(guid.size()), guid.data(),
                                            CL_PENDING_LIST_COMMAND_ACK, static_cast<uint32_t>(record.size()),
                                            record.data(), &standIn_);
}

void OwedCommandAck::SendOrStore(const CmdAck& ack, IRPClient* rpClient, const char* routine) {
  const std::vector<uint8_t> record = SerialisePendingCommandAck(ack);
  if (standIn_ == 0 || !UpdateClientPendingTask(standIn_, static_cast<uint32_t>(record.size()), record.data())) {
    SendOrStoreCommandAck(ack, rpClient, routine);
    DropStandIn();
    return;
  }
  const uint64_t held = std::exchange(standIn_, 0);
  if (SendCommandAckOnce(ack, rpClient)) {
    if (!CompleteClientPendingTask(held)) {
      AGLOG_AS(routine, AG_LOG_FAILURE, "Sent acknowledgement %llu not deleted; it is sent again after a restart",
               static_cast<unsigned long long>(held));
    }
    CheckConnStateAndNotifyAV();
    return;
  }
  AGLOG_AS(routine, AG_LOG_FAILURE, "SendCommandAck failed");
  // Returned, the record is one more pending acknowledgement; kept leased,
  // it is sent once this process has ended.
  if (!ReturnClientPendingTask(held)) {
    AGLOG_AS(routine, AG_LOG_FAILURE, "Acknowledgement %llu stays held until a restart",
             static_cast<unsigned long long>(held));
  }
}
