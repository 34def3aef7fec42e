// The production environment: CA bundle, proxy and connection state through
// the support library (libagmisc).
#include <agsuite/agmisc.h>
#include <agsuite/agmisc_attempts.h>
#include <platform/utf.h>

#include <sys/stat.h>

#include "suite/agtransport/support_environment.h"
#include "suite/agtransport/transport_log.h"

namespace agtransport {
namespace {

constexpr uint32_t kFolderUnits = 260;

class AgmiscEnvironment final : public SupportEnvironment {
 public:
  std::string CaBundlePath() override {
    char16_t folder[kFolderUnits] = {};
    if (GetClientAgentConfigDir(folder, kFolderUnits) == 0) {
      TLOG(AG_LOG_PASSED_OVER, "GetClientAgentConfigDir failed; using the system CA store");
      return {};
    }
    const std::optional<std::string> folder_utf8 =
        platform::Utf16ToUtf8(std::u16string_view(folder, platform::U16Length(folder, kFolderUnits)));
    if (!folder_utf8) return {};
    std::string path = *folder_utf8 + "cacert.pem";
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return path;
  }

  std::optional<ProxySettings> ReadProxy() override {
    AgProxySettings record{};
    if (ReadProxySettings(&record) == 0) {
      TLOG(AG_LOG_PASSED_OVER, "ReadProxySettings failed; connecting without a proxy");
      return std::nullopt;
    }
    return ProxyFromRecord(record);
  }

  void ReportAttempt(int64_t seconds) override {
    if (SetLastAttemptTime(static_cast<uint64_t>(seconds)) == 0) TLOG(AG_LOG_PASSED_OVER, "SetLastAttemptTime failed");
  }

  void ReportConnectionState(uint32_t state) override {
    if (SetClientConnectionStatus(state) == 0) TLOG(AG_LOG_PASSED_OVER, "SetClientConnectionStatus(%u) failed", state);
  }
};

}  // namespace

SupportEnvironment& SupportLibraryEnvironment() {
  static AgmiscEnvironment environment;
  return environment;
}

}  // namespace agtransport
