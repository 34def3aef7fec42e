// Policy fetch, modification check and local reset.
#pragma once

#include <agsuite/agmsg.h>

#include <string>

bool FetchAndApplyPolicy(IRPClient* rpClient);
// *modified is set when the product's policy differs from the server's;
// *policy then holds the policy to restore.
bool CheckIfPolicyModifedAtClient(bool* modified, std::string* policy);
bool ResetPolicyLocally(const std::string& policy);
