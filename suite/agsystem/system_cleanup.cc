// The system library holds no resources of its own on this platform: its
// clean-up entry only reports that all went well, so the core's status word
// reaches the RP client library as "fine".
#include <agsuite/agsystem.h>

void SystemCleanUpCall(uint32_t* pdwStatus) {
  if (pdwStatus != nullptr) *pdwStatus = 0;
}
