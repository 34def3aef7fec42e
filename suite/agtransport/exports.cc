// C exports of libagtransport: the CS client and RP client objects.
#include <agsuite/agmsg.h>

#include <new>

#include "suite/agtransport/rp_client.h"
#include "suite/agtransport/transport_log.h"

namespace {

// Error codes handed back through the exports' out-parameters.
constexpr uint32_t kErrorNone = 0;
constexpr uint32_t kErrorInvalidArgument = 87;
constexpr uint32_t kErrorNoResources = 8;

void SetError(uint32_t* slot, uint32_t code) {
  if (slot != nullptr) *slot = code;
}

}  // namespace

extern "C" {

AG_SUITE_EXPORT uint8_t CreateCSClientObject(ICSClient** ppCsClient, uint32_t* pdwError) {
  if (ppCsClient == nullptr) {
    TLOG(AG_LOG_FAILURE, "no object slot given");
    SetError(pdwError, kErrorInvalidArgument);
    return 0;
  }
  *ppCsClient = &agtransport::CsClient::Instance();
  SetError(pdwError, kErrorNone);
  return 1;
}

AG_SUITE_EXPORT uint8_t CreateRPClientObject(ICSClient* pCsClient, IRPClient** ppRpClient, uint32_t* pdwError,
                                             uint8_t onPrem) {
  if (ppRpClient != nullptr) *ppRpClient = nullptr;
  if (pCsClient != &agtransport::CsClient::Instance() || ppRpClient == nullptr) {
    TLOG(AG_LOG_FAILURE, "no CS client object of this library, or no object slot given");
    SetError(pdwError, kErrorInvalidArgument);
    return 0;
  }
  agtransport::RpClient::Options options;
  options.timeouts = agtransport::CurrentTimeouts();
  options.on_premises = onPrem != 0;
  auto* client = new (std::nothrow) agtransport::RpClient(agtransport::SupportLibraryEnvironment(), options);
  if (client == nullptr || !client->valid()) {
    TLOG(AG_LOG_FAILURE, "could not create the RP client (libcurl handle)");
    delete client;
    SetError(pdwError, kErrorNoResources);
    return 0;
  }
  *ppRpClient = client;
  SetError(pdwError, kErrorNone);
  return 1;
}

AG_SUITE_EXPORT uint8_t FreeRPClientObject(IRPClient* pRpClient, uint32_t* pdwError) {
  if (pRpClient == nullptr) {
    TLOG(AG_LOG_FAILURE, "no RP client object given");
    SetError(pdwError, kErrorInvalidArgument);
    return 0;
  }
  delete static_cast<agtransport::RpClient*>(pRpClient);
  SetError(pdwError, kErrorNone);
  return 1;
}

}  // extern "C"
