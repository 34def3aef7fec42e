// The installation-status thread. It owns the six named events through which
// the installer, the build downloader and the upgrade tools report progress,
// waits on them together with the clean-up event, and turns each signal into
// a task for the task performers; it never talks to the server itself.
#include "core/cathread/install_status_thread.h"

#include <array>
#include <charconv>
#include <cerrno>
#include <memory>
#include <string>

#include "core/agcore/core_state.h"
#include "core/casupp/product_notifications.h"
#include "core/casupp/upgrade.h"
#include "core/common/aglog.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_pool.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/ini.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/utf.h"

namespace {

// Every line of the thread, also those written from its helpers, carries the
// thread's routine name.
constexpr const char* kThreadRoutine = "CaAvInstallStatusThread";

struct EventSpec {
  const char* name;
  const char* creationFailure;  // format with the system error
};

// Creation order; the wait order puts the clean-up event second.
constexpr std::array<EventSpec, 6> kEvents = {{
    {"Global\\VXAV_Installation_Status", "CreateEvent(AV inst status) failed (Err = %lu)"},
    {"Global\\VXAV_Download_Status", "CreateEvent(AV Download status) failed (Err = %lu)"},
    {"Global\\VX_Sp_Upgrd_Status", "CreateEvent(UPGRD_STATUS_EVENT) failed (Err = %lu)"},
    {"Global\\VX_Up_Upgrd_Status", "CreateEvent(UPGRD_MAJOR_MINOR_STATUS_EVENT) failed (Err = %lu)"},
    {"Global\\VXAV_Download_Failed", "CreateEvent(AV_DOWN_FAILED_EVENT) failed (Err = %lu)"},
    {"Global\\VXAV_Download_Info", "CreateEvent(CA_EVENT_SEND_AV_DOWNLOAD_INFO) failed (Err = %lu)"},
}};

enum WaitIndex { kInstallStatus = 0, kCleanup, kDownloadStatus, kSpUpgrade, kUpUpgrade, kDownloadFailed, kDownloadInfo };

constexpr uint32_t kResultNeedsProductNotification = 506;
constexpr uint32_t kDownloadInfoActionId = 130;
constexpr uint32_t kDownloadUrlsActionId = 134;
constexpr uint32_t kAvDownloadUrlSourceUa = 2;

void QueueTask(uint8_t taskId, uint32_t actionId) { AddTaskInQ(GetRpTaskQueue(), actionId, taskId); }

void RefreshPassiveNotification(bool* registered) {
  if (*registered) {
    uint32_t bits = 0;
    if (!RpGetThreadPassiveNotification(&bits)) {
      AGLOG_AS(kThreadRoutine, AG_LOG_FAILURE, "RpGetThreadPassiveNotification() failed.");
    }
    return;
  }
  *registered = RpRegisterThreadForPassiveNotification(nullptr);
  if (!*registered) AGLOG_AS(kThreadRoutine, AG_LOG_FAILURE, "RpRegisterThreadForPassiveNotification() failed.");
}

// "INSTALL"/"RESULT" of "agbldn.ini" in the agent root, 0 when not a number.
// A number beyond 32 bits is no result code either: it must not wrap onto one
// ("4294967802" is not 506).
uint32_t ReadInstallResult(const char16_t* rootDir) {
  std::u16string path(rootDir, platform::U16Length(rootDir, 260));
  path += u"agbldn.ini";
  if (path.size() >= 260) return 0;
  char16_t text[260] = {};
  platform::GetPrivateProfileStringW(u"INSTALL", u"RESULT", u"0", text, 260, path.c_str());
  const std::string utf8 = platform::Utf16ToUtf8(text).value_or("0");
  const size_t start = utf8.find_first_not_of(" \t");
  if (start == std::string::npos) return 0;
  const char* first = utf8.c_str() + start + (utf8[start] == '+' ? 1 : 0);
  uint32_t value = 0;
  return std::from_chars(first, utf8.c_str() + utf8.size(), value).ec == std::errc() ? value : 0;
}

void OnInstallationStatus(bool* registered) {
  char16_t rootDir[260] = {};
  if (!Siblings().support->GetClientAgentRootDir(rootDir, 260)) return;
  RefreshPassiveNotification(registered);
  const uint32_t result = ReadInstallResult(rootDir);
  QueueTask(CS_CLIENT_TASKQ_SEND_INSTALLATION_STATUS, 114);
  if (result != kResultNeedsProductNotification) return;
  if (!NotifyDataChangeToAV(AIAV_ACTION_SET_CLIENT_GUID, nullptr, nullptr)) {
    AGLOG_AS(kThreadRoutine, AG_LOG_FAILURE, "NotifyDataChangeToAV failed for AIAV_ACTION_SET_CLIENT_GUID");
  }
  uint32_t roaming = 0;
  if (!NotifyDataChangeToAV(AIAV_ACTION_SET_ROAMING_STATUS, &roaming, nullptr)) {
    AGLOG_AS(kThreadRoutine, AG_LOG_FAILURE, "NotifyDataChangeToAV failed AIAV_ACTION_SET_ROAMING_STATUS: %d",
             static_cast<int>(roaming));
  }
}

void OnDownloadStatus() {
  uint8_t ptp = 0;
  if (Siblings().support->GetPTPStatus(&ptp) && ptp == 1) {
    if (!NotifyStartWebServerToClient()) {
      AGLOG_AS(kThreadRoutine, AG_LOG_FAILURE, "NotifyStartWebServerToClient failed");
    } else {
      QueueTask(CS_CLIENT_TASKQ_SEND_DOWNLOAD_INFO, kDownloadInfoActionId);
    }
    return;
  }
  bool onPrem = false;
  if (!IsOnPrem(&onPrem)) {
    AGLOG_AS(kThreadRoutine, AG_LOG_FAILURE, "IsOnPrem failed");
    onPrem = false;
  }
  uint32_t source = 0;
  const bool sourceRead = Siblings().support->GetAVDownloadUrlSrc(&source);
  if (onPrem && sourceRead) {
    AGLOG_AS(kThreadRoutine, AG_LOG_PROGRESS,
             "It Is OnPrem & GetAVDownloadUrlSrc succeded so added event 130 in queue.");
    QueueTask(CS_CLIENT_TASKQ_SEND_DOWNLOAD_INFO, kDownloadInfoActionId);
  } else if (!onPrem && sourceRead && source == kAvDownloadUrlSourceUa) {
    AGLOG_AS(kThreadRoutine, AG_LOG_PROGRESS,
             "It Is OnCloud & GetAVDownloadUrlSrc succeded  URL source is UA so added event 130 in queue.");
    QueueTask(CS_CLIENT_TASKQ_SEND_DOWNLOAD_INFO, kDownloadInfoActionId);
  } else {
    AGLOG_AS(kThreadRoutine, AG_LOG_FAILURE, "GetAVDownloadUrlSrc Faild.");
  }
}

}  // namespace

