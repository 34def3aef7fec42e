#include "core/rpclcore/command_processing.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "core/casupp/server_notifications.h"
#include "core/casupp/upgrade.h"
#include "core/common/aglog.h"
#include "core/common/secret_mask.h"
#include "core/config/paths.h"
#include "core/rpclcore/core_notification.h"
#include "core/rpclcore/owed_command_ack.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"

namespace {

constexpr const char* kRoutine = "RpReceiveAndProcessCommand";
constexpr uint32_t kGuidBufferSize = 100;

bool RetryStoreId(uint32_t commandId, uint32_t* storeId) {
  struct Entry {
    uint32_t commandId;
    uint32_t storeId;
  };
  static constexpr Entry kRetryStoreIds[] = {{12, 30}, {20, 32}, {21, 33}, {23, 34}, {24, 35}, {25, 38}};
  for (const Entry& entry : kRetryStoreIds) {
    if (entry.commandId == commandId) {
      *storeId = entry.storeId;
      return true;
    }
  }
  return false;
}

bool AllowedOnlyWhenRegistered(uint32_t commandId) {
  return commandId == CSP_CMD_ID_SP_UPGRADE_CMD || commandId == CSP_CMD_ID_UP_UPDATE_CMD ||
         commandId == CSP_CMD_ID_UPGRADE_CMD || commandId == CSP_CMD_ID_MIGRATION_CMD;
}

// Everything one call makes; released in the fixed order whatever exists.
struct CommandRun {
  ICSPMsgParser* parser = nullptr;
  bool opened = false;
  CSPRequest* request = nullptr;
  CAResponse response{};
  ICAResponseGen* respGen = nullptr;  // the one in use
  ICAResponseGen* ownRespGen = nullptr;
  bool ownInitialised = false;
  bool haveResponse = false;

  void Release() {
    if (request != nullptr) {
      AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Before calling pICSPMsgParser->FreeRequestMsg");
      if (!parser->FreeRequestMsg(request)) AGLOG_AS(kRoutine, AG_LOG_FAILURE, "pICSPMsgParser->FreeRequestMsg failed");
      request = nullptr;
    }
    if (haveResponse) {
      if (!respGen->FreeResponse(&response)) AGLOG_AS(kRoutine, AG_LOG_FAILURE, "pRespGenLocal->FreeResponse failed");
      haveResponse = false;
    }
    if (opened) {
      if (!parser->CloseMsg()) AGLOG_AS(kRoutine, AG_LOG_FAILURE, "pICSPMsgParser->CloseMsg failed");
      opened = false;
    }
    if (ownRespGen != nullptr) {
      if (ownInitialised && !ownRespGen->Deinit()) AGLOG_AS(kRoutine, AG_LOG_FAILURE, "pRespGenLocal->Deinit() failed");
      if (!Siblings().resp->DeleteCAResponseGenObj(ownRespGen)) {
        AGLOG_AS(kRoutine, AG_LOG_FAILURE, "DeleteCAResponseGenObj failed");
      }
      ownRespGen = nullptr;
    }
    if (parser != nullptr) {
      if (!Siblings().msgparse->DeleteICSPMsgParserObj(parser)) {
        AGLOG_AS(kRoutine, AG_LOG_FAILURE, "DeleteICSPMsgParserObj failed");
      }
      parser = nullptr;
    }
  }
};

// An upgrade command seen before is carried out again unless a minor upgrade
// is configured and the agent already runs the version it would install.
bool UpgradeRepeatGoesOn() {
  uint32_t minorUpgrade = 0;
  GetMinorUpgrade(&minorUpgrade);
  bool sameVersion = false;
  uint8_t storedVersion[2] = {};
  if (GetClientBlobData(DB_ID_CA_VERSION, sizeof(storedVersion), storedVersion)) {
    char current[20] = {};
    GetClientVersion(current, sizeof(current), false);
    AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Current CA Version: %s", current);
    char stored[20] = {};
    std::snprintf(stored, sizeof(stored), "%d.%d", storedVersion[0], storedVersion[1]);
    AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "DB CA Version: %s", stored);
    if (std::strcmp(current, stored) == 0) {
      AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Both CA versions are same.");
      sameVersion = true;
    }
  } else {
    AGLOG_AS(kRoutine, AG_LOG_FAILURE, "Failed to find the CA version.");
  }
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Minor Upgrade Value in agdv.ini is %d.", static_cast<int>(minorUpgrade));
  if (minorUpgrade != 0 && sameVersion) return false;
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Go for downloading Upgrade.");
  return true;
}

