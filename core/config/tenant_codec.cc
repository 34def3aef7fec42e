// Tenant file codec. The low-level Blowfish calls are deprecated in OpenSSL 3
// but, unlike the EVP cipher "bf-ecb", need no legacy provider to be loaded;
// the file format is fixed, so the block cipher is all we need.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "core/config/tenant_codec.h"

#include <openssl/blowfish.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kBlockSize = 8;
constexpr uint8_t kMaxPad = 8;

// The 16-byte key as the agent carries it. The key schedule gets the decoded
// bytes followed directly by this text, measured up to the first zero byte:
// these 16 bytes hold no zero, so the effective key is 40 bytes long.
constexpr char kKeyText[] = "XJE+pxjSa/AnhMk6fhW2TQ==";
constexpr size_t kKeyTextLength = sizeof(kKeyText) - 1;
constexpr size_t kDecodedKeyLength = 16;
static_assert(kKeyTextLength == 24);

// Base64 decoder that accepts line breaks and "=" padding; nullopt on any
// character outside the alphabet or data after the padding.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
  std::vector<uint8_t> out(text.size() / 4 * 3 + 3);
  EVP_ENCODE_CTX* ctx = EVP_ENCODE_CTX_new();
  if (ctx == nullptr) return std::nullopt;
  EVP_DecodeInit(ctx);
  int produced = 0;
  int tail = 0;
  const bool ok =
      EVP_DecodeUpdate(ctx, out.data(), &produced, reinterpret_cast<const unsigned char*>(text.data()),
                       static_cast<int>(text.size())) >= 0 &&
      EVP_DecodeFinal(ctx, out.data() + produced, &tail) == 1;
  EVP_ENCODE_CTX_free(ctx);
  if (!ok) return std::nullopt;
  out.resize(static_cast<size_t>(produced) + static_cast<size_t>(tail));
  return out;
}

// The key schedule is built once; BF_ecb_encrypt only reads it afterwards.
const BF_KEY* TenantKey() {
  static const std::optional<BF_KEY> key = []() -> std::optional<BF_KEY> {
    const auto decoded = DecodeBase64(std::string_view(kKeyText, kKeyTextLength));
    if (!decoded || decoded->size() != kDecodedKeyLength) return std::nullopt;
    std::array<unsigned char, kDecodedKeyLength + kKeyTextLength + 1> material{};
    std::memcpy(material.data(), decoded->data(), kDecodedKeyLength);
    std::memcpy(material.data() + kDecodedKeyLength, kKeyText, kKeyTextLength);
    const size_t length = strnlen(reinterpret_cast<const char*>(material.data()), material.size());
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(length), material.data());
    return schedule;
  }();
  return key ? &*key : nullptr;
}

void ApplyBlowfish(const uint8_t* in, uint8_t* out, size_t length, int direction, const BF_KEY* key) {
  for (size_t offset = 0; offset < length; offset += kBlockSize) {
    BF_ecb_encrypt(in + offset, out + offset, key, direction);
  }
}

}  // namespace

std::optional<std::string> DecodeTenantFile(std::string_view fileBytes) {
  std::string_view text = fileBytes.substr(0, kTenantFileMaxBytes);
  text = text.substr(0, text.find('\0'));

  const auto cipher = DecodeBase64(text);
  if (!cipher || cipher->empty() || cipher->size() % kBlockSize != 0 || cipher->size() > kTenantFileMaxBytes) {
    return std::nullopt;
  }
  const BF_KEY* key = TenantKey();
  if (key == nullptr) return std::nullopt;

  std::array<uint8_t, kTenantFileMaxBytes> plain{};
  ApplyBlowfish(cipher->data(), plain.data(), cipher->size(), BF_DECRYPT, key);

  // Only the last pad byte is checked; the others are not part of the format.
  const uint8_t pad = plain[cipher->size() - 1];
  if (pad < 1 || pad > kMaxPad) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(plain.data()), cipher->size() - pad);
}

std::string EncodeTenantFile(std::string_view plainText) {
  const size_t padded = (plainText.size() & ~(kBlockSize - 1)) + kBlockSize;
  const auto pad = static_cast<uint8_t>(padded - plainText.size());
  std::vector<uint8_t> buffer(padded, pad);
  std::memcpy(buffer.data(), plainText.data(), plainText.size());

  const BF_KEY* key = TenantKey();
  if (key == nullptr) return {};
  ApplyBlowfish(buffer.data(), buffer.data(), buffer.size(), BF_ENCRYPT, key);

  std::string out(4 * ((padded + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), buffer.data(),
                                      static_cast<int>(buffer.size()));
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

bool ParseTenantJson(std::string_view plainText, Json::Value* root) {
  if (root == nullptr) return false;
  try {
    Json::Reader reader;
    if (!reader.parse(plainText.data(), plainText.data() + plainText.size(), *root, true)) return false;
  } catch (const std::exception&) {
    return false;
  }
  // Every key the agent reads sits at the top level of an object.
  return root->isObject() && !root->empty();
}
