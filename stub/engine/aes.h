// The AES block cipher (FIPS-197), encryption direction only: Zip's AES
// entries run it in counter mode, where decryption encrypts the counter.
//
// Pure code: no Windows headers, no state but the caller's key schedule.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
    kQlAesBlockSize = 16,
    kQlAesMaxRounds = 14,
};

struct QlAesKeySchedule {
    uint32_t round_keys[4 * (kQlAesMaxRounds + 1)];
    uint32_t rounds;             // 10, 12 or 14; 0 marks an invalid schedule
};

// `length` is 16, 24 or 32 bytes, or 128, 192 or 256 bits; any other value
// leaves the schedule invalid.
void aes_expand_key(const uint8_t* key, unsigned length, QlAesKeySchedule* schedule);

// Encrypts one block (`in` and `out` may be the same); an invalid schedule
// leaves `out` untouched.
void aes_encrypt_block(const QlAesKeySchedule* schedule, const uint8_t in[kQlAesBlockSize],
                       uint8_t out[kQlAesBlockSize]);

// Counter mode over whole blocks: for each of `blocks` blocks, adds one to
// the counter (its first 8 bytes a little-endian integer, carrying no
// further; bytes 8-15 stay as they are), encrypts it and XORs the result
// into the block of `data`. `counter` ends as the last block's. Runs on the
// processor's AES instructions where it has them. An invalid schedule
// changes nothing.
void aes_ctr_blocks(const QlAesKeySchedule* schedule, uint8_t counter[kQlAesBlockSize], uint8_t* data,
                    size_t blocks);
