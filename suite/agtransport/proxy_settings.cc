#include <platform/utf.h>

#include <cstddef>
#include <cstring>

#include "suite/agtransport/support_environment.h"
#include "suite/agtransport/transport_log.h"

namespace agtransport {
namespace {

// The record is packed, so a field is read unit by unit into aligned storage.
std::optional<std::string> FieldText(const AgProxySettings& record, size_t offset, size_t units) {
  const char* bytes = reinterpret_cast<const char*>(&record) + offset;
  std::u16string text;
  for (size_t i = 0; i < units; ++i) {
    char16_t unit = 0;
    std::memcpy(&unit, bytes + i * sizeof(char16_t), sizeof(unit));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return platform::Utf16ToUtf8(text);
}

}  // namespace

std::optional<ProxySettings> ProxyFromRecord(const AgProxySettings& record) {
  if (record.bProxyEnabled == 0) return std::nullopt;
  const std::optional<std::string> host = FieldText(record, offsetof(AgProxySettings, szProxyServer), 260);
  const std::optional<std::string> user = FieldText(record, offsetof(AgProxySettings, szProxyUser), 256);
  const std::optional<std::string> password = FieldText(record, offsetof(AgProxySettings, szProxyPassword), 256);
  if (!host || !user || !password) {
    TLOG(AG_LOG_FAILURE, "proxy settings hold invalid UTF-16 text; connecting without a proxy");
    return std::nullopt;
  }
  if (host->empty()) {
    TLOG(AG_LOG_PASSED_OVER, "proxy enabled without a proxy server; connecting without a proxy");
    return std::nullopt;
  }
  ProxySettings settings;
  settings.host = *host;
  settings.port = record.dwProxyPort;
  settings.user = *user;
  settings.password = *password;
  return settings;
}

}  // namespace agtransport
