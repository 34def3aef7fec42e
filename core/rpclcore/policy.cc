#include "core/rpclcore/policy.h"

#include <json/json.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/genreq/response_json.h"
#include "core/rpclcore/command_processing.h"
#include "core/rpclcore/command_skipping.h"
#include "core/rpclcore/heartbeat_thread.h"
#include "core/rpclcore/owed_command_ack.h"
#include "core/rpclcore/task_response_gen.h"

namespace {

constexpr uint32_t kPolicyStateId = 14;
constexpr uint32_t kPolicyDetailsId = 13;
constexpr uint32_t kPolicyResetId = 26;
constexpr uint32_t kPolicyRecordType = 10;
constexpr uint32_t kPolicyCommandId = 12;
// The policy state is the only thing this record carries; flag 1 marks it
// as complete, as the report chunks are marked.
constexpr uint8_t kPolicyRecordFlag = 1;

// Set at load; cleared by the first completed evaluation. The heartbeat
// thread reads and clears it; start-up re-arms it.
std::atomic<bool> firstPolicyCheck{true};

std::string CompactJson(const Json::Value& value) {
  Json::FastWriter writer;
  writer.omitEndingLineFeed();
  return writer.write(value);
}

int FeatureIdOf(const std::string& name) {
  const long value = std::strtol(name.c_str(), nullptr, 10);
  return static_cast<int>(value < INT_MIN ? INT_MIN : (value > INT_MAX ? INT_MAX : value));
}

// Evaluates the product's policy state: true when some feature counts as
// modified (or the state could not be read), with their ids in *featureIds.
bool IsPolicyModifiedAtClient(const std::string& json, std::string* featureIds) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  AGLOG(AG_LOG_VERBOSE, "json:(%s)", json.c_str());
  Json::Value node;
  if (!ParseSingleRespNode(json, &node)) {
    AGLOG(AG_LOG_FAILURE, "ParseSingleRespNode failed");
    return true;
  }
  featureIds->clear();
  bool modified = true;
  bool completed = false;
  try {
    const Json::Value& payload = node["payload"];
    if (!node["dataId"].isUInt() || node["dataId"].asUInt() != kPolicyStateId) {
      AGLOG(AG_LOG_FAILURE, "Invalid response data id");
    } else if (!payload.isObject()) {
      AGLOG(AG_LOG_FAILURE, "Invalid response payload");
    } else {
      modified = false;
      const bool firstCheck = firstPolicyCheck.load();
      Json::Value ids(Json::arrayValue);
      for (const std::string& name : payload.getMemberNames()) {
        const Json::Value& value = payload[name];
        if ((value.isString() && value.asString().empty()) || firstCheck) {
          AGLOG(AG_LOG_PROGRESS, "Policy modified for feature id:%s", name.c_str());
          ids.append(FeatureIdOf(name));
          modified = true;
        }
      }
      if (modified) {
        // The product applies the server's policy right after the agent
        // loads; the first answer waits for that. A stop ends the wait early.
        if (firstCheck) HeartbeatPause(kFirstPolicyCheckWaitMs);
        *featureIds = CompactJson(ids);
      }
      firstPolicyCheck = false;
      AGLOG(AG_LOG_PROGRESS, "End");
      completed = true;
    }
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Unknown exception");
  }
  if (!completed) {
    AGLOG(AG_LOG_FAILURE, "CheckIfPolicyModifedAtClient failed");
    return true;
  }
  if (!modified) AGLOG(AG_LOG_PROGRESS, "Policy not modified at client");
  return modified;
}

// The policy details that go with the acknowledgement of a policy command.
std::string PolicyDetailsForAck(ICAResponseGen* respGen) {
  try {
    std::string json;
    uint32_t error = 0;
    if (GenerateJsonForReq(kPolicyDetailsId, 2, 1, respGen, &json, &error)) {
      const Json::Value payload = GetResponsePayload(json);
      if (payload.isObject() && !payload.empty()) return CompactJson(payload);
    }
  } catch (...) {
    AGLOG_AS("FetchAndApplyPolicy", AG_LOG_FAILURE, "unhandled exception");
  }
  return {};
}

