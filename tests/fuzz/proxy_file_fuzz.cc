// Fuzz target of "proxy.dat" as the transport reads it: the support library
// takes the file only when it is exactly one proxy record, and the transport
// turns the record's UTF-16 fields into settings or refuses them; whatever
// the bytes, no crash and no text longer than its field. The first byte picks
// whether the rest is the file as it is or fitted to one record (cut or
// padded with zeros), so that most inputs reach the record's fields.
#include <agsuite/agmisc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "suite/agtransport/support_environment.h"

namespace {

// UTF-8 of a field of `units` UTF-16 units: at most 3 bytes a unit.
constexpr size_t MaxUtf8(size_t units) { return 3 * units; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFolder scratch;
  static const std::string config = [] {
    if (AGMiscSetAgentRoot(scratch.Path().c_str()) == 0) std::abort();
    char16_t folder[1024] = {};
    if (GetClientAgentConfigDir(folder, 1024) == 0) std::abort();  // creates it
    return scratch.Path() + "config/";
  }();
  if (size == 0) return 0;
  std::vector<uint8_t> file(data + 1, data + size);
  if ((data[0] & 1) != 0) file.resize(sizeof(AgProxySettings), 0);
  fuzz::WriteWholeFile(config + "proxy.dat", file.data(), file.size());

  AgProxySettings record{};
  if (ReadProxySettings(&record) == 0) {
    if (file.size() == sizeof(AgProxySettings)) std::abort();  // one whole record is always taken
    return 0;
  }
  if (file.size() != sizeof(AgProxySettings)) std::abort();
  const auto proxy = agtransport::ProxyFromRecord(record);
  if (!proxy) return 0;
  if (record.bProxyEnabled == 0 || proxy->host.empty() || proxy->port != record.dwProxyPort) std::abort();
  if (proxy->host.size() > MaxUtf8(260) || proxy->user.size() > MaxUtf8(256) || proxy->password.size() > MaxUtf8(256)) {
    std::abort();
  }
  return 0;
}
