// Report uploads. The protection product's report database and the
// machine-information collector are not part of this suite yet: the senders
// report failure (the tasks log it and go on) and nothing is uploaded.
#include "core/rpclcore/reports.h"

#include "core/common/aglog.h"

bool SendClientReports(IRPClient* /*rpClient*/) {
  AGLOG(AG_LOG_FAILURE, "Report sending is not available: no report database to upload");
  return false;
}

bool SendClientRecoveryReport(IRPClient* /*rpClient*/, bool* sent) {
  *sent = false;
  AGLOG(AG_LOG_FAILURE, "Recovery report sending is not available: no report database to upload");
  return false;
}

bool SetSendingRecoveryReportStatus(uint32_t /*status*/) {
  AGLOG(AG_LOG_PASSED_OVER, "Recovery report status is not kept: no report database to upload");
  return false;
}

bool ExecuteMachineInfo(const std::string& serverUrl, const std::string& subUrl, const std::string& port) {
  AGLOG(AG_LOG_FAILURE, "Machine information collector is not available (Url:%s, SubUrl:%s, Port:%s)",
        serverUrl.c_str(), subUrl.c_str(), port.c_str());
  return false;
}
