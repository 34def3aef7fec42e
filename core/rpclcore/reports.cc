#include "core/rpclcore/reports.h"

#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "core/casupp/product_notifications.h"
#include "core/casupp/server_notifications.h"
#include "core/common/aglog.h"
#include "core/genreq/response_json.h"
#include "core/rpclcore/passive_notifications.h"
#include "core/rpclcore/task_response_gen.h"
#include "core/siblings/client_store.h"
#include "core/siblings/siblings.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/ini.h"
#include "platform/process.h"
#include "platform/utf.h"

namespace {

constexpr uint32_t AIAV_ACTION_GET_REPORT_DB_PATH = 10;
constexpr uint32_t AIAV_ACTION_SET_REPORT_DB_RESET = 11;
constexpr uint32_t kClientReportDataId = 103;
constexpr uint32_t kReportChunkRecordType = 3;
constexpr char16_t kAgentReportDbName[] = u"carpt.db";
constexpr char16_t kMachineInfoProgram[] = u"agmachinfo.exe";
constexpr char16_t kProductSectionIni[] = u"section.ini";
constexpr uint32_t kErrorFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

// The report lock. The handle exists while somebody uses it: the first caller
// creates it, the holder closes it at its end, and a caller that finds it
// held is refused at once instead of queueing behind a long upload.
class ReportLock {
 public:
  explicit ReportLock(const char* routine) {
    std::lock_guard<std::mutex> lock(Guard());
    State& state = GetState();
    if (!state.created) {
      state.created = true;
      AGLOG_AS(routine, AG_LOG_VERBOSE, "CreateMutex Succeed");
    }
    if (state.held) {
      AGLOG_AS(routine, AG_LOG_FAILURE, "Report sending is in progress, terminate current request");
      return;
    }
    state.held = true;
    owner_ = true;
  }
  ~ReportLock() { Release(); }
  ReportLock(const ReportLock&) = delete;
  ReportLock& operator=(const ReportLock&) = delete;

  [[nodiscard]] bool held() const { return owner_; }
  void Release() {
    if (!owner_) return;
    std::lock_guard<std::mutex> lock(Guard());
    GetState() = State{};
    owner_ = false;
  }

