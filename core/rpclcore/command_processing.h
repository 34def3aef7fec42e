// Receipt and processing of one server command.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>

inline constexpr uint32_t kCmdProcessed = 0;
inline constexpr uint32_t kCmdOpenFailed = 1;
inline constexpr uint32_t kCmdFailed = 2;
inline constexpr uint32_t kCmdUnprocessed = 4;

bool RpReceiveAndProcessCommand(const char* commandJson, IRPClient* rpClient, uint32_t* commandId,
                                uint32_t* status, ICAResponseGen* respGen, std::string commandGuid,
                                char** ackPayload);
uint8_t GetRetryCount(uint32_t commandId);
// Keeps the retry count after an acknowledgement; returns the byte for CmdAck.
bool HandleRetry(uint32_t commandId, uint32_t status, uint8_t* retryByte);