// The store entry that keeps the last GUID of `commandId`. The entries from
// 1000 up are the command-GUID range; an id whose entry would lie past the
// last 32-bit store id has none (in 32 bits it would wrap onto the fixed
// entries below 1000, such as the heartbeat interval).
std::optional<uint32_t> LastGuidStoreId(uint32_t commandId) {
  const uint64_t storeId = uint64_t{DB_ID_LAST_COMMAND_GUID_BASE} + commandId;
  if (storeId > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(storeId);
}

// True when the command is a repeat to drop. Keeps the GUID of a command
// that goes on (with the acknowledgement it owes, see owed_command_ack.h).
bool IsDroppedRepeat(uint32_t storeId, uint32_t commandId, const std::string& commandGuid) {
  char lastGuid[kGuidBufferSize] = {};
  if (!GetClientBlobData(storeId, sizeof(lastGuid) - 1, lastGuid)) {
    AGLOG_AS(kRoutine, AG_LOG_FAILURE, "GetClientBlobData failed for %d", static_cast<int>(storeId));
  } else if (commandGuid == lastGuid && commandId != CSP_CMD_ID_SP_UPGRADE_CMD) {
    AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Same command guid found for id %d.", static_cast<int>(commandId));
    const uint8_t retryCount = GetRetryCount(commandId);
    const bool upgradeGoesOn = commandId == CSP_CMD_ID_UPGRADE_CMD && UpgradeRepeatGoesOn();
    if (!upgradeGoesOn && retryCount == 0) {
      AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Duplicate command identified for command id %d.",
               static_cast<int>(commandId));
      return true;
    }
  }
  AGLOG_AS(kRoutine, AG_LOG_PROGRESS, "Command identified as non-duplicate for id %d.", static_cast<int>(commandId));
  if (!OwedCommandAck::KeepGuid(storeId, commandId, commandGuid)) {
    AGLOG_AS(kRoutine, AG_LOG_FAILURE, "SetClientBlobData failed for %d", static_cast<int>(storeId));
  }
  return false;
}

}  // namespace