// Carries out the first command of the policy answer and acknowledges it.
bool ApplyPolicyCommand(const ServerCommandEntry& entry, IRPClient* rpClient, ICAResponseGen* respGen) {
  const std::string guid = entry.pszCmdGuid != nullptr ? entry.pszCmdGuid : "";
  uint32_t id = 0;
  uint32_t status = 0;
  char* processPayload = nullptr;
  uint32_t ackStatus = kCmdAckDone;
  bool result = true;
  OwedCommandAck owed(0);
  std::string detail;
  if (!RpReceiveAndProcessCommand(entry.pszCommandJson, rpClient, &id, &status, respGen, guid, &processPayload)) {
    AGLOG_AS("FetchAndApplyPolicy", AG_LOG_FAILURE, "RpReceiveAndProcessCommand failed. Error(%lu)",
             static_cast<unsigned long>(status));
    ackStatus = kCmdAckFailed;
    result = false;
  } else if (status != kCmdUnprocessed && id == kPolicyCommandId) {
    detail = PolicyDetailsForAck(respGen);
  }
  if (status == kCmdUnprocessed || guid.empty()) {
    std::free(processPayload);
    return result;
  }
  uint8_t retryByte = 0;
  if (!HandleRetry(id, ackStatus, &retryByte)) AGLOG_AS("FetchAndApplyPolicy", AG_LOG_FAILURE, "HandleRetry failed");
  CmdAck ack{};
  ack.dwCmdId = id;
  CopyCmdGuid(&ack, guid.c_str());
  ack.dwStatus = ackStatus;
  ack.byRetry = retryByte;
  ack.byLeading = 0;
  ack.pszAckPayload = processPayload;
  if (!detail.empty()) {
    std::free(processPayload);
    ack.pszAckPayload = static_cast<char*>(std::malloc(detail.size() + 1));
    if (ack.pszAckPayload == nullptr) {
      AGLOG_AS("FetchAndApplyPolicy", AG_LOG_FAILURE, "malloc failed");
      return false;
    }
    std::memcpy(ack.pszAckPayload, detail.c_str(), detail.size() + 1);
  }
  owed.SendOrStore(ack, rpClient, "FetchAndApplyPolicy");
  std::free(ack.pszAckPayload);
  return result;
}

}  // namespace

void ResetFirstPolicyCheckFlag() { firstPolicyCheck = true; }

bool CheckIfPolicyModifedAtClient(ICAResponseGen* respGen, bool* modified, std::string* featureIds) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  bool ignoredModified = false;
  std::string ignoredIds;
  bool& isModified = modified != nullptr ? *modified : ignoredModified;
  std::string& ids = featureIds != nullptr ? *featureIds : ignoredIds;
  isModified = true;
  std::string json;
  uint32_t error = 0;
  if (!GenerateJsonForReq(kPolicyStateId, 2, 1, respGen, &json, &error)) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForReq failed.Error(%lu)", static_cast<unsigned long>(error));
    return false;
  }
  if (!IsPolicyModifiedAtClient(json, &ids)) isModified = false;
  return true;
}

bool ResetPolicyLocally(ICAResponseGen* respGen, const std::string& featureIds) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  AGLOG(AG_LOG_PROGRESS, "ModifiedPolFeatureIds:%s", featureIds.c_str());
  std::string json;
  uint32_t error = 0;
  const bool done = GenerateJsonForSetReq(kPolicyResetId, 2, 2, respGen, featureIds, &json, &error);
  if (done) {
    AGLOG(AG_LOG_PROGRESS, "End");
  } else {
    AGLOG(AG_LOG_FAILURE, "Failed to set policy locally:Error(%lu)", static_cast<unsigned long>(error));
  }
  return done;
}

bool FetchAndApplyPolicy(IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  ICAResponseGen* respGen = CreateTaskResponseGen(__func__);
  if (respGen == nullptr) return false;

  std::string state;
  uint32_t error = 0;
  if (!GenerateJsonForReq(kPolicyStateId, 2, 1, respGen, &state, &error)) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForReq failed.Error(%lu)", static_cast<unsigned long>(error));
    state.clear();
  }
  bool result = false;
  const ClientDataRecord record{kPolicyRecordType, kPolicyRecordFlag, state.c_str()};
  ServerResponse* response = nullptr;
  if (rpClient == nullptr || !rpClient->SetClientData(&record, kPolicyStateId, &response, 1) || response == nullptr) {
    AGLOG(AG_LOG_FAILURE, "SetClientData failed");
    if (rpClient != nullptr && response != nullptr) rpClient->FreeServerResponse(response);
  } else {
    CheckServerResponse(response);
    CheckConnStateAndNotifyAV();
    if (response->pCommands != nullptr) {
      result = response->dwCommandCount == 0 || ApplyPolicyCommand(response->pCommands[0], rpClient, respGen);
    }
    rpClient->FreeServerResponse(response);
  }
  DeleteTaskResponseGen(respGen, __func__);
  AGLOG(AG_LOG_PROGRESS, "End");
  return result;
}
