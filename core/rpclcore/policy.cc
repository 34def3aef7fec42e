// Policy exchange with the protection product. The product's policy
// interface is not part of this suite yet: the fetch and the local reset report
// failure (the task and the heartbeat log it and go on), and the modification
// check reports that it could not be made, which makes the heartbeat ask the
// server for the policy again.
#include "core/rpclcore/policy.h"

#include "core/common/aglog.h"

bool FetchAndApplyPolicy(IRPClient* /*rpClient*/) {
  AGLOG(AG_LOG_FAILURE, "Policy fetch is not available: the protection product has no policy interface");
  return false;
}

bool CheckIfPolicyModifedAtClient(bool* modified, std::string* policy) {
  *modified = false;
  policy->clear();
  AGLOG(AG_LOG_PASSED_OVER, "Policy check is not available: the protection product has no policy interface");
  return false;
}

bool ResetPolicyLocally(const std::string& /*policy*/) {
  AGLOG(AG_LOG_FAILURE, "Policy reset is not available: the protection product has no policy interface");
  return false;
}
