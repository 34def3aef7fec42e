// Receipt and processing of one server command: parsing, the repeat and
// registration checks, carrying it out through the response generator, and
// the per-command retry counts kept for the acknowledgement.
//
// Callable from the heartbeat thread and the task performers at once: each
// call makes its own parser, and its own response generator unless the caller
// passes one it uses alone.
#pragma once

#include <agsuite/agmsg.h>

#include <cstdint>
#include <string>

inline constexpr uint32_t kCmdProcessed = 0;
inline constexpr uint32_t kCmdOpenFailed = 1;
inline constexpr uint32_t kCmdFailed = 2;
inline constexpr uint32_t kCmdUnprocessed = 4;

// Command ids with rules of their own in processing, skipping and dispatch.
inline constexpr uint32_t CSP_CMD_ID_SP_UPGRADE_CMD = 116;
inline constexpr uint32_t CSP_CMD_ID_UP_UPDATE_CMD = 117;
inline constexpr uint32_t CSP_CMD_ID_UPGRADE_CMD = 120;
inline constexpr uint32_t CSP_CMD_ID_MIGRATION_CMD = 143;
inline constexpr uint32_t kCmdWithoutRetryModulo = 25;

bool RpReceiveAndProcessCommand(const char* commandJson, IRPClient* rpClient, uint32_t* commandId,
                                uint32_t* status, ICAResponseGen* respGen, std::string commandGuid,
                                char** ackPayload);
// Stored retry count of the command; 0 for commands without one.
uint8_t GetRetryCount(uint32_t commandId);
// Keeps the retry count after an acknowledgement with `status`; gives back
// the byte the CmdAck carries.
bool HandleRetry(uint32_t commandId, uint32_t status, uint8_t* retryByte);
