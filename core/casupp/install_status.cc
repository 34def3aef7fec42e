// Installation-status reporting. The installer's status file is not produced
// by this suite yet: sending reports failure (task 8 logs it and goes on) and
// nothing is pending.
#include "core/casupp/install_status.h"

#include "core/common/aglog.h"

bool SendAVInstallationStatus(IRPClient* /*rpClient*/, uint32_t actionId) {
  AGLOG(AG_LOG_FAILURE, "Installation status reporting is not available (action %lu)",
        static_cast<unsigned long>(actionId));
  return false;
}

bool CheckAvInstStatusPending() { return false; }

bool RecordMinorUpgradeInstallInfo(const std::u16string& /*statusFilePath*/) {
  AGLOG(AG_LOG_FAILURE, "Minor-upgrade installation information is not recorded in this build");
  return false;
}
