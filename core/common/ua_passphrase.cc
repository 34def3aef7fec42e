// The two GUID texts are kept as masked groups and joined only in a local
// buffer while a passphrase is derived, so neither text lies whole in the
// binary or in memory between two subscriptions.
#include "core/common/ua_passphrase.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <cstring>

namespace {

constexpr int kIterations = 4096;
constexpr size_t kDerivedBytes = 32;
constexpr size_t kGuidTextLength = 36;
// Characters 10 to 17 (counting from 1) of the first GUID text: its second
// group, the hyphen after it and three characters of the third group.
constexpr size_t kSaltOffset = 9;
constexpr size_t kSaltLength = 8;
constexpr char kGroupMask = 0x5A;

// One GUID text as its five groups (8-4-4-4-12 hexadecimal digits), each
// character XOR kGroupMask.
struct MaskedGuid {
  std::array<std::array<char, 12>, 5> groups;
  std::array<size_t, 5> lengths;
};

constexpr std::array<char, 12> Mask(const char* text) {
  std::array<char, 12> masked{};
  for (size_t i = 0; i < masked.size() && text[i] != '\0'; ++i) masked[i] = static_cast<char>(text[i] ^ kGroupMask);
  return masked;
}

constexpr MaskedGuid kSaltGuid = {{Mask("6b1f3c8e"), Mask("4a2d"), Mask("4e97"), Mask("b5c0"), Mask("9d7e12a8f364")},
                                  {8, 4, 4, 4, 12}};
constexpr MaskedGuid kPasswordGuid = {
    {Mask("d93a7e05"), Mask("c1b4"), Mask("4f68"), Mask("8a2e"), Mask("5f0b63c9d71a")}, {8, 4, 4, 4, 12}};

// Writes the 36 characters and a NUL into `text`.
void AssembleGuidText(const MaskedGuid& guid, char (&text)[kGuidTextLength + 1]) {
  size_t at = 0;
  for (size_t g = 0; g < guid.groups.size(); ++g) {
    if (g != 0) text[at++] = '-';
    for (size_t i = 0; i < guid.lengths[g]; ++i) text[at++] = static_cast<char>(guid.groups[g][i] ^ kGroupMask);
  }
  text[at] = '\0';
}

}  // namespace

uint32_t DeriveUAPassphrase(const char* password, const char* salt, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0 || password == nullptr || salt == nullptr) return UA_PASSPHRASE_INVALID_BUFFER;
  unsigned char derived[kDerivedBytes] = {};
  if (PKCS5_PBKDF2_HMAC(password, static_cast<int>(std::strlen(password)),
                        reinterpret_cast<const unsigned char*>(salt), static_cast<int>(std::strlen(salt)),
                        kIterations, EVP_sha256(), sizeof derived, derived) != 1) {
    return UA_PASSPHRASE_ALLOCATION_FAILED;
  }
  // EVP_EncodeBlock writes no line breaks and a NUL after the 44 characters.
  unsigned char encoded[UA_PASSPHRASE_LENGTH + 1] = {};
  const int length = EVP_EncodeBlock(encoded, derived, sizeof derived);
  OPENSSL_cleanse(derived, sizeof derived);
  uint32_t result = UA_PASSPHRASE_ENCODING_FAILED;
  if (length == static_cast<int>(UA_PASSPHRASE_LENGTH) && size > UA_PASSPHRASE_LENGTH) {
    std::memcpy(buffer, encoded, UA_PASSPHRASE_LENGTH + 1);
    result = UA_PASSPHRASE_SUCCESS;
  }
  OPENSSL_cleanse(encoded, sizeof encoded);
  return result;
}

uint32_t GenerateUAPassphrase(char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return UA_PASSPHRASE_INVALID_BUFFER;
  char first[kGuidTextLength + 1];
  char password[kGuidTextLength + 1];
  AssembleGuidText(kSaltGuid, first);
  AssembleGuidText(kPasswordGuid, password);
  char salt[kSaltLength + 1] = {};
  std::memcpy(salt, first + kSaltOffset, kSaltLength);
  OPENSSL_cleanse(first, sizeof first);
  const uint32_t result = DeriveUAPassphrase(password, salt, buffer, size);
  OPENSSL_cleanse(password, sizeof password);
  OPENSSL_cleanse(salt, sizeof salt);
  return result;
}
