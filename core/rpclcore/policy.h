// The policy as the agent brokers it between the server and the protection
// product: the modification check (does the product's policy still match what
// the server assigned?), the local reset of modified features, and the fetch
// that reports the policy state to the server and applies and acknowledges
// the policy command in its answer.
//
// The modification check and the reset run on the heartbeat thread with the
// cycle's response generator; the fetch runs on a task-performer thread
// (task 5) with that thread's RP client object.
#pragma once

#include <agsuite/agmsg.h>

#include <string>

inline constexpr uint32_t kFirstPolicyCheckWaitMs = 30000;

// *modified is set when some policy feature differs at the client;
// *featureIds then holds their ids as a JSON array ("[3,7]"). False only when
// the policy state could not be obtained.
bool CheckIfPolicyModifedAtClient(ICAResponseGen* respGen, bool* modified, std::string* featureIds);
bool ResetPolicyLocally(ICAResponseGen* respGen, const std::string& featureIds);
bool FetchAndApplyPolicy(IRPClient* rpClient);

// The first check after the library is loaded treats every feature as
// modified and answers after a 30-second wait. Start-up re-arms it, so a
// service that starts the core again behaves as after a fresh load.
void ResetFirstPolicyCheckFlag();
