// The acknowledgement a command owes the server from the moment its GUID is
// kept until the acknowledgement has been handed over.
//
// Once the GUID is kept, a later copy of the command is dropped as a repeat
// without an acknowledgement; until the acknowledgement is sent and answered
// or stored in list 14, it exists only in memory. A SIGKILL in between would
// lose the command for good. So, while an OwedCommandAck lives on a thread,
// the GUID is kept in one store commit together with a stand-in
// acknowledgement (status failed: the agent cannot tell how far the command
// got) in list 14, leased to this process: no one sends the stand-in while
// the process lives, and the first heartbeat of the next process sends it.
// The real acknowledgement replaces the stand-in before it is sent and the
// record is deleted once the server answered, so a kill during the send
// makes the real one go out once more, never the stand-in.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>

class OwedCommandAck {
 public:
  // Commands carried out on this thread while the object lives keep their
  // GUID with a stand-in; `leading` is the leading byte of their CmdAck.
  explicit OwedCommandAck(uint8_t leading);
  // A stand-in whose acknowledgement was never handed over (the caller sends
  // none for this command) is deleted.
  ~OwedCommandAck();
  OwedCommandAck(const OwedCommandAck&) = delete;
  OwedCommandAck& operator=(const OwedCommandAck&) = delete;

  // SendOrStoreCommandAck, with the stand-in replaced by `ack`.
  void SendOrStore(const CmdAck& ack, IRPClient* rpClient, const char* routine);

  // Keeps `guid` as the last GUID of `commandId` in store entry `storeId`:
  // with a stand-in when the calling thread has an OwedCommandAck, alone
  // otherwise. True when kept.
  static bool KeepGuid(uint32_t storeId, uint32_t commandId, const std::string& guid);

 private:
  bool KeepWithStandIn(uint32_t storeId, uint32_t commandId, const std::string& guid);
  void DropStandIn();

  uint8_t leading_;
  uint64_t standIn_ = 0;  // record id of the stand-in; 0: none held
  OwedCommandAck* outer_;
};
