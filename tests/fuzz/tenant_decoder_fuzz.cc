// Feeds arbitrary bytes to the tenant-file decoder and, when they decrypt, to
// the store's JSON rule: neither may crash, read out of bounds or hang, and a
// decoded text always re-encodes to a file that decodes to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/config/tenant_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto plain = DecodeTenantFile(bytes);
  if (!plain) return 0;
  Json::Value root;
  (void)ParseTenantJson(*plain, &root);
  const auto again = DecodeTenantFile(EncodeTenantFile(*plain));
  // A decoded text is at most 1535 bytes, so its re-encoding always fits.
  if (again != plain) std::abort();
  return 0;
}
