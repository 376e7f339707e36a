// SHA-1, HMAC-SHA1 and PBKDF2-HMAC-SHA1.
#include "stub/engine/sha1.h"

#include <cstring>
#include <initializer_list>

#include "stub/engine/cryptopaths.h"

namespace {

inline uint32_t rotate_left(uint32_t x, unsigned n)
{
    return (x << n) | (x >> (32 - n));
}

inline uint32_t load_be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void store_be32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

#if QL_X86_PATHS
// The SHA instructions' paths also shuffle bytes with SSSE3.
inline bool sha_path(uint32_t features)
{
    return (features & (kQlCpuSha | kQlCpuSsse3)) == (kQlCpuSha | kQlCpuSsse3);
}
#endif

// Turns the key gathered so far into the inner pad and starts the inner hash.
void finish_key(QlHmacSha1Context* hmac)
{
    if (hmac->key_position == kQlHmacKeyFinished)
        return;
    if (hmac->key_position > kQlSha1BlockSize) {
        // A long key is replaced by its digest.
        uint8_t digest[kQlSha1DigestSize];
        sha1_final(&hmac->sha, digest);
        memset(hmac->key, 0, sizeof hmac->key);
        memcpy(hmac->key, digest, sizeof digest);
        memset(digest, 0, sizeof digest);
    }
    for (uint8_t& b : hmac->key)
        b ^= 0x36;
    sha1_init(&hmac->sha);
    sha1_update(&hmac->sha, hmac->key, sizeof hmac->key);
    hmac->key_position = kQlHmacKeyFinished;
}

}  // namespace

// ---------------------------------------------------------------- SHA-1

void sha1_init(QlSha1Context* sha)
{
    sha->count[0] = sha->count[1] = 0;
    sha->state[0] = 0x67452301;
    sha->state[1] = 0xEFCDAB89;
    sha->state[2] = 0x98BADCFE;
    sha->state[3] = 0x10325476;
    sha->state[4] = 0xC3D2E1F0;
}

