// The subscription passphrase: the derivation against published
// PBKDF2-HMAC-SHA-256 results (RFC 6070 inputs, 4096 iterations, first
// 32-byte block), the agent's own passphrase as the unified agent expects it,
// and the result codes.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/common/ua_passphrase.h"

namespace {

std::string HexOfBase64(const char* text) {
  unsigned char bytes[64] = {};
  const int length = EVP_DecodeBlock(bytes, reinterpret_cast<const unsigned char*>(text),
                                     static_cast<int>(std::strlen(text)));
  std::string hex;
  // EVP_DecodeBlock counts the bytes the "=" padding stands for.
  for (int i = 0; i < length - 1; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    hex += pair;
  }
  return hex;
}

struct Vector {
  const char* password;
  const char* salt;
  const char* derivedHex;
};

TEST(UaPassphrase, DerivationMatchesPublishedVectors) {
  const Vector vectors[] = {
      {"password", "salt", "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt",
       "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1"},
  };
  for (const auto& v : vectors) {
    char buffer[UA_PASSPHRASE_BUFFER_SIZE] = {};
    ASSERT_EQ(DeriveUAPassphrase(v.password, v.salt, buffer, sizeof buffer), UA_PASSPHRASE_SUCCESS) << v.password;
    EXPECT_EQ(std::strlen(buffer), UA_PASSPHRASE_LENGTH);
    EXPECT_EQ(buffer[UA_PASSPHRASE_LENGTH - 1], '=');
    EXPECT_EQ(HexOfBase64(buffer), v.derivedHex) << v.password;
  }
}

// Known in advance by the unified agent: a change of either GUID text or of
// the salt characters taken from the first would break every subscription.
TEST(UaPassphrase, AgentPassphraseIsTheOneTheUnifiedAgentExpects) {
  char buffer[UA_PASSPHRASE_BUFFER_SIZE];
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(GenerateUAPassphrase(buffer, sizeof buffer), UA_PASSPHRASE_SUCCESS);
  EXPECT_STREQ(buffer, "505lx5hvsN1nmLmbes/Yi+vz44BZaEbj/sW1VwG1czw=");
}

TEST(UaPassphrase, ResultCodesForUnusableBuffers) {
  char buffer[UA_PASSPHRASE_BUFFER_SIZE];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GenerateUAPassphrase(buffer, 0), UA_PASSPHRASE_INVALID_BUFFER);
  EXPECT_EQ(GenerateUAPassphrase(nullptr, sizeof buffer), UA_PASSPHRASE_INVALID_BUFFER);
  // 44 characters need 45 bytes with the NUL: nothing is written into less.
  EXPECT_EQ(GenerateUAPassphrase(buffer, UA_PASSPHRASE_LENGTH), UA_PASSPHRASE_ENCODING_FAILED);
  for (char c : buffer) EXPECT_EQ(c, '#');
  EXPECT_EQ(GenerateUAPassphrase(buffer, UA_PASSPHRASE_LENGTH + 1), UA_PASSPHRASE_SUCCESS);
  EXPECT_EQ(std::strlen(buffer), UA_PASSPHRASE_LENGTH);
}

}  // namespace
