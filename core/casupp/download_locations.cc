// Download locations of the protection product's build. The server's and the
// content-delivery network's location records are not kept by this suite yet:
// no location is known, so the heartbeat asks the server for them (task 13) and
// no installation starts without a build; the server address for log pulling
// comes from the tenant file.
#include "core/casupp/download_locations.h"

#include <cstdio>
#include <cstdlib>

#include "core/common/aglog.h"
#include "core/config/tenant_info.h"

bool GetUrlsforAVDownload(char* url1, char* url2, uint32_t size) {
  if (size > 0) {
    url1[0] = '\0';
    url2[0] = '\0';
  }
  return false;
}

bool GetBuildLocations(uint32_t /*kind*/, char* url1, char* url2, uint32_t size) {
  return GetUrlsforAVDownload(url1, url2, size);
}

bool IsBuildAvailable(uint32_t* buildKind) {
  *buildKind = 0;
  return true;
}

bool GetServerUrlFromDat(std::string* serverUrl, std::string* port) {
  CTenantInfo* tenant = CTenantInfo::getInstance(true);
  if (tenant == nullptr) {
    AGLOG(AG_LOG_FAILURE, "getInstance() failed.");
    return false;
  }
  char* url = nullptr;
  uint32_t* portNumber = nullptr;
  const bool found = tenant->GetTenantInfoOfGivenKey("csUrl", &url) && tenant->GetTenantInfoOfGivenKey("csPrtNo", &portNumber);
  if (found) {
    *serverUrl = url;
    char text[16];
    std::snprintf(text, sizeof(text), "%d", static_cast<int>(*portNumber));
    *port = text;
  }
  std::free(url);
  std::free(portNumber);
  CTenantInfo::release(tenant);
  return found;
}