bool RpReceiveAndProcessCommand(const char* commandJson, IRPClient* rpClient, uint32_t* commandId,
                                uint32_t* status, ICAResponseGen* respGen, std::string commandGuid,
                                char** ackPayload) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  if (commandJson == nullptr || *commandJson == '\0' || status == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return false;
  }
  *status = kCmdFailed;

  CommandRun run;
  if (!Siblings().msgparse->CreateICSPMsgParserObj(&run.parser) || run.parser == nullptr) {
    run.parser = nullptr;
    AGLOG(AG_LOG_FAILURE, "CreateICSPMsgParserObj() failed.");
    return false;
  }
  run.respGen = respGen;
  if (respGen == nullptr) {
    if (!Siblings().resp->CreateCAResponseGenObjNew(&run.ownRespGen, NotifyClientCoreForRpTask) ||
        run.ownRespGen == nullptr) {
      run.ownRespGen = nullptr;
      AGLOG(AG_LOG_FAILURE, "CreateCAResponseGenObj failed");
      run.Release();
      return false;
    }
    if (!run.ownRespGen->Init()) {
      AGLOG(AG_LOG_FAILURE, "RespGen Init failed");
      run.Release();
      return false;
    }
    run.ownInitialised = true;
    run.respGen = run.ownRespGen;
  }

  if (!run.parser->OpenMsg(commandJson)) {
    AGLOG(AG_LOG_FAILURE, "pICSPMsgParser->OpenMsg failed");
    *status = kCmdOpenFailed;
    run.Release();
    return false;
  }
  run.opened = true;

  AGLOG(AG_LOG_PROGRESS, "Before calling pICSPMsgParser->GetMsgType");
  AGLOG(AG_LOG_PROGRESS, "Before calling pICSPMsgParser->ParseRequestMsg");
  if (!run.parser->ParseRequestMsg(&run.request) || run.request == nullptr) {
    run.request = nullptr;
    AGLOG(AG_LOG_FAILURE, "ParseRequestMsg failed");
    run.Release();
    return false;
  }

  AGLOG(AG_LOG_PROGRESS, "Before calling pRespGenLocal->CreateResponse");
  const uint32_t id = run.request->commandId;
  if (commandId != nullptr) *commandId = id;
  const std::optional<uint32_t> guidStoreId = LastGuidStoreId(id);
  if (!guidStoreId) {
    AGLOG(AG_LOG_FAILURE, "Command id %lu is out of range, command refused", static_cast<unsigned long>(id));
    run.Release();
    return false;
  }

  uint32_t regStatus = 0;
  if (!Siblings().support->GetClientRegStatus(&regStatus, 0)) {
    AGLOG(AG_LOG_FAILURE, "GetClientRegStatus failed");
    regStatus = 0;
  }
  if (regStatus != 3 && AllowedOnlyWhenRegistered(id)) {
    *status = kCmdUnprocessed;
    run.Release();
    return true;
  }
  if (!commandGuid.empty() && IsDroppedRepeat(*guidStoreId, id, commandGuid)) {
    *status = kCmdUnprocessed;
    run.Release();
    return true;
  }

  if (!run.respGen->CreateResponse(run.request, &run.response)) {
    AGLOG(AG_LOG_FAILURE, "pRespGenLocal->CreateResponse failed");
    run.Release();
    return false;
  }
  run.haveResponse = true;

  if (run.request->kind == kCSPRequestKindAckPayload) {
    const ResponseDetails* record = run.response.record;
    if (record != nullptr && record->pszText != nullptr && ackPayload != nullptr) {
      const size_t size = std::strlen(record->pszText) + 1;
      char* copy = static_cast<char*>(std::malloc(size));
      if (copy == nullptr) {
        AGLOG(AG_LOG_FAILURE, "malloc failed for cmd : %lu", static_cast<unsigned long>(id));
      } else {
        std::memcpy(copy, record->pszText, size);
        std::free(*ackPayload);
        *ackPayload = copy;
        AGLOG(AG_LOG_FAILURE, "Ack Payload  %s", MaskJsonSecrets(copy).c_str());
      }
    }
  } else if (!PushDataToCS(rpClient, run.response.record)) {
    AGLOG(AG_LOG_FAILURE, "PushDataToCS failed");
  }

  run.Release();
  *status = kCmdProcessed;
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}

uint8_t GetRetryCount(uint32_t commandId) {
  uint32_t storeId = 0;
  uint8_t count = 0;
  if (!RetryStoreId(commandId, &storeId) || !GetClientBlobData(storeId, sizeof(count), &count)) return 0;
  return count;
}

bool HandleRetry(uint32_t commandId, uint32_t status, uint8_t* retryByte) {
  if (retryByte == nullptr) return false;
  *retryByte = 0;
  uint32_t storeId = 0;
  if (!RetryStoreId(commandId, &storeId)) return true;

  uint8_t stored = 0;
  if (status != kCmdAckDone) {
    uint8_t count = 0;
    if (!GetClientBlobData(storeId, sizeof(count), &count)) {
      stored = 1;
      *retryByte = 1;
    } else {
      const uint8_t next = static_cast<uint8_t>(count + 1);
      *retryByte = next;
      // Command 25 counts every failure; the others retry in rounds of three.
      stored = commandId == kCmdWithoutRetryModulo ? next : static_cast<uint8_t>(next % 3);
    }
  }
  if (!SetClientBlobData(storeId, sizeof(stored), &stored)) {
    AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed for %d", static_cast<int>(storeId));
    return false;
  }
  return true;
}
