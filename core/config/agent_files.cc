#include "core/config/agent_files.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "core/common/agadv_ini.h"
#include "core/common/aglog.h"
#include "core/config/otp_file.h"
#include "core/config/paths.h"
#include "core/config/tenant_info.h"
#include "core/siblings/siblings.h"
#include "platform/ini.h"

namespace {

constexpr size_t kMaxPathBytes = 260;
// What the safe string calls report for a text that does not fit.
constexpr uint32_t kStrSafeInsufficientBuffer = 0x8007007Au;
constexpr uint32_t kConnectionRoaming = 2;

}  // namespace

bool GetOSQueryStatus(uint32_t* value) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (value == nullptr) return false;
  std::u16string iniPath;
  if (!GetAgAdvIniPath(&iniPath)) return false;
  *value = platform::GetPrivateProfileIntW(kAvConfigFlagsSection, u"iosquerysts", 0, iniPath.c_str());
  AGLOG(AG_LOG_PROGRESS, "dwOSQueryStatus :- %d", static_cast<int>(*value));
  AGLOG(AG_LOG_PROGRESS, "End");
  return true;
}

std::string GetLastAppliedOTP() {
  AGLOG(AG_LOG_PROGRESS, "Start");
  try {
    char folder[kMaxPathBytes] = {};
    if (!CFGetVornexPath(folder, sizeof(folder))) {
      AGLOG(AG_LOG_FAILURE, "CFGetVornexPath Failed");
      return {};
    }
    const std::string otpPath = std::string(folder) + "dcotp.ini";
    if (otpPath.size() >= kMaxPathBytes) {
      AGLOG(AG_LOG_FAILURE, "StringCchCat failed for %s (0x%08X)", "dcotp.ini", kStrSafeInsufficientBuffer);
      return {};
    }
    std::ifstream file(otpPath, std::ios::binary);
    std::string content(kOtpFileMaxBytes + 1, '\0');
    if (file) file.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file && !file.eof()) {
      AGLOG(AG_LOG_FAILURE, "OTP file is not present or Error Reading OTP file.");
      return {};
    }
    content.resize(static_cast<size_t>(file.gcount()));
    if (content.size() > kOtpFileMaxBytes) {
      AGLOG(AG_LOG_FAILURE, "OTP file is not present or Error Reading OTP file.");
      return {};
    }
    std::string otp;
    switch (OtpFromFileText(content, &otp)) {
      case OtpTextResult::kFound:
        return otp;
      case OtpTextResult::kNoMarker:
        AGLOG(AG_LOG_FAILURE, "OTP is invalid as not found the identifyer.");
        return {};
      case OtpTextResult::kTooShort:
        throw std::out_of_range("OTP shorter than its fixed length");
    }
    return {};
  } catch (const std::exception&) {
    AGLOG(AG_LOG_FAILURE, "Std exception found in GetLastAppliedOTP");
  } catch (...) {
    AGLOG(AG_LOG_FAILURE, "Global exception found in GetLastAppliedOTP");
  }
  return {};
}

bool GetLogPullingInfoFromDat(std::string* host, std::string* port, std::string* appName) {
  AGLOG(AG_LOG_PROGRESS, "Start");
  if (host == nullptr || port == nullptr || appName == nullptr) return false;
  ScopedTenantInfo tenant(true);
  if (!tenant) {
    AGLOG(AG_LOG_FAILURE, "getInstance() failed.");
    return false;
  }

  uint32_t state = 0;
  if (!Siblings().support->GetClientConnectionStatus(&state)) {
    AGLOG(AG_LOG_PROGRESS, "GetClientConnectionStatus failed");
  }
  const char* hostKey = "csUrl";
  const char* portKey = "csPrtNo";
  if (state == kConnectionRoaming) {
    AGLOG(AG_LOG_PROGRESS, "End point is in Roaming.");
    hostKey = "rpIP";
    portKey = "rpPrtNo";
  }

  TenantInfoValue<char> hostValue;
  if (!tenant->GetTenantInfoOfGivenKey(hostKey, &hostValue.value)) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for IP Address.");
    return false;
  }
  TenantInfoValue<uint32_t> portValue;
  if (!tenant->GetTenantInfoOfGivenKey(portKey, &portValue.value)) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for port no.");
    return false;
  }
  TenantInfoValue<char> appValue;
  if (!tenant->GetTenantInfoOfGivenKey("csAppNm", &appValue.value)) {
    AGLOG(AG_LOG_FAILURE, "GetTenantInfoOfGivenKey() failed for app name.");
    return false;
  }

  *host = hostValue.value;
  *appName = appValue.value;
  char portText[40] = {};
  snprintf(portText, sizeof(portText), "%d", static_cast<int>(*portValue.value));
  *port = portText;
  AGLOG(AG_LOG_PROGRESS, "Exit.");
  return true;
}
