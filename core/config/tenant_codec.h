// The codec of the tenant file "clagnt.dat": Base64 text of Blowfish-ECB
// ciphertext of a padded JSON text.
//
// Pure functions without state; any thread may call them. Besides the tenant
// store they serve the agtenant tool and the tenant-decoder fuzz target, so
// this file depends on OpenSSL and JsonCpp only (no logging, no siblings).
#pragma once

#include <json/json.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The agent reads at most this many bytes of the file; a longer file is cut.
inline constexpr size_t kTenantFileMaxBytes = 2048;

// File bytes (as read, at most kTenantFileMaxBytes are looked at) -> plain
// text. nullopt when the Base64 is corrupt, the ciphertext is not a non-zero
// multiple of 8 bytes or the last plain byte is not a pad length 1..8.
std::optional<std::string> DecodeTenantFile(std::string_view fileBytes);

// Plain text -> file bytes (Base64 without line breaks). The result may be
// longer than kTenantFileMaxBytes; such a file would not read back.
std::string EncodeTenantFile(std::string_view plainText);

// The plain text as the store accepts it: JSON (comments allowed) whose root
// is an object with at least one member. On false, `root` may be half filled.
bool ParseTenantJson(std::string_view plainText, Json::Value* root);
