// AES encryption with four 256-entry round tables, built at compile time from
// the S-box so that nothing has to be set up at start.
#include "stub/engine/aes.h"

#include "stub/engine/cryptopaths.h"

namespace {

constexpr uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

constexpr uint8_t times2(uint8_t x)
{
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0));
}

// Round tables: entry x of table r is the MixColumns column of S(x) in row
// position r, words little-endian (byte 0 of a column in the low bits).
struct RoundTables {
    uint32_t t[4][256];
};

constexpr RoundTables make_round_tables()
{
    RoundTables tables = {};
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = kSbox[x];
        const uint8_t s2 = times2(s);
        const uint8_t s3 = static_cast<uint8_t>(s2 ^ s);
        const uint32_t column = uint32_t(s2) | (uint32_t(s) << 8) | (uint32_t(s) << 16) | (uint32_t(s3) << 24);
        for (int r = 0; r < 4; ++r)
            tables.t[r][x] = (column << (8 * r)) | (r ? column >> (32 - 8 * r) : 0);
    }
    return tables;
}

constexpr RoundTables kTables = make_round_tables();

inline uint32_t load_le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void store_le32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint32_t sub_word(uint32_t w)
{
    return uint32_t(kSbox[w & 0xFF]) | (uint32_t(kSbox[(w >> 8) & 0xFF]) << 8) |
           (uint32_t(kSbox[(w >> 16) & 0xFF]) << 16) | (uint32_t(kSbox[w >> 24]) << 24);
}

}  // namespace

void aes_expand_key(const uint8_t* key, unsigned length, QlAesKeySchedule* schedule)
{
    if (length == 128 || length == 192 || length == 256)
        length /= 8;
    schedule->rounds = 0;
    if (length != 16 && length != 24 && length != 32)
        return;
    const unsigned nk = length / 4;
    const unsigned rounds = nk + 6;
    uint32_t* w = schedule->round_keys;
    for (unsigned i = 0; i < nk; ++i)
        w[i] = load_le32(key + 4 * i);
    uint8_t rcon = 1;
    for (unsigned i = nk; i < 4 * (rounds + 1); ++i) {
        uint32_t t = w[i - 1];
        if (i % nk == 0) {
            // RotWord on little-endian words is a right rotation.
            t = sub_word((t >> 8) | (t << 24)) ^ rcon;
            rcon = times2(rcon);
        } else if (nk > 6 && i % nk == 4) {
            t = sub_word(t);
        }
        w[i] = w[i - nk] ^ t;
    }
    schedule->rounds = rounds;
}

void aes_encrypt_block(const QlAesKeySchedule* schedule, const uint8_t in[kQlAesBlockSize],
                       uint8_t out[kQlAesBlockSize])
{
    const unsigned rounds = schedule->rounds;
    if (rounds != 10 && rounds != 12 && rounds != 14)
        return;
    const uint32_t* k = schedule->round_keys;
    const auto& t = kTables.t;
    uint32_t s0 = load_le32(in) ^ k[0], s1 = load_le32(in + 4) ^ k[1];
    uint32_t s2 = load_le32(in + 8) ^ k[2], s3 = load_le32(in + 12) ^ k[3];
    for (unsigned r = 1; r < rounds; ++r) {
        k += 4;
        // ShiftRows picks row i of each new column from column (c + i) mod 4.
        const uint32_t n0 = t[0][s0 & 0xFF] ^ t[1][(s1 >> 8) & 0xFF] ^ t[2][(s2 >> 16) & 0xFF] ^ t[3][s3 >> 24] ^ k[0];
        const uint32_t n1 = t[0][s1 & 0xFF] ^ t[1][(s2 >> 8) & 0xFF] ^ t[2][(s3 >> 16) & 0xFF] ^ t[3][s0 >> 24] ^ k[1];
        const uint32_t n2 = t[0][s2 & 0xFF] ^ t[1][(s3 >> 8) & 0xFF] ^ t[2][(s0 >> 16) & 0xFF] ^ t[3][s1 >> 24] ^ k[2];
        const uint32_t n3 = t[0][s3 & 0xFF] ^ t[1][(s0 >> 8) & 0xFF] ^ t[2][(s1 >> 16) & 0xFF] ^ t[3][s2 >> 24] ^ k[3];
        s0 = n0;
        s1 = n1;
        s2 = n2;
        s3 = n3;
    }
    k += 4;
    // The last round has no MixColumns.
    const uint32_t f[4] = {s0, s1, s2, s3};
    for (int c = 0; c < 4; ++c) {
        const uint32_t word = uint32_t(kSbox[f[c] & 0xFF]) | (uint32_t(kSbox[(f[(c + 1) & 3] >> 8) & 0xFF]) << 8) |
                              (uint32_t(kSbox[(f[(c + 2) & 3] >> 16) & 0xFF]) << 16) |
                              (uint32_t(kSbox[f[(c + 3) & 3] >> 24]) << 24);
        store_le32(out + 4 * c, word ^ k[c]);
    }
}

void aes_ctr_blocks(const QlAesKeySchedule* schedule, uint8_t counter[kQlAesBlockSize], uint8_t* data,
                    size_t blocks)
{
    const unsigned rounds = schedule->rounds;
    if (rounds != 10 && rounds != 12 && rounds != 14)
        return;
#if QL_X86_PATHS
    if (ql_cpu_features() & kQlCpuAesNi) {
        aes_ctr_blocks_aesni(schedule, counter, data, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, data += kQlAesBlockSize) {
        for (int b = 0; b < 8 && ++counter[b] == 0; ++b) {
        }
        uint8_t keystream[kQlAesBlockSize];
        aes_encrypt_block(schedule, counter, keystream);
        for (int b = 0; b < kQlAesBlockSize; ++b)
            data[b] ^= keystream[b];
    }
}
