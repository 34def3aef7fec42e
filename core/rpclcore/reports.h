// Report uploads: the protection product's report database is copied into the
// agent's temporary folder ("carpt.db"), the product resets its own, and the
// copy goes to the server in chunks. A copy whose upload failed stays behind
// and goes first next time unless it is more than a day old. Also the launcher
// of the machine-information collector for the server's log requests.
//
// The uploads run on the task-performer threads (tasks 7 and 16); the report
// lock lets one upload run at a time and refuses, not queues, a second one.
// ExecuteMachineInfo runs on the heartbeat thread.
#pragma once

#include <agsuite/agmsg.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <json/json.h>

inline constexpr uint32_t kReportDbPathUnits = 260;
inline constexpr uint32_t kDefaultReportRecordCount = 100;
inline constexpr int64_t kReportCopyExpirySeconds = 86400;

// What the messaging libraries are told about a database to upload.
#pragma pack(push, 1)
struct ReportDbInfo {
  uint32_t dwRecordCount;                   // records per chunk
  char16_t szDBPath[kReportDbPathUnits];   // the database file
};
#pragma pack(pop)
static_assert(sizeof(ReportDbInfo) == 524);
static_assert(offsetof(ReportDbInfo, szDBPath) == 4);

// {"RecordCount": n, "DBPath": "<path as UTF-8>"} as compact text; empty when
// the path is not valid UTF-16.
std::string ReportDbInfoToJson(const ReportDbInfo& info);

bool SendClientReports(IRPClient* rpClient);
bool SendClientRecoveryReport(IRPClient* rpClient, bool* sent);
bool SendReportFromCADB(ICAResponseGen* respGen, IRPClient* rpClient, bool* expired, bool checkExpiry);
bool CopyAndSendUpdatedAVDB(ICAResponseGen* respGen, IRPClient* rpClient, bool* uploadFailed);
bool CopyReportsToCATemp(const Json::Value& payload, std::string* path);
bool SendReportsInChunks(const std::string& path, ICAResponseGen* respGen, IRPClient* rpClient);
void SetSendingRecoveryReportStatus(bool sent);
bool ExecuteMachineInfo(const std::string& serverUrl, const std::string& subUrl, const std::string& port);
