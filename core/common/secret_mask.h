// Secrets that pass through log lines: the OTP, the proxy password, a
// passphrase or a tenant key. A log line shows at most their first and last
// two characters, so that a reader can tell two values apart without learning
// either; a short secret shows none.
#pragma once

#include <string>
#include <string_view>

// "ab****yz" for a secret of 8 or more characters, "****" for a shorter one,
// "" for none.
std::string MaskSecret(std::string_view secret);

// A JSON text (or text that looks like one) with the value of every secret
// member ("otp", "proxyPassword", "password", "passphrase", "tenantKey")
// masked; everything else is kept byte for byte.
std::string MaskJsonSecrets(std::string_view text);
