// Thinning out the commands of one server response before the heartbeat
// cycle processes them: earlier instances of a repeated command, pairs of
// commands that cancel each other, and upgrade commands overtaken by others
// are marked skipped and acknowledged to the server as skipped at once.
//
// Called from the heartbeat thread. The pair table and the repeat-exempt ids
// are fixed for the life of the process, so they are constants here. The
// step is linear in the number of commands, checks the heartbeat's stop
// between commands (a stop marks the whole answer skipped and sends nothing
// more) and logs one summary line per answer, not one per skipped command.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <vector>

void RPMarkCommandsToSkip(const ServerCommandEntry* commands, uint32_t count, IRPClient* rpClient,
                          std::vector<bool>* skip);

enum class AckDelivery { kSent, kStored, kLost };
// Sends one CmdAck; true when the server answered it.
bool SendCommandAckOnce(const CmdAck& ack, IRPClient* rpClient);
// Sends one CmdAck; when it cannot be sent it is kept as a pending
// acknowledgement (list 14) for the task performers. Logs nothing and leaves
// telling the product of the connection state to the caller.
AckDelivery DeliverCommandAck(const CmdAck& ack, IRPClient* rpClient);
// DeliverCommandAck with a line for each failure, logged as `routine`, and
// the product told of the connection state after a sent acknowledgement.
void SendOrStoreCommandAck(const CmdAck& ack, IRPClient* rpClient, const char* routine);
// Fills the GUID field: truncated to 99 characters, always terminated.
void CopyCmdGuid(CmdAck* ack, const char* guid);
