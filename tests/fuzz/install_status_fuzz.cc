// libFuzzer target of the "INSTSTS.JSON" reader: the installer's status file
// as the agent reads it (its first 1,023 bytes, up to the first NUL). Any
// text gives an answer; nothing the JSON reader throws may escape.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/casupp/install_status_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size < 1023 ? size : 1023);
  text = text.substr(0, text.find('\0'));
  (void)ReadInstallStatusKeys(text);
  return 0;
}
