// Turning request-details lists into protocol JSON through the response
// generator and the message generator.
#pragma once

#include <agsuite/agmsg.h>

#include <string>

class CRequestGen;

// Error codes of GetResponseJson and the two general builders.
inline constexpr uint32_t kRespJsonErrRequest = 1;
inline constexpr uint32_t kRespJsonErrCreateResponse = 2;
inline constexpr uint32_t kRespJsonErrMsgGenObj = 3;
inline constexpr uint32_t kRespJsonErrMsg = 4;

bool GetResponseJson(ICAResponseGen* respGen, CRequestGen* request, std::string* json, uint32_t* error,
                     bool makeMessage);
bool GenerateJsonForReq(uint32_t id, uint32_t category, uint32_t action, ICAResponseGen* respGen,
                        std::string* json, uint32_t* error);
bool GenerateJsonForSetReq(uint32_t id, uint32_t category, uint32_t action, ICAResponseGen* respGen,
                           std::string payload, std::string* json, uint32_t* error);
bool GenerateClientReportJson(ICAResponseGen* respGen, const std::string& reportDbPath, std::string* json);
bool GetAVDBPath(ICAResponseGen* respGen, std::string* json);
bool GenerateEnumerateEndpointsJson(ICAResponseGen* respGen, std::string* json);
bool GenerateUAStatus(ICAResponseGen* respGen, std::string* json);
