// Client identities and connection state of the library's C interface: the
// client GUID and UDI, registration and connection status, the last
// connected time (all kept in the client data store) and the tenant id form
// handed to the protection product.
#include <agsuite/agmisc.h>
#include <agsuite/agmisc_attempts.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "agmisc_log.h"
#include "client_value_names.h"
#include "store_pool.h"

using agmisc::ClientStore;
using agmisc::kConnectionStatusValue;
using agmisc::kGuidValue;
using agmisc::kLastAttemptValue;
using agmisc::kLastConnectedValue;
using agmisc::kUdiValue;
using agmisc::ReadResult;

namespace {

// Store ids of the registration status entries (4 bytes each).
constexpr uint32_t kServerRegStatusId = 25;
constexpr uint32_t kRelayRegStatusId = 63;

// The agent keeps its GUID and UDI in 100-byte buffers.
constexpr size_t kMaxIdentityLength = 99;
constexpr uint32_t kMaxConnectionStatus = 2;

bool StoreText(const char* name, const char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  const size_t length = std::strlen(text);
  if (length > kMaxIdentityLength) {
    AGMISC_LOG(AG_LOG_FAILURE, "%s of %zu characters is longer than %zu", name, length, kMaxIdentityLength);
    return false;
  }
  return agmisc::WithStore(
      [&](ClientStore& store) { return store.SetValue(name, text, static_cast<uint32_t>(length), true); });
}

// An empty buffer and true when nothing was ever stored; false (with an empty
// buffer) when the store cannot be read or the value does not fit. Callers
// tell the two apart: only a value that was never stored may be generated.
bool LoadText(const char* name, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  std::vector<uint8_t> bytes;
  ReadResult result = ReadResult::kFailed;
  if (!agmisc::WithStore([&](ClientStore& store) {
        result = store.GetValue(name, &bytes);
        return result != ReadResult::kFailed;
      })) {
    AGMISC_LOG(AG_LOG_FAILURE, "%s cannot be read from the client data store", name);
    return false;
  }
  if (result == ReadResult::kMissing) return true;
  if (bytes.size() >= size) {
    AGMISC_LOG(AG_LOG_FAILURE, "%s of %zu characters does not fit %u bytes", name, bytes.size(), size);
    return false;
  }
  std::memcpy(buffer, bytes.data(), bytes.size());
  buffer[bytes.size()] = '\0';
  return true;
}

// A value never stored reads as `fallback`.
template <typename T>
bool LoadNumber(const char* name, T fallback, T* value) {
  if (value == nullptr) return false;
  std::vector<uint8_t> bytes;
  ReadResult result = ReadResult::kFailed;
  if (!agmisc::WithStore([&](ClientStore& store) {
        result = store.GetValue(name, &bytes);
        return result != ReadResult::kFailed;
      })) {
    return false;
  }
  if (result == ReadResult::kMissing) {
    *value = fallback;
    return true;
  }
  if (bytes.size() != sizeof(T)) {
    AGMISC_LOG(AG_LOG_FAILURE, "%s holds %zu bytes, not %zu", name, bytes.size(), sizeof(T));
    return false;
  }
  std::memcpy(value, bytes.data(), sizeof(T));
  return true;
}

// The connection figures are written around nearly every request and are
// only shown to operators: not synced, so that no request waits for the
// disk, and not written again while they hold the same value (a burst of
// acknowledgements within one second would otherwise cost two write
// transactions each).
template <typename T>
bool StoreNumber(const char* name, T value) {
  return agmisc::SetValueUnlessWritten(name, &value, sizeof(value));
}

}  // namespace

extern "C" {

uint8_t GetClientGUID(char* buffer, uint32_t size) { return LoadText(kGuidValue, buffer, size) ? 1 : 0; }
uint8_t GetClientGUIDText(char* buffer, uint32_t size) { return LoadText(kGuidValue, buffer, size) ? 1 : 0; }
uint8_t SetClientGUID(const char* guid) { return StoreText(kGuidValue, guid) ? 1 : 0; }
uint8_t GetClientUDI(char* buffer, uint32_t size) { return LoadText(kUdiValue, buffer, size) ? 1 : 0; }
uint8_t SetClientUDI(const char* udi) { return StoreText(kUdiValue, udi) ? 1 : 0; }

// The tenant id goes to the protection product as the lowercase hexadecimal
// SHA-256 of its UTF-8 text: deterministic, so both sides can compare it,
// and not reversible.
uint8_t EncryptTenantId(const char* tenantId, char* buffer, uint32_t size) {
  constexpr uint32_t kHexDigestSize = 2 * 32 + 1;
  if (tenantId == nullptr || tenantId[0] == '\0' || buffer == nullptr || size < kHexDigestSize) return 0;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  if (EVP_Digest(tenantId, std::strlen(tenantId), digest, &digest_size, EVP_sha256(), nullptr) != 1) {
    AGMISC_LOG(AG_LOG_FAILURE, "SHA-256 of the tenant id failed");
    return 0;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < digest_size; ++i) {
    buffer[2 * i] = kHex[digest[i] >> 4];
    buffer[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  buffer[2 * digest_size] = '\0';
  return 1;
}

uint8_t GetClientRegStatus(uint32_t* status, uint8_t relay) {
  if (status == nullptr) return 0;
  const uint32_t id = relay != 0 ? kRelayRegStatusId : kServerRegStatusId;
  ReadResult result = ReadResult::kFailed;
  uint32_t stored = 0;
  if (!agmisc::WithStore([&](ClientStore& store) {
        result = store.GetEntry(id, CL_DATA_TYPE_BLOB, sizeof(stored), &stored);
        return result != ReadResult::kFailed;
      })) {
    return 0;
  }
  // Never stored: the client has not registered yet.
  *status = result == ReadResult::kFound ? stored : 0;
  return 1;
}

uint8_t SetClientRegStatus(uint32_t status, uint8_t relay) {
  const uint32_t id = relay != 0 ? kRelayRegStatusId : kServerRegStatusId;
  return agmisc::WithStore([&](ClientStore& store) {
           return store.SetEntry(id, CL_DATA_TYPE_BLOB, sizeof(status), &status);
         })
             ? 1
             : 0;
}

uint8_t GetClientConnectionStatus(uint32_t* state) {
  return LoadNumber<uint32_t>(kConnectionStatusValue, 0, state) ? 1 : 0;
}

uint8_t SetClientConnectionStatus(uint32_t state) {
  if (state > kMaxConnectionStatus) {
    AGMISC_LOG(AG_LOG_FAILURE, "Connection status %u is not known", state);
    return 0;
  }
  return StoreNumber(kConnectionStatusValue, state) ? 1 : 0;
}

uint8_t SetLastConnectedTime(uint64_t secondsSince1970) {
  return StoreNumber(kLastConnectedValue, secondsSince1970) ? 1 : 0;
}

uint8_t SetLastAttemptTime(uint64_t secondsSince1970) {
  return StoreNumber(kLastAttemptValue, secondsSince1970) ? 1 : 0;
}

}  // extern "C"
