// What of a secret a log line may show: at most its first and last two
// characters, wherever the secret sits in a JSON payload.
#include <gtest/gtest.h>

#include "core/common/secret_mask.h"

namespace {

TEST(SecretMask, ShowsAtMostTwoCharactersAtEachEndWhereverTheSecretSits) {
  EXPECT_EQ(MaskSecret("1234567"), "****");
  EXPECT_EQ(MaskSecret("12345678"), "12****78");
  const struct {
    const char* input;
    const char* logged;
  } cases[] = {
      {R"({"cdt":1,"otp":"0123456789","scd":-1})", R"({"cdt":1,"otp":"01****89","scd":-1})"},
      {R"({"otp":123456789})", R"({"otp":"12****89"})"},
      {R"({"proxyPassword":"p\"ss\\word!","proxyUserName":"alice"})",
       R"({"proxyPassword":"p\****d!","proxyUserName":"alice"})"},
      {R"([{"passphrase":"open sesame"},{"tenantKey":"k-0000-1111"}])",
       R"([{"passphrase":"op****me"},{"tenantKey":"k-****11"}])"},
      {R"({"note":"otp","password":"hunter2hunter2")", R"({"note":"otp","password":"hu****r2")"},
      {R"({"otp":"unterminated secret)", R"({"otp":"un****et")"},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskJsonSecrets(c.input), c.logged) << c.input;
}

}  // namespace