uint32_t CaAvInstallStatusThread(const CaCoreParam* param) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  if (param == nullptr) {
    AGLOG(AG_LOG_FAILURE, "Invalid input to function.");
    return 0;
  }
  const CaCoreParam ownCopy = *param;
  // The thread keeps its own copy so that it never depends on start-up's record.
  (void)ownCopy;

  platform::EveryoneSecurityAttributes everyone;
  const platform::SecurityAttributes* attributes = nullptr;
  if (!everyone.Build(platform::kEventModifyState, &attributes)) {
    AGLOG(AG_LOG_FAILURE, "CreateSecurityAttributeForEveryone failed (Err = %lu)", static_cast<unsigned long>(errno));
    attributes = nullptr;
  } else {
    AGLOG(AG_LOG_PROGRESS, "CreateSecurityAttributeForEveryone SUCCESS.");
  }

  std::array<std::unique_ptr<platform::NamedEvent>, kEvents.size()> events;
  for (size_t i = 0; i < kEvents.size(); ++i) {
    uint32_t error = 0;
    events[i] = platform::NamedEvent::CreateOrOpen(kEvents[i].name, true, false, attributes, &error);
    if (!events[i]) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
      AGLOG(AG_LOG_FAILURE, kEvents[i].creationFailure, static_cast<unsigned long>(error));
#pragma GCC diagnostic pop
      if (error == platform::kErrorInvalidOwner) {
        AGLOG(AG_LOG_FAILURE, "Event %s belongs to another user: refused", kEvents[i].name);
      }
      return 0;
    }
  }
  everyone.Release();

  bool registered = RpRegisterThreadForPassiveNotification(nullptr);
  if (!registered) AGLOG(AG_LOG_FAILURE, "RpRegisterThreadForPassiveNotification() failed.");

  // An upgrade acknowledgement whose signal found no holder (the agent was
  // down when the upgrade tool finished, or start-up signalled before these
  // events existed) is still due while its record and result are there: its
  // event is set once here, so the first wait queues it.
  if (IsUpgradeCmdAckOutstanding(CS_CLIENT_TASKQ_SEND_SP_UPGRADE_STATUS)) events[2]->Set();
  if (IsUpgradeCmdAckOutstanding(CS_CLIENT_TASKQ_SEND_UP_UPGRADE_STATUS)) events[3]->Set();

  platform::Event* cleanup = GetCoreState().cleanupEvent.get();
  std::array<platform::Waitable*, 7> handles = {events[0].get(), cleanup,          events[1].get(), events[2].get(),
                                                events[3].get(), events[4].get(), events[5].get()};
  for (bool running = cleanup != nullptr; running;) {
    AGLOG(AG_LOG_PROGRESS, "Waiting for either event...");
    const int index = platform::GetClock().WaitAny(handles, platform::kInfinite);
    switch (index) {
      case kInstallStatus:
        AGLOG(AG_LOG_PROGRESS, "AV Installation Status Event Fired!!");
        events[0]->Reset();
        OnInstallationStatus(&registered);
        break;
      case kCleanup:
        AGLOG(AG_LOG_PROGRESS, "Cleanup Event signalled");
        running = false;
        break;
      case kDownloadStatus:
        AGLOG(AG_LOG_PROGRESS, "AV Download Status Event signalled");
        events[1]->Reset();
        OnDownloadStatus();
        break;
      case kSpUpgrade:
        AGLOG(AG_LOG_PROGRESS, "Upgrade SP status Event Fired!");
        events[2]->Reset();
        QueueTask(CS_CLIENT_TASKQ_SEND_SP_UPGRADE_STATUS, 0);
        break;
      case kUpUpgrade:
        AGLOG(AG_LOG_PROGRESS, "Upgrade UP status Event Fired!");
        events[3]->Reset();
        QueueTask(CS_CLIENT_TASKQ_SEND_UP_UPGRADE_STATUS, 0);
        break;
      case kDownloadFailed:
        AGLOG(AG_LOG_PROGRESS, "Av Download failed Event Fired!");
        events[4]->Reset();
        QueueTask(CS_CLIENT_TASKQ_GET_URLS_FOR_AV_DOWNLOAD, kDownloadUrlsActionId);
        break;
      case kDownloadInfo:
        AGLOG(AG_LOG_PROGRESS, "Send AV Download Info To Server After P2P Enable from Server Event signalled");
        events[5]->Reset();
        QueueTask(CS_CLIENT_TASKQ_SEND_DOWNLOAD_INFO, kDownloadInfoActionId);
        break;
      default:
        AGLOG(AG_LOG_FAILURE, "WaitForMultipleObjects Failed or some other problem");
        running = false;
        break;
    }
  }
  AGLOG(AG_LOG_PROGRESS, "Exit");
  return 0;
}
