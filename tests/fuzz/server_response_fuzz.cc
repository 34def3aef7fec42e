// libFuzzer target for the transport's response parser: any body a server or
// relay could send must either become a well-formed ServerResponse (whose
// texts are NUL-terminated and within their bounds) or be refused with a
// reason; never a crash, a leak or unbounded work.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "suite/agtransport/limits.h"
#include "suite/agtransport/server_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  std::string error;
  ServerResponse* response = agtransport::ParseServerResponse(body, &error);
  if (response == nullptr) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (response->bSuccess > 1) std::abort();
  if ((response->dwErrorCount == 0) != (response->pErrorCodes == nullptr)) std::abort();
  if ((response->dwCommandCount == 0) != (response->pCommands == nullptr)) std::abort();
  for (uint32_t i = 0; i < response->dwCommandCount; ++i) {
    const ServerCommandEntry& entry = response->pCommands[i];
    if (entry.pszCmdGuid == nullptr || entry.pszCommandJson == nullptr) std::abort();
    if (std::strlen(entry.pszCmdGuid) > agtransport::kMaxCommandGuidChars) std::abort();
    if (entry.pszCommandJson[0] != '{') std::abort();
  }
  agtransport::ReleaseServerResponse(response);
  return 0;
}
