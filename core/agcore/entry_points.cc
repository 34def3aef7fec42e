// The two exports: their "Entry" line and argument checks; the sequences
// themselves are in startup.cc and cleanup.cc.
#include "core/agcore/entry_points.h"

#include "core/agcore/core_state.h"
#include "core/agcore/lifecycle.h"
#include "core/common/aglog.h"

namespace {

constexpr uint32_t kConnectionTypeDirect = 0;
constexpr uint32_t kConnectionTypeCertificate = 1;
constexpr uint32_t kConnectionTypeCertificateRelay = 2;

}  // namespace

uint8_t ClientAgentCoreStartUp(const char* certFile, const char* keyFile, const char16_t* wideText, const char* text,
                               uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint64_t /*unused*/, uint32_t e,
                               uint32_t f, uint32_t g, uint32_t h, uint8_t flag, uint32_t connectionType) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  // The client-store counter lock lives as long as the process (core_state.cc),
  // so it is usable before the checks without being initialised here.

  if ((connectionType == kConnectionTypeCertificate || connectionType == kConnectionTypeCertificateRelay) &&
      (certFile == nullptr || keyFile == nullptr)) {
    AGLOG(AG_LOG_FAILURE, "NULL Parameter received (Certificate file, Key File)");
    AGLOG(AG_LOG_FAILURE, "Exit failed");
    return 0;
  }
  if (connectionType != kConnectionTypeDirect && connectionType != kConnectionTypeCertificate &&
      connectionType != kConnectionTypeCertificateRelay) {
    AGLOG(AG_LOG_FAILURE, "Invalid Connection type");
    AGLOG(AG_LOG_FAILURE, "Exit failed");
    return 0;
  }
  if (text == nullptr || wideText == nullptr) {
    AGLOG(AG_LOG_FAILURE, "NULL Parameter received");
    AGLOG(AG_LOG_FAILURE, "Exit failed");
    return 0;
  }

  CaCoreParam args{};
  args.pszCertificateFile = certFile;
  args.pszKeyFile = keyFile;
  args.pszText = text;
  args.pwszText = wideText;
  args.wValueA = a;
  args.wValueB = b;
  args.wValueC = c;
  args.wValueD = d;
  args.dwValueE = e;
  args.dwValueF = f;
  args.dwValueG = g;
  args.dwValueH = h;
  args.byFlag = flag;
  args.dwConnectionType = connectionType;
  return RunClientAgentCoreStartUp(args) ? 1 : 0;
}

uint8_t ClientAgentCoreCleanUp(void* p1, void* p2, void* p3, void* p4, uintptr_t /*x5*/, uintptr_t /*x6*/,
                               uintptr_t /*x7*/, uintptr_t /*x8*/, uintptr_t /*x9*/, uint8_t bNotifyOffline) {
  AGLOG(AG_LOG_PROGRESS, "Entry");
  if (p1 == nullptr || p2 == nullptr || p3 == nullptr || p4 == nullptr) {
    AGLOG(AG_LOG_PROGRESS, "NULL  parameter received.");
    return 0;
  }
  RunClientAgentCoreCleanUp(bNotifyOffline);
  return 1;
}
