// The processor-specific paths of the ciphers and hashes, each built for the
// instructions it names (GCC target attributes), so that no such instruction
// appears outside them. The portable functions choose among them at run time
// (cpufeatures.h); nothing else calls them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stub/engine/aes.h"
#include "stub/engine/cpufeatures.h"

#if QL_X86_PATHS
// SHA-1 over whole 64-byte blocks into the five chaining values.
void sha1_blocks_ssse3(uint32_t state[5], const uint8_t* data, size_t blocks);   // SSSE3
void sha1_blocks_sha(uint32_t state[5], const uint8_t* data, size_t blocks);     // SHA, SSSE3

// PBKDF2-HMAC-SHA1's further `iterations` for `lanes` output blocks: each
// lane's u (the last HMAC, as SHA-1 state words) is hashed from the inner
// and then the outer pad's chaining values, and t takes the XOR of each.
void pbkdf2_sha1_iterate_sha(const uint32_t inner[5], const uint32_t outer[5], uint32_t u[][5],
                             uint32_t t[][5], unsigned lanes, uint32_t iterations);   // SHA, SSSE3

// Counter mode over whole blocks (see aes_ctr_blocks), with a valid schedule.
void aes_ctr_blocks_aesni(const QlAesKeySchedule* schedule, uint8_t counter[kQlAesBlockSize], uint8_t* data,
                          size_t blocks);   // AES-NI

// Both for AES entries: HMAC's inner SHA-1 over 64-byte blocks of
// ciphertext, and their decryption in place (the counter as above).
void aes_ctr_sha1_blocks(const QlAesKeySchedule* schedule, uint8_t counter[kQlAesBlockSize], uint32_t state[5],
                         uint8_t* data, size_t blocks);   // AES-NI, SHA, SSSE3
#endif
