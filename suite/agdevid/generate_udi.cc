// The device identifier is derived from the machine id the OS keeps for the
// life of an installation (systemd's /etc/machine-id, else D-Bus's copy, else
// the host name). The raw machine id is never handed out: it is hashed
// together with a name of our own, as machine-id(5) asks of applications, so
// the identifier is stable for this machine yet tells nobody its machine id.
// Result: 64 lowercase hexadecimal characters (SHA-256).
#include <agsuite/agdevid.h>
#include <openssl/sha.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <type_traits>

namespace {

constexpr uint16_t kStatusOk = 0;
constexpr uint16_t kStatusBadArgument = 87;       // as ERROR_INVALID_PARAMETER
constexpr uint16_t kStatusBufferTooSmall = 122;   // as ERROR_INSUFFICIENT_BUFFER
constexpr uint16_t kStatusNoMachineId = 2;        // as ERROR_FILE_NOT_FOUND
constexpr const char* kIdentifierSalt = "vornex-agent-udi:";

std::string FirstLineOf(const char* path) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string MachineIdentity() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::string id = FirstLineOf(path);
    if (!id.empty()) return id;
  }
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') return host;
  return {};
}

std::string HexSha256(const std::string& text) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0F];
  }
  return hex;
}

}  // namespace

// `*pLength` holds the buffer size on entry. On success it holds the length
// of the text written (without its terminator). When the buffer is too small
// nothing is written and `*pLength` holds the size needed, terminator included.
extern "C" __attribute__((visibility("default"))) uint16_t GeneratUDI(char* buffer, int32_t* pLength) {
  static_assert(std::is_same_v<decltype(&GeneratUDI), PFN_GENERATE_UDI>);
  if (buffer == nullptr || pLength == nullptr || *pLength <= 0) return kStatusBadArgument;
  const std::string identity = MachineIdentity();
  if (identity.empty()) return kStatusNoMachineId;
  const std::string udi = HexSha256(kIdentifierSalt + identity);
  const auto needed = static_cast<int32_t>(udi.size() + 1);
  if (*pLength < needed) {
    *pLength = needed;
    return kStatusBufferTooSmall;
  }
  std::memcpy(buffer, udi.c_str(), udi.size() + 1);
  *pLength = static_cast<int32_t>(udi.size());
  return kStatusOk;
}
