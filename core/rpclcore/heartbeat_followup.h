// The follow-up work of a heartbeat cycle of a registered client: the
// miscellaneous client information and the unified-agent status for the
// server, the consent check every second cycle, the protection product's
// installation with the throttled heartbeat while its download locations are
// awaited, the unified-agent upgrade and notifications, and the requeueing of
// the pending records kept in the client data store.
//
// Runs on the heartbeat thread with the thread's RP client object, the
// cycle's response generator and the thread's HeartbeatState.
#pragma once

#include <agsuite/agmsg.h>

struct HeartbeatState;
class CTaskQueue;

bool SendCAMiscInfo(IRPClient* rpClient, ICAResponseGen* respGen, ServerResponse** response);
bool GenerateUAStatusAndSendToCS(ICAResponseGen* respGen, IRPClient* rpClient);
void RpHeartbeatFollowUp(IRPClient* rpClient, ICAResponseGen* respGen, HeartbeatState* state);
// The reduced-heartbeat counter's maximum as the support library gives it
// now, or the last one read when it cannot; kept in the state.
uint32_t ReducedHeartbeatMaxCount(HeartbeatState* state);
// Leases the pending records of lists 14 and 15, as many as the task queue
// has room for, and queues a copy of each for the task performers as a new
// batch (see pending_send_backoff.h).
void RequeuePendingTasks();
void RequeuePendingTasksInto(CTaskQueue* queue);