 private:
  struct State {
    bool created = false;
    bool held = false;
  };
  static std::mutex& Guard() {
    static std::mutex guard;
    return guard;
  }
  static State& GetState() {
    static State state;  // guarded by Guard()
    return state;
  }
  bool owner_ = false;
};

// Reports (task 7) and recovery reports (task 16) differ only in when the old
// copy is sent after all and in whether the caller learns that something went.
enum class UploadKind { kReports, kRecovery };

bool RunReportUpload(const char* routine, IRPClient* rpClient, UploadKind kind, bool* sent) {
  AGLOG_AS(routine, AG_LOG_PROGRESS, "Start");
  ReportLock lock(routine);
  if (!lock.held()) return false;
  ICAResponseGen* respGen = CreateTaskResponseGen(routine);
  if (respGen == nullptr) return false;

  bool expired = false;
  if (SendReportFromCADB(respGen, rpClient, &expired, true) || expired) {
    bool uploadFailed = false;
    const bool freshSent = CopyAndSendUpdatedAVDB(respGen, rpClient, &uploadFailed);
    if (freshSent && kind == UploadKind::kRecovery) {
      AGLOG_AS(routine, AG_LOG_PROGRESS, "SendReportFromAVDB successfully");
      *sent = true;
    }
    // Reports fall back to the expired copy when no fresh copy could be made;
    // recovery reports when the fresh copy was made but did not go out.
    const bool fallBack =
        !freshSent && expired && (kind == UploadKind::kReports ? !uploadFailed : uploadFailed);
    if (fallBack) {
      if (kind == UploadKind::kReports) {
        AGLOG_AS(routine, AG_LOG_FAILURE, "SendReportFromAVDB failed so send report from CA DB if available");
      }
      bool ignored = false;
      if (SendReportFromCADB(respGen, rpClient, &ignored, false)) {
        *sent = true;
      } else {
        AGLOG_AS(routine, AG_LOG_FAILURE, "SendReportFromCADB failed");
      }
    }
  }
  DeleteTaskResponseGen(respGen, routine);
  lock.Release();
  AGLOG_AS(routine, AG_LOG_PROGRESS, "End");
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string ReportDbInfoToJson(const ReportDbInfo& info) {
  const std::optional<std::string> path =
      platform::Utf16ToUtf8(std::u16string_view(info.szDBPath, platform::U16Length(info.szDBPath, kReportDbPathUnits)));
  if (!path) return {};
  Json::Value value(Json::objectValue);
  value["RecordCount"] = info.dwRecordCount;
  value["DBPath"] = *path;
  Json::FastWriter writer;
  writer.omitEndingLineFeed();
  return writer.write(value);
}

bool SendClientReports(IRPClient* rpClient) {
  bool sent = false;
  return RunReportUpload(__func__, rpClient, UploadKind::kReports, &sent);
}

bool SendClientRecoveryReport(IRPClient* rpClient, bool* sent) {
  bool ignored = false;
  bool* output = sent != nullptr ? sent : &ignored;
  *output = false;
  return RunReportUpload(__func__, rpClient, UploadKind::kRecovery, output);
}

bool SendReportFromCADB(ICAResponseGen* respGen, IRPClient* rpClient, bool* expired, bool checkExpiry) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (expired != nullptr) *expired = false;
  char path[kReportDbPathUnits + 1] = {};
  if (!GetClientBlobData(DB_ID_CA_REPORT_DB_PATH, kReportDbPathUnits, path) || !FileExists(path)) {
    AGLOG(AG_LOG_FAILURE, "No local CA DB present");
    return true;
  }
  int64_t copiedAt = 0;
  if (checkExpiry && GetClientBlobData(DB_ID_LAST_DB_COPIED_TIME, sizeof(copiedAt), &copiedAt) &&
      platform::GetClock().NowSeconds() - copiedAt >= kReportCopyExpirySeconds) {
    AGLOG(AG_LOG_FAILURE, "CA DB has expired reports");
    if (expired != nullptr) *expired = true;
    return false;
  }
  if (!SendReportsInChunks(path, respGen, rpClient)) {
    AGLOG(AG_LOG_FAILURE, "SendReportsInChunks Failed for CA report DB");
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool CopyAndSendUpdatedAVDB(ICAResponseGen* respGen, IRPClient* rpClient, bool* uploadFailed) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  std::string json;
  uint32_t error = 0;
  if (!GenerateJsonForReq(AIAV_ACTION_GET_REPORT_DB_PATH, 2, 1, respGen, &json, &error) || json.empty()) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForReq failed for : %lu", static_cast<unsigned long>(AIAV_ACTION_GET_REPORT_DB_PATH));
    return false;
  }
  const Json::Value payload = GetResponsePayload(json);
  if (payload.empty() || !payload.isObject()) {
    AGLOG(AG_LOG_FAILURE, "GetResponsePayload failed");
    return false;
  }
  std::string copyPath;
  if (!CopyReportsToCATemp(payload, &copyPath)) {
    AGLOG(AG_LOG_FAILURE, "CopyReportsToCATemp failed");
    return false;
  }
  if (!SetClientBlobData(DB_ID_CA_REPORT_DB_PATH, static_cast<uint32_t>(copyPath.size() + 1), copyPath.c_str())) {
    AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed for set CA report path");
  }
  const int64_t now = platform::GetClock().NowSeconds();
  if (!SetClientBlobData(DB_ID_LAST_DB_COPIED_TIME, sizeof(now), &now)) {
    AGLOG(AG_LOG_FAILURE, "SetClientBlobData failed for last DB copied time");
  }
  std::string resetJson;
  if (!GenerateJsonForReq(AIAV_ACTION_SET_REPORT_DB_RESET, 2, 2, respGen, &resetJson, &error)) {
    AGLOG(AG_LOG_FAILURE, "GenerateJsonForReq failed for AIAV_ACTION_SET_REPORT_DB_RESET.Error(%lu)",
          static_cast<unsigned long>(error));
  }
  if (!SendReportsInChunks(copyPath, respGen, rpClient)) {
    AGLOG(AG_LOG_FAILURE, "SendReportsInChunks Failed for CA report DB");
    if (uploadFailed != nullptr) *uploadFailed = true;
    return false;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

bool CopyReportsToCATemp(const Json::Value& payload, std::string* path) {
  AGLOG(AG_LOG_PROGRESS, "Entry.");
  try {
    if (path == nullptr || !payload.isObject() || payload.empty()) {
      AGLOG(AG_LOG_FAILURE, "Empty json object");
      return false;
    }
    const std::string productDb = payload["Path"].isString() ? payload["Path"].asString() : std::string();
    if (productDb.empty()) {
      AGLOG(AG_LOG_FAILURE, "strTempDBPath found empty");
      return false;
    }
    AGLOG(AG_LOG_PROGRESS, "after get");
    const std::optional<std::u16string> source = platform::Utf8ToUtf16(productDb);
    if (!source || source->size() >= kReportDbPathUnits) {
      AGLOG(AG_LOG_FAILURE, "ConvertUTF8ToWideChar failed");
      return false;
    }
    AGLOG(AG_LOG_PROGRESS, "before GetClientAgentTempDir");
    char16_t tempDir[kReportDbPathUnits] = {};
    if (!Siblings().support->GetClientAgentTempDir(tempDir, kReportDbPathUnits)) {
      AGLOG(AG_LOG_FAILURE, "GetClientAgentTempDir failed");
      return false;
    }
    AGLOG(AG_LOG_PROGRESS, "after GetClientAgentTempDir");
    std::u16string destination(tempDir, platform::U16Length(tempDir, kReportDbPathUnits));
    destination += kAgentReportDbName;
    AGLOGW(AG_LOG_VERBOSE, u"AV DB file path : %s", source->c_str());
    AGLOGW(AG_LOG_VERBOSE, u"CA DB file path : %s", destination.c_str());
    if (destination.size() >= kReportDbPathUnits) {
      AGLOG(AG_LOG_FAILURE, "CopyFileW failed.Error(%lu)", static_cast<unsigned long>(kErrorFilenameTooLong));
      return false;
    }
    const std::optional<std::string> target = platform::Utf16ToUtf8(destination);
    std::error_code ec;
    if (target) {
      std::filesystem::copy_file(productDb, *target, std::filesystem::copy_options::overwrite_existing, ec);
    }
    if (!target || ec) {
      AGLOG(AG_LOG_FAILURE, "CopyFileW failed.Error(%lu)",
            static_cast<unsigned long>(platform::ErrorFromErrno(ec ? ec.value() : EINVAL)));
      return false;
    }
    // The copy holds the product's reports until they are uploaded: only the
    // agent may read it, whatever the product's own file allowed.
    std::filesystem::permissions(*target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 ec);
    *path = *target;
    return true;
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Unknown exception occured");
    return false;
  }
}

bool SendReportsInChunks(const std::string& path, ICAResponseGen* respGen, IRPClient* rpClient) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  ReportDbInfo info{};
  uint32_t recordCount = 0;
  if (!GetClientBlobData(DB_ID_REPORT_RECORD_COUNT, sizeof(recordCount), &recordCount) || recordCount == 0) {
    recordCount = kDefaultReportRecordCount;
  }
  info.dwRecordCount = recordCount;
  const std::optional<std::u16string> widePath = platform::Utf8ToUtf16(path);
  if (!widePath || !platform::U16Copy(info.szDBPath, kReportDbPathUnits, *widePath)) {
    AGLOG(AG_LOG_PROGRESS, "End");
    return true;
  }
  const std::string infoJson = ReportDbInfoToJson(info);
  if (infoJson.empty()) {
    AGLOG(AG_LOG_FAILURE, "ToJson failed");
    return false;
  }
  bool result = true;
  for (;;) {
    uint32_t bits = 0;
    if (!RpGetThreadPassiveNotification(&bits)) {
      AGLOG(AG_LOG_FAILURE, "RpGetThreadPassiveNotification failed");
    } else if ((bits & CA_THREAD_PASSIVE_NOTIFICATION_CLIENT_UNREGISTER) != 0) {
      AGLOG(AG_LOG_PROGRESS, "Stop sending report as client is unregistered");
      return false;
    }
    std::string reportJson;
    if (!GenerateClientReportJson(respGen, infoJson, &reportJson)) break;
    AGLOG(AG_LOG_PROGRESS, "Sending client report...");
    const ClientDataRecord record{kReportChunkRecordType, 1, reportJson.c_str()};
    ServerResponse* response = nullptr;
    const bool sent = rpClient != nullptr && rpClient->SetClientData(&record, kClientReportDataId, &response, 1);
    if (sent) {
      CheckServerResponse(response);
      CheckConnStateAndNotifyAV();
    } else {
      AGLOG(AG_LOG_FAILURE, "SetClientData() failed.aborting report sending");
      result = false;
    }
    if (response != nullptr) rpClient->FreeServerResponse(response);
    if (!sent) break;
  }
  AGLOG(AG_LOG_PROGRESS, "End");
  return result;
}

void SetSendingRecoveryReportStatus(bool sent) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  char16_t productDir[kReportDbPathUnits] = {};
  if (!Siblings().preinst->AGPreInstGetAvInstallationPath(productDir, kReportDbPathUnits)) {
    AGLOG(AG_LOG_FAILURE, "AGPreInstGetAvInstallationPath failed");
    return;
  }
  std::u16string iniPath(productDir, platform::U16Length(productDir, kReportDbPathUnits));
  iniPath += kProductSectionIni;
  if (iniPath.size() >= kReportDbPathUnits) {
    AGLOG(AG_LOG_FAILURE, "StringCchCatW failed");
    return;
  }
  AGLOGW(AG_LOG_PROGRESS, u"Section.ini File Path(%S)", iniPath.c_str());
  const std::optional<std::string> iniUtf8 = platform::Utf16ToUtf8(iniPath);
  if (iniUtf8 && FileExists(*iniUtf8) &&
      !platform::WritePrivateProfileStringW(u"NATIVE_ENCRYPTION", u"recovery_key_sent", sent ? u"1" : u"0",
                                            iniPath.c_str())) {
    AGLOG(AG_LOG_FAILURE, "WritePrivateProfileStringW failed for INI_SECTION_NATIVE_ENCRYPTION");
  }
  AGLOG(AG_LOG_PROGRESS, "Exit");
}

bool ExecuteMachineInfo(const std::string& serverUrl, const std::string& subUrl, const std::string& port) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  const std::string url = "https://" + serverUrl + ":" + port;
  const std::string commandLine = "/logRequest " + Quoted(url) + " " + Quoted(port) + " " + Quoted(subUrl);
  AGLOG(AG_LOG_PROGRESS, "executing machineinfo from CA path.");
  const auto leave = [](bool result) {
    AGLOG_AS("ExecuteMachineInfo", AG_LOG_PROGRESS, "Exit.");
    return result;
  };
  char16_t rootDir[kReportDbPathUnits] = {};
  if (!Siblings().support->GetClientAgentRootDir(rootDir, kReportDbPathUnits)) {
    AGLOG(AG_LOG_FAILURE, "GetClientAgentRootDir() failed.");
    return leave(true);
  }
  std::u16string program(rootDir, platform::U16Length(rootDir, kReportDbPathUnits));
  program += kMachineInfoProgram;
  const std::optional<std::string> programUtf8 = platform::Utf16ToUtf8(program);
  if (program.size() >= kReportDbPathUnits || !programUtf8) {
    AGLOG(AG_LOG_FAILURE, "StringCchCat() failed, Exit.");
    return leave(true);
  }
  if (!FileExists(*programUtf8)) {
    AGLOG(AG_LOG_FAILURE, "Machine Info not found on CA path so skipp execution.");
    return leave(true);
  }
  AGLOG(AG_LOG_PROGRESS, "Machine Info Path:%s, Cmd Line:%s", programUtf8->c_str(), commandLine.c_str());
  // The collector is told the command line above word by word: the server's
  // texts stay one argument each, whatever quotes, blanks or ';' they hold.
  const platform::ShellStartResult started =
      platform::StartProgram(programUtf8->c_str(), {"/logRequest", url, port, subUrl}, false, nullptr);
  if (!started.ok) {
    AGLOG(AG_LOG_FAILURE, "PsShellExecFile failed with return Code %d.", static_cast<int>(started.error));
    return leave(false);
  }
  AGLOG(AG_LOG_PROGRESS, "PsShellExecFile Succeded.");
  return leave(true);
}
