#include "core/rpclcore/registration.h"

#include <cstring>
#include <string>

#include "core/casupp/download_locations.h"
#include "core/casupp/install_status.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/config/paths.h"
#include "core/genreq/response_json.h"
#include "core/rpclcore/heartbeat_state.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kRegistrationDataId = 122;
constexpr uint32_t kServerErrorRegistrationRefused = 101;
constexpr uint32_t kMinorUpgradeTypeA = 1;
constexpr uint32_t kMinorUpgradeTypeB = 2;
constexpr uint32_t kInstallationStatusAction = 114;
constexpr uint32_t kSystemStatusDigestSlot = 21;
constexpr uint32_t kUAStatusDigestSlot = 23;
constexpr uint32_t kPathUnits = 260;

bool IsMinorUpgradeType(uint32_t type) { return type == kMinorUpgradeTypeA || type == kMinorUpgradeTypeB; }

uint32_t ReadRegStatus(uint8_t relay) {
  uint32_t status = 0;
  if (!Siblings().support->GetClientRegStatus(&status, relay)) {
    AGLOG_AS("RpRegistrationStep", AG_LOG_FAILURE, "GetClientRegStatus failed");
    return 0;
  }
  return status;
}

// A registration the server accepted: an installed product's state is
// reported (with the minor-upgrade record when the current update manager
// is registered).
void OnRegistrationAccepted() {
  AGLOG_AS("RpRegistrationStep", AG_LOG_PROGRESS, "actual registration succeded.");
  uint32_t upgradeType = 0;
  Siblings().support->GetClientUpgradeType(&upgradeType);
  if (!Siblings().preinst->AGPreInstIsAvInstalled()) {
    AGLOG_AS("RpRegistrationStep", AG_LOG_PASSED_OVER, "AV is not installed");
    return;
  }
  if (IsMinorUpgradeType(upgradeType)) return;
  bool managerPresent = false;
  IsUpdateManagerPresent(&managerPresent);
  if (managerPresent) {
    char16_t root[kPathUnits] = {};
    if (!Siblings().support->GetClientAgentRootDir(root, kPathUnits)) {
      AGLOG_AS("RpRegistrationStep", AG_LOG_FAILURE, "GetClientAgentRootDir failed");
    } else {
      std::u16string path(root);
      const std::u16string name = u"INSTSTS.JSON";
      if (path.size() + name.size() >= kPathUnits) {
        AGLOG_AS("RpRegistrationStep", AG_LOG_FAILURE, "StringCchCat failed");
      } else {
        WriteInstallationInfoForMinorInInststs(path + name);
      }
    }
  }
  AddTaskInQ(GetRpTaskQueue(), kInstallationStatusAction, CS_CLIENT_TASKQ_SEND_INSTALLATION_STATUS);
}

}  // namespace

bool SendRegistrationRequest(IRPClient* rpClient, ICAResponseGen* respGen, ServerResponse** response) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (response == nullptr) {
    AGLOG(AG_LOG_FAILURE, "CS response parser object not specified");
    return false;
  }
  std::string json;
  uint32_t error = 0;
  if (!GenerateJsonForReq(kRegistrationDataId, 1, 1, respGen, &json, &error)) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForReq failed for(%lu).Error(%lu)", static_cast<unsigned long>(kRegistrationDataId),
          static_cast<unsigned long>(error));
    return false;
  }
  if (rpClient == nullptr || !rpClient->Register(json.c_str(), response)) {
    AGLOG(AG_LOG_FAILURE, "Register failed");
    return false;
  }
  CheckConnStateAndNotifyAV();
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool CheckClientRegistrationValidity(bool* valid) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (valid == nullptr) return false;
  *valid = true;
  ISupportLibrary* support = Siblings().support;
  CLDBHANDLE db = nullptr;
  if (!support->CLOpenDatabase(&db)) {
    AGLOG(AG_LOG_FAILURE, "CLOpenDatabase failed");
    return false;
  }
  const uint64_t now = static_cast<uint64_t>(platform::GetClock().NowSeconds());
  uint64_t start = 0;
  if (!support->CLGetDataByType(db, DB_ID_CLIENT_REG_START_DATE, CL_DATA_TYPE_BLOB, sizeof(start), &start) ||
      start == 0) {
    // Without a readable start date the window starts now: it can never
    // expire on an unreadable date.
    AGLOG(AG_LOG_FAILURE, "CLGetDataByType failed for DB_ID_CLIENT_REG_START_DATE");
    if (!support->CLSetDataByType(db, DB_ID_CLIENT_REG_START_DATE, CL_DATA_TYPE_BLOB, sizeof(now), &now)) {
      AGLOG(AG_LOG_FAILURE, "CLSetDataByType failed for DB_ID_CLIENT_REG_START_DATE");
    }
  } else {
    AGLOG(AG_LOG_VERBOSE, "RegStart:(%llu), Curr:(%llu)", static_cast<unsigned long long>(start),
          static_cast<unsigned long long>(now));
    if (now > start + static_cast<uint64_t>(kRegistrationWindowSeconds)) {
      AGLOG(AG_LOG_FAILURE, "Registration period expired. RegStart:(%llu), Curr:(%llu)",
            static_cast<unsigned long long>(start), static_cast<unsigned long long>(now));
      *valid = false;
    }
  }
  if (!support->CLCloseDatabase(db)) AGLOG(AG_LOG_FAILURE, "CLCloseDatabase failed");
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool UninstallClient() { return AddTaskInQ(GetRpTaskQueue(), 0, CS_CLIENT_TASKQ_UNINSTALL_CLIENT_SILENTLY); }

