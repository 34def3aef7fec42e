// The passphrase with which the agent subscribes to the unified agent. Both
// sides derive it from two GUID texts they share: PBKDF2 with HMAC-SHA-256
// (4096 iterations, one 32-byte block) over the second text, salted with
// characters 10 to 17 of the first, written as 44 characters of Base64.
//
// The module depends on libcrypto only, so the unified-agent stand-in of the
// suite compiles this same file and checks a subscription the same way.
// Nothing here logs: the passphrase is a secret.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t UA_PASSPHRASE_SUCCESS = 0;
inline constexpr uint32_t UA_PASSPHRASE_INVALID_BUFFER = 1;
inline constexpr uint32_t UA_PASSPHRASE_ALLOCATION_FAILED = 2;
inline constexpr uint32_t UA_PASSPHRASE_ENCODING_FAILED = 3;

// Buffer size the agent hands to GenerateUAPassphrase.
inline constexpr uint32_t UA_PASSPHRASE_BUFFER_SIZE = 50;
// Base64 characters of the passphrase, without the NUL.
inline constexpr size_t UA_PASSPHRASE_LENGTH = 44;

// Writes the subscription passphrase and its NUL into `buffer`. Results:
// 0 done; 1 no buffer or a zero size (the buffer is left as it was);
// 2 the derivation could not get its memory; 3 the Base64 text does not fit.
uint32_t GenerateUAPassphrase(char* buffer, uint32_t size);

// The derivation itself over any password and salt text: PBKDF2-HMAC-SHA-256,
// 4096 iterations, 32 bytes, Base64 into `buffer`. Same results as above.
uint32_t DeriveUAPassphrase(const char* password, const char* salt, char* buffer, uint32_t size);