namespace {

void sha1_blocks_portable(uint32_t state[5], const uint8_t* block, size_t blocks)
{
    for (; blocks > 0; --blocks, block += kQlSha1BlockSize) {
        // The message schedule kept as a ring of 16 words.
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = load_be32(block + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        auto word = [&w](int i) {
            if (i >= 16)
                w[i & 15] = rotate_left(w[(i - 3) & 15] ^ w[(i - 8) & 15] ^ w[(i - 14) & 15] ^ w[i & 15], 1);
            return w[i & 15];
        };
        auto round = [&](uint32_t f, uint32_t k, int i) {
            const uint32_t t = rotate_left(a, 5) + f + e + k + word(i);
            e = d;
            d = c;
            c = rotate_left(b, 30);
            b = a;
            a = t;
        };
        // One loop per round function, so that none decides per round.
        for (int i = 0; i < 20; ++i)
            round(d ^ (b & (c ^ d)), 0x5A827999, i);
        for (int i = 20; i < 40; ++i)
            round(b ^ c ^ d, 0x6ED9EBA1, i);
        for (int i = 40; i < 60; ++i)
            round((b & c) | (d & (b | c)), 0x8F1BBCDC, i);
        for (int i = 60; i < 80; ++i)
            round(b ^ c ^ d, 0xCA62C1D6, i);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

// The fastest path this processor has.
void sha1_blocks(uint32_t state[5], const uint8_t* block, size_t blocks)
{
#if QL_X86_PATHS
    const uint32_t features = ql_cpu_features();
    if (sha_path(features)) {
        sha1_blocks_sha(state, block, blocks);
        return;
    }
    if (features & kQlCpuSsse3) {
        sha1_blocks_ssse3(state, block, blocks);
        return;
    }
#endif
    sha1_blocks_portable(state, block, blocks);
}

}  // namespace

void sha1_compress(QlSha1Context* sha, const uint8_t block[kQlSha1BlockSize])
{
    sha1_blocks(sha->state, block, 1);
}

void sha1_update(QlSha1Context* sha, const void* data, size_t length)
{
    if (length == 0)
        return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t used = sha->count[0] & (kQlSha1BlockSize - 1);
    // Two words so that 32-bit builds count past 4 GiB.
    const uint32_t low = sha->count[0] + static_cast<uint32_t>(length);
    sha->count[1] += static_cast<uint32_t>(static_cast<uint64_t>(length) >> 32) + (low < sha->count[0] ? 1 : 0);
    sha->count[0] = low;

    if (used > 0) {
        const size_t part = length < kQlSha1BlockSize - used ? length : kQlSha1BlockSize - used;
        memcpy(sha->block + used, p, part);
        p += part;
        length -= part;
        used += part;
        if (used < kQlSha1BlockSize)
            return;
        sha1_compress(sha, sha->block);
    }
    if (length >= kQlSha1BlockSize) {
        const size_t blocks = length / kQlSha1BlockSize;
        sha1_blocks(sha->state, p, blocks);
        p += blocks * kQlSha1BlockSize;
        length -= blocks * kQlSha1BlockSize;
    }
    if (length > 0)
        memcpy(sha->block, p, length);
}

void sha1_final(QlSha1Context* sha, uint8_t digest[kQlSha1DigestSize])
{
    uint8_t length_bytes[8];
    store_be32(length_bytes, (sha->count[1] << 3) | (sha->count[0] >> 29));
    store_be32(length_bytes + 4, sha->count[0] << 3);
    static const uint8_t kPadding[kQlSha1BlockSize] = {0x80};
    const size_t used = sha->count[0] & (kQlSha1BlockSize - 1);
    sha1_update(sha, kPadding, used < 56 ? 56 - used : 120 - used);
    sha1_update(sha, length_bytes, sizeof length_bytes);
    for (int i = 0; i < 5; ++i)
        store_be32(digest + 4 * i, sha->state[i]);
}

// ---------------------------------------------------------------- HMAC

void hmac_sha1_begin(QlHmacSha1Context* hmac)
{
    memset(hmac->key, 0, sizeof hmac->key);
    hmac->key_position = 0;
}

int hmac_sha1_key(const uint8_t* key, size_t length, QlHmacSha1Context* hmac)
{
    if (hmac->key_position == kQlHmacKeyFinished)
        return -1;
    const uint32_t had = hmac->key_position;
    if (length == 0)
        return 0;
    if (had + length <= kQlSha1BlockSize) {
        memcpy(hmac->key + had, key, length);
    } else {
        if (had <= kQlSha1BlockSize) {
            // Too long to keep: from here on the key is hashed, buffered bytes first.
            sha1_init(&hmac->sha);
            sha1_update(&hmac->sha, hmac->key, had);
        }
        sha1_update(&hmac->sha, key, length);
    }
    // The position only needs to tell "fits the buffer" from "hashed".
    const uint64_t total = uint64_t(had) + length;
    hmac->key_position = total < kQlHmacKeyFinished ? static_cast<uint32_t>(total) : kQlHmacKeyFinished - 1;
    return 0;
}

void hmac_sha1_data(const uint8_t* data, size_t length, QlHmacSha1Context* hmac)
{
    finish_key(hmac);
    sha1_update(&hmac->sha, data, length);
}

void hmac_sha1_end(uint8_t* out, size_t n, QlHmacSha1Context* hmac)
{
    finish_key(hmac);
    uint8_t digest[kQlSha1DigestSize];
    sha1_final(&hmac->sha, digest);
    // 0x36 ^ 0x6A = 0x5C: the inner pad becomes the outer pad.
    for (uint8_t& b : hmac->key)
        b ^= 0x6A;
    sha1_init(&hmac->sha);
    sha1_update(&hmac->sha, hmac->key, sizeof hmac->key);
    sha1_update(&hmac->sha, digest, sizeof digest);
    sha1_final(&hmac->sha, digest);
    memcpy(out, digest, n < sizeof digest ? n : sizeof digest);
    memset(digest, 0, sizeof digest);
}

// ---------------------------------------------------------------- PBKDF2

namespace {

// Output blocks whose iterations run side by side: an AES-256 key, its
// authentication key and the verifier take four.
const unsigned kPbkdf2Lanes = 4;

// The iterations after the first, on SHA-1 state words: each one's message
// is the last result and the padding of an 84-byte message, as the pad block
// comes before it.
void pbkdf2_iterate(const uint32_t inner[5], const uint32_t outer[5], uint32_t u[][5], uint32_t t[][5],
                    unsigned lanes, uint32_t iterations)
{
#if QL_X86_PATHS
    if (sha_path(ql_cpu_features())) {
        pbkdf2_sha1_iterate_sha(inner, outer, u, t, lanes, iterations);
        return;
    }
#endif
    uint8_t block[kQlSha1BlockSize] = {};
    block[kQlSha1DigestSize] = 0x80;
    store_be32(block + kQlSha1BlockSize - 4, (kQlSha1BlockSize + kQlSha1DigestSize) * 8);
    for (unsigned l = 0; l < lanes; ++l) {
        for (uint32_t j = 0; j < iterations; ++j) {
            for (const uint32_t* start : {inner, outer}) {
                for (int i = 0; i < 5; ++i)
                    store_be32(block + 4 * i, u[l][i]);
                memcpy(u[l], start, sizeof u[l]);
                sha1_blocks(u[l], block, 1);
            }
            for (int i = 0; i < 5; ++i)
                t[l][i] ^= u[l][i];
        }
    }
    memset(block, 0, sizeof block);
}

}  // namespace

void pbkdf2_hmac_sha1(const uint8_t* password, size_t password_length, const uint8_t* salt,
                      size_t salt_length, uint32_t iterations, uint8_t* out, size_t out_length)
{
    // Keyed once: both pads hashed, and every HMAC starts from copies, so
    // that one costs two compressions.
    QlHmacSha1Context keyed;
    hmac_sha1_begin(&keyed);
    hmac_sha1_key(password, password_length, &keyed);
    finish_key(&keyed);
    QlSha1Context outer;
    sha1_init(&outer);
    for (uint8_t& b : keyed.key)
        b ^= 0x6A;
    sha1_update(&outer, keyed.key, sizeof keyed.key);

    uint32_t u[kPbkdf2Lanes][5], t[kPbkdf2Lanes][5];
    for (uint32_t block = 1; out_length > 0;) {
        // The first iteration of each block hashes the salt and the block's
        // number; the rest go on in lanes.
        unsigned lanes = 0;
        for (; lanes < kPbkdf2Lanes && out_length > lanes * kQlSha1DigestSize; ++lanes, ++block) {
            uint8_t index[4], digest[kQlSha1DigestSize];
            store_be32(index, block);
            QlSha1Context sha = keyed.sha;
            sha1_update(&sha, salt, salt_length);
            sha1_update(&sha, index, sizeof index);
            sha1_final(&sha, digest);
            sha = outer;
            sha1_update(&sha, digest, sizeof digest);
            sha1_final(&sha, digest);
            memcpy(u[lanes], sha.state, sizeof u[lanes]);
            memcpy(t[lanes], sha.state, sizeof t[lanes]);
            memset(&sha, 0, sizeof sha);
            memset(digest, 0, sizeof digest);
        }
        if (iterations > 1)
            pbkdf2_iterate(keyed.sha.state, outer.state, u, t, lanes, iterations - 1);
        for (unsigned l = 0; l < lanes && out_length > 0; ++l) {
            uint8_t bytes[kQlSha1DigestSize];
            for (int i = 0; i < 5; ++i)
                store_be32(bytes + 4 * i, t[l][i]);
            const size_t part = out_length < sizeof bytes ? out_length : sizeof bytes;
            memcpy(out, bytes, part);
            out += part;
            out_length -= part;
            memset(bytes, 0, sizeof bytes);
        }
    }
    memset(u, 0, sizeof u);
    memset(t, 0, sizeof t);
    memset(&keyed, 0, sizeof keyed);
    memset(&outer, 0, sizeof outer);
}