RegistrationOutcome RpRegistrationStep(IRPClient* rpClient, ICAResponseGen* respGen, HeartbeatState* state) {
  HeartbeatTimers& timers = state->timers;
  state->regStatus = ReadRegStatus(0);
  if (state->regStatus == kRegisteredStatus) return RegistrationOutcome::kHeartbeat;
  if (!timers.timeoutCSRegistration && !timers.timeoutRPRegistration) return RegistrationOutcome::kEndCycle;

  ++state->regAttempts;
  AGLOG(AG_LOG_VERBOSE, "Going for registration: %lu", static_cast<unsigned long>(state->regAttempts));
  bool valid = true;
  if (CheckClientRegistrationValidity(&valid) && !valid) {
    AGLOG(AG_LOG_FAILURE, "Client registration period expired");
    if (UninstallClient()) return RegistrationOutcome::kEndThread;
    AGLOG(AG_LOG_FAILURE, "UninstallClient failed continue");
    return RegistrationOutcome::kEndCycle;
  }
  if (timers.onPrem) rpClient->SetRPMode(timers.timeoutRPRegistration ? 1 : 0);

  ServerResponse* response = nullptr;
  if (!SendRegistrationRequest(rpClient, respGen, &response) || response == nullptr) {
    // An attempt that did not reach the server is not counted.
    --state->regAttempts;
    uint32_t relayStatus = 0;
    if (Siblings().support->GetClientRegStatus(&relayStatus, 1) && relayStatus == kRegisteredStatus) {
      if (timers.timeoutRPRegistration) timers.timeoutRPHeartbeat = true;
      return RegistrationOutcome::kHeartbeat;
    }
    AGLOG(AG_LOG_FAILURE, "SendRegistrationRequest failed");
    return RegistrationOutcome::kEndCycle;
  }

  bool accepted = response->bSuccess != 0;
  if (accepted) {
    OnRegistrationAccepted();
  } else {
    AGLOG(AG_LOG_FAILURE, "actual registration failed.");
  }

  bool onPrem = false;
  if (!IsOnPrem(&onPrem)) AGLOG(AG_LOG_FAILURE, "IsOnPrem failed.");
  uint32_t upgradeType = 0;
  Siblings().support->GetClientUpgradeType(&upgradeType);
  if (IsMinorUpgradeType(upgradeType) && !onPrem) {
    // A client that registers during a minor upgrade was registered before.
    AGLOG(AG_LOG_PROGRESS, "This registration request for %d type so we are not waiting for registration status here.",
          static_cast<int>(upgradeType));
    accepted = true;
  } else {
    AGLOG(AG_LOG_PROGRESS, "This is not minor upgrade so will wait till registration success.");
  }

  if (!SetClientBlobData(DB_ID_CLIENT_REG_ATTEMPT, sizeof(state->regAttempts), &state->regAttempts)) {
    AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed for DB_ID_CLIENT_REG_ATTEMPT");
  }
  if (state->regAttempts >= kRegAttemptsBeforeBackOff) timers.registrationInterval = kBackOffRegistrationIntervalMinutes;
  AGLOG(AG_LOG_VERBOSE, "Register returned response");

  if (accepted) {
    state->regStatus = kRegisteredStatus;
    if (!Siblings().support->SetClientRegStatus(kRegisteredStatus, 0)) AGLOG(AG_LOG_FAILURE, "SetClientRegStatus failed");
    const uint32_t unregisterBit = CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER;
    if (!RpUpdatePassiveNotificationForAllThreads(&unregisterBit, true)) {
      AGLOG(AG_LOG_FAILURE, "RpClientHeartbeatlThreads failed for CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER");
    }
    ResetNewOldMd5ById(kSystemStatusDigestSlot);
    ResetNewOldMd5ById(kUAStatusDigestSlot);
    timers.timeoutCSHeartbeat = true;
  } else if (response->dwErrorCount > 0 && response->pErrorCodes != nullptr) {
    HandleErrorCodes(response);
    const uint32_t code = response->pErrorCodes[0];
    AGLOG(AG_LOG_VERBOSE, "Error code:%lu", static_cast<unsigned long>(code));
    if (!Siblings().support->SetClientRegStatus(code == kServerErrorRegistrationRefused ? 1 : 0, 0)) {
      AGLOG(AG_LOG_FAILURE, "SetClientRegStatus failed");
    }
  }
  rpClient->FreeServerResponse(response);
  if (timers.onPrem) timers.waitRPRegistration = timers.relay.rpReg;

  uint32_t relayStatus = 0;
  Siblings().support->GetClientRegStatus(&relayStatus, 1);
  if (state->regStatus == kRegisteredStatus || relayStatus == kRegisteredStatus) return RegistrationOutcome::kHeartbeat;
  return RegistrationOutcome::kEndCycle;
}

void CheckImmediateAvInstallation() {
  const uint32_t buildKind = IsBuildAvailable();
  uint32_t upgradeType = 0;
  Siblings().support->GetClientUpgradeType(&upgradeType);
  const bool installed = Siblings().preinst->AGPreInstIsAvInstalled() != 0;
  AGLOG(AG_LOG_PROGRESS, "AV Installed: %d, UpgradeType: %d, WithAV: %d", installed ? 1 : 0,
        static_cast<int>(upgradeType), static_cast<int>(buildKind));
  if (buildKind == 1 && !installed && !IsMinorUpgradeType(upgradeType)) {
    AGLOG(AG_LOG_PROGRESS, "All Conditions Satisfied for Immediate AV installation..so Not waiting for registration.");
    if (!Siblings().preinst->AGPreInstInstall("", "", buildKind)) {
      AGLOG(AG_LOG_FAILURE, "AGPreInstInstall() failed to launch agbldn.exe");
    }
  }
}
