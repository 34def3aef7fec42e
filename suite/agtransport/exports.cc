// C exports of libagtransport (temporary: the objects are not made yet).
#include <agsuite/agmsg.h>

extern "C" {
AG_SUITE_EXPORT uint8_t CreateCSClientObject(ICSClient** ppCsClient, uint32_t* pdwError) {
  if (ppCsClient != nullptr) *ppCsClient = nullptr;
  if (pdwError != nullptr) *pdwError = 1;
  return 0;
}
AG_SUITE_EXPORT uint8_t CreateRPClientObject(ICSClient*, IRPClient** ppRpClient, uint32_t* pdwError, uint8_t) {
  if (ppRpClient != nullptr) *ppRpClient = nullptr;
  if (pdwError != nullptr) *pdwError = 1;
  return 0;
}
AG_SUITE_EXPORT uint8_t FreeRPClientObject(IRPClient*, uint32_t* pdwError) {
  if (pdwError != nullptr) *pdwError = 0;
  return 1;
}
}
