#include "status_digest.h"

#include <openssl/evp.h>

#include "client_store.h"
#include "resp_log.h"

namespace agresp {

Md5Digest Md5Of(const std::string& text) {
  Md5Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) digest.fill(0);
  return digest;
}

std::optional<uint32_t> DigestSlotFor(uint32_t dataId) {
  switch (dataId) {
    case 9: return 21;
    case 101: return 17;
    case 102: return 19;
    case 19: return 23;
    default: return std::nullopt;
  }
}

bool StatusChanged(ClientStore& store, uint32_t slot, const std::string& payload) {
  if (!store.IsOpen()) return true;
  const Md5Digest current = Md5Of(payload);
  Md5Digest stored{};
  if (!store.Read(slot, stored.size(), stored.data())) stored.fill(0);
  if (stored == current) {
    RESPLOG(AG_LOG_VERBOSE, "Status of slot %u unchanged; not sent again.", slot);
    return false;
  }
  if (!store.Write(slot + 1, stored.size(), stored.data()) || !store.Write(slot, current.size(), current.data())) {
    RESPLOG(AG_LOG_FAILURE, "Storing the status digest of slot %u failed", slot);
  }
  return true;
}

}  // namespace agresp
