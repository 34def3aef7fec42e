#include <agsuite/agmsg.h>
extern "C" {
uint8_t CreateCAResponseGenObjNew(ICAResponseGen** ppObj, PFN_NOTIFY_CLIENT_CORE) { if (ppObj) *ppObj = nullptr; return 0; }
uint8_t DeleteCAResponseGenObj(ICAResponseGen*) { return 1; }
uint8_t HandleClientAgentCoreStartup(PFN_NOTIFY_CLIENT_CORE) { return 1; }
uint8_t HandleClientAgentCoreCleanup() { return 1; }
uint8_t StopAvMessageHandlerThread() { return 1; }
}
