// Pushing notifications, command data and status items to the server, the
// response check every sender runs, and the two readers of protocol JSON.
#pragma once

#include <agsuite/agmsg.h>
#include <json/json.h>

#include <string>

inline constexpr uint32_t kServerErrorClientUnknown = 20016;
inline constexpr uint32_t kServerErrorClientUnknown2 = 20039;

bool HandleErrorCodes(const ServerResponse* response);
// Runs HandleErrorCodes when a response came back with its success byte clear.
void CheckServerResponse(const ServerResponse* response);
bool SendNotificationToServer(uint32_t dataId, uint32_t category, uint32_t action, uint32_t notificationKind,
                              IRPClient* rpClient);
bool PushDataToCS(IRPClient* rpClient, const ResponseDetails* responseDetailsList);
bool GenerateAndSendStatusForReq(uint32_t dataId, uint32_t category, int32_t action, IRPClient* rpClient,
                                 ICAResponseGen* respGen, bool* updatedUrlSent);
bool ResetNewOldMd5ById(uint32_t slot);
bool RevertP2PDataAfterSendingFailed(const Json::Value& payload);
bool CheckAndSendUninstallNotification();
Json::Value GetResponsePayload(const std::string& text);
bool ParseSingleRespNode(const std::string& text, Json::Value* node);
// Re-arms the "skip the first data id 9" flag (set when the library loads).
void ResetFirstStatusSkipFlag();
