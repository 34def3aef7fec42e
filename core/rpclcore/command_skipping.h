// Thinning out the commands of one server response before processing.
#pragma once

#include <agsuite/agmsg.h>

#include <vector>

void RPMarkCommandsToSkip(const ServerCommandEntry* commands, uint32_t count, IRPClient* rpClient,
                          std::vector<bool>* skip);
bool SendSkipCommandAck(const CmdAck& ack, IRPClient* rpClient);
