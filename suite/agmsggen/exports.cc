#include <agsuite/agmsg.h>
extern "C" {
uint8_t CreateICSPMsgGenObj(ICSPMsgGen** ppObj) { if (ppObj) *ppObj = nullptr; return 0; }
uint8_t DeleteICSPMsgGenObj(ICSPMsgGen*) { return 1; }
}
