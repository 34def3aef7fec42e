// Request-details list -> response (response generator) -> protocol JSON
// (message generator). The message generator lives only inside one
// GetResponseJson call; the response generator belongs to the caller.
#include "core/genreq/response_json.h"

#include "core/common/aglog.h"
#include "core/reqgen/request_gen.h"
#include "core/siblings/siblings.h"

bool GetResponseJson(ICAResponseGen* respGen, CRequestGen* request, std::string* json, uint32_t* error,
                     bool makeMessage) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (json != nullptr) json->clear();
  uint32_t ignored = 0;
  uint32_t* err = error != nullptr ? error : &ignored;

  const RequestList* list = nullptr;
  if (request == nullptr || json == nullptr || !request->GetRequest(&list)) {
    AGLOG(AG_LOG_FAILURE, "GetRequest failed");
    *err = kRespJsonErrRequest;
    return false;
  }

  CAResponse response{};
  if (respGen == nullptr || !respGen->CreateResponse(list, &response)) {
    AGLOG(AG_LOG_FAILURE, "CreateResponse failed");
    *err = kRespJsonErrCreateResponse;
    return false;
  }

  if (!makeMessage) {
    respGen->FreeResponse(&response);
    AGLOG(AG_LOG_PROGRESS, "End");
    return true;
  }

  AGLOG(AG_LOG_VERBOSE, "After CreateResponse");
  ICSPMsgGen* msgGen = nullptr;
  if (!Siblings().msggen->CreateICSPMsgGenObj(&msgGen) || msgGen == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CreateICSPMsgGenObj failed");
    respGen->FreeResponse(&response);
    *err = kRespJsonErrMsgGenObj;
    return false;
  }

  char* text = nullptr;
  const bool built = msgGen->CreateResponseMsg(&response, &text) != 0;
  if (!built || text == nullptr || text[0] == '\0') {
    AGLOG(AG_LOG_FAILURE, "CreateResponseMsg failed");
    if (text != nullptr) msgGen->FreeResponseMsg(text);
    Siblings().msggen->DeleteICSPMsgGenObj(msgGen);
    respGen->FreeResponse(&response);
    *err = kRespJsonErrMsg;
    return false;
  }

  json->assign(text);
  msgGen->FreeResponseMsg(text);
  Siblings().msggen->DeleteICSPMsgGenObj(msgGen);
  respGen->FreeResponse(&response);
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool GenerateJsonForReq(uint32_t id, uint32_t category, uint32_t action, ICAResponseGen* respGen,
                        std::string* json, uint32_t* error) {
  CRequestGen request;
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (json != nullptr) json->clear();
  if (!request.AddRequestDetails(id, category, action, nullptr)) {
    AGLOG(AG_LOG_FAILURE, "CreateRequest failed");
    if (error != nullptr) *error = kRespJsonErrRequest;
    return false;
  }
  // Action 3 registers with the product and has no response message to build.
  if (!GetResponseJson(respGen, &request, json, error, action != 3)) {
    AGLOG(AG_LOG_FAILURE, "GetResponseJson failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

bool GenerateJsonForSetReq(uint32_t id, uint32_t category, uint32_t action, ICAResponseGen* respGen,
                           std::string payload, std::string* json, uint32_t* error) {
  CRequestGen request;
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (json != nullptr) json->clear();
  if (!request.AddRequestDetails(id, category, action, payload.data())) {
    AGLOG(AG_LOG_FAILURE, "CreateRequest failed");
    if (error != nullptr) *error = kRespJsonErrRequest;
    return false;
  }
  if (!GetResponseJson(respGen, &request, json, error, true)) {
    AGLOG(AG_LOG_FAILURE, "GetResponseJson failed");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

namespace {

// One fixed-purpose request: the entries are added in order, then the JSON is
// built. Messages name the builder (`routine`), as its own log lines would.
struct FixedEntry {
  uint32_t id;
  uint32_t category;
  uint32_t action;
  char* payload;
};

bool BuildFixedRequest(const char* routine, ICAResponseGen* respGen, std::initializer_list<FixedEntry> entries,
                       const char* createFailedText, const char* jsonFailedFormat, bool logResponse,
                       std::string* json) {
  if (json != nullptr) json->clear();
  CRequestGen request;
  for (const FixedEntry& e : entries) {
    if (!request.AddRequestDetails(e.id, e.category, e.action, e.payload)) {
      AGLOG_AS(routine, AG_LOG_FAILURE, "%s", createFailedText);
      return false;
    }
  }
  uint32_t error = 0;
  if (!GetResponseJson(respGen, &request, json, &error, true)) {
    AGLOG_AS(routine, AG_LOG_FAILURE, jsonFailedFormat, static_cast<unsigned long>(error));
    return false;
  }
  if (logResponse) AGLOG_AS(routine, AG_LOG_VERBOSE, "Resp:(%s)", json->c_str());
  return true;
}

}  // namespace

bool GenerateClientReportJson(ICAResponseGen* respGen, const std::string& reportDbPath, std::string* json) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (reportDbPath.empty()) {
    AGLOG(AG_LOG_FAILURE, "strABDBPath found empty");
    if (json != nullptr) json->clear();
    return false;
  }
  std::string path = reportDbPath;
  const bool done = BuildFixedRequest(__func__, respGen, {{106, 1, 2, path.data()}, {103, 1, 1, nullptr}},
                                      "CreateReqGetClientReport failed", "GetResponseJson failed. Error(%lu)", true,
                                      json);
  AGLOG(AG_LOG_PROGRESS, "End");
  return done;
}

bool GetAVDBPath(ICAResponseGen* respGen, std::string* json) {
  return BuildFixedRequest(__func__, respGen, {{10, 2, 1, nullptr}}, "CreateReqGetClientReport failed",
                           "GetResponseJson failed. Error(%lu)", false, json);
}

bool GenerateEnumerateEndpointsJson(ICAResponseGen* respGen, std::string* json) {
  return BuildFixedRequest(__func__, respGen, {{104, 1, 1, nullptr}}, "CreateReqGetEnumeratedEndpoints failed",
                           "GetResponseJson failed.Error(%lu)", true, json);
}

bool GenerateUAStatus(ICAResponseGen* respGen, std::string* json) {
  return BuildFixedRequest(__func__, respGen, {{19, 2, 1, nullptr}}, "CreateReqGetUAStatus failed",
                           "GetResponseJson failed. Error(%lu)", true, json);
}
