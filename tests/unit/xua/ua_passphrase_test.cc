// The subscription passphrase: the derivation against published
// PBKDF2-HMAC-SHA-256 results (RFC 6070 inputs, 4096 iterations, first
// 32-byte block, in Base64), the agent's own passphrase as the unified agent
// expects it, and the result codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/common/ua_passphrase.h"

namespace {

TEST(UaPassphrase, DerivationMatchesPublishedVectors) {
  const struct {
    const char* password;
    const char* salt;
    const char* derived;
  } kVectors[] = {
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt",
       "NIyJ28vTKy8y2BS4EW6EzysXNH68GAAYHE4qH7jdU+E="},
  };
  for (const auto& v : kVectors) {
    char buffer[UA_PASSPHRASE_BUFFER_SIZE] = {};
    ASSERT_EQ(DeriveUAPassphrase(v.password, v.salt, buffer, sizeof buffer), UA_PASSPHRASE_SUCCESS) << v.password;
    EXPECT_STREQ(buffer, v.derived);
  }
}

// Known in advance by the unified agent: a change of either GUID text or of
// the salt characters taken from the first would break every subscription.
// 44 characters need 45 bytes with the NUL: nothing is written into less.
TEST(UaPassphrase, AgentPassphraseIsTheOneTheUnifiedAgentExpectsAndNeedsItsWholeBuffer) {
  char buffer[UA_PASSPHRASE_BUFFER_SIZE];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GenerateUAPassphrase(buffer, 0), UA_PASSPHRASE_INVALID_BUFFER);
  EXPECT_EQ(GenerateUAPassphrase(nullptr, sizeof buffer), UA_PASSPHRASE_INVALID_BUFFER);
  EXPECT_EQ(GenerateUAPassphrase(buffer, UA_PASSPHRASE_LENGTH), UA_PASSPHRASE_ENCODING_FAILED);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
  ASSERT_EQ(GenerateUAPassphrase(buffer, UA_PASSPHRASE_LENGTH + 1), UA_PASSPHRASE_SUCCESS);
  EXPECT_STREQ(buffer, "505lx5hvsN1nmLmbes/Yi+vz44BZaEbj/sW1VwG1czw=");
}

}  // namespace
