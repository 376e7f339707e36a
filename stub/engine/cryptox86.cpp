// SHA-1 and AES on the processor's own instructions. Each function carries
// the target of the instructions it uses; the callers choose it only when
// CPUID has reported them.
#include "stub/engine/cryptopaths.h"

#if QL_X86_PATHS

#include <immintrin.h>

#include "stub/engine/sha1.h"

#define QL_TARGET_SSSE3 __attribute__((target("sse2,ssse3")))
#define QL_TARGET_SHA __attribute__((target("sse2,ssse3,sha")))
#define QL_TARGET_AES __attribute__((target("sse2,aes")))

namespace {

const uint32_t kSha1K[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};

inline uint32_t rotl(uint32_t x, unsigned n)
{
    return (x << n) | (x >> (32 - n));
}

// ---------------------------------------------------------------- SHA-1, SSSE3

QL_TARGET_SSSE3 inline __m128i rotl1_epi32(__m128i x)
{
    return _mm_or_si128(_mm_slli_epi32(x, 1), _mm_srli_epi32(x, 31));
}

// Words t..t+3 of the schedule from the sixteen before them, held as four
// vectors of four (w0 the oldest): W[t] = rol1(W[t-3] ^ W[t-8] ^ W[t-14] ^
// W[t-16]). W[t+3] needs W[t] itself, which is added once it is known.
QL_TARGET_SSSE3 inline __m128i next_schedule(__m128i w0, __m128i w1, __m128i w2, __m128i w3)
{
    __m128i x = _mm_xor_si128(_mm_xor_si128(_mm_srli_si128(w3, 4), w2),
                              _mm_xor_si128(_mm_alignr_epi8(w1, w0, 8), w0));
    x = rotl1_epi32(x);
    return _mm_xor_si128(x, rotl1_epi32(_mm_slli_si128(x, 12)));
}

// Moves the window of schedule vectors on by one and stores the new words
// with their round constant added.
QL_TARGET_SSSE3 inline void schedule_step(__m128i& w0, __m128i& w1, __m128i& w2, __m128i& w3, uint32_t* out,
                                          uint32_t k)
{
    const __m128i next = next_schedule(w0, w1, w2, w3);
    w0 = w1;
    w1 = w2;
    w2 = w3;
    w3 = next;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi32(next, _mm_set1_epi32(static_cast<int>(k))));
}

}  // namespace

// The rounds stay scalar; the schedule is computed four words at a time,
// sixteen words ahead of the rounds that take it, with the round constant
// already added.
QL_TARGET_SSSE3 void sha1_blocks_ssse3(uint32_t state[5], const uint8_t* data, size_t blocks)
{
    const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    uint32_t wk[80];
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (; blocks > 0; --blocks, data += 64) {
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), swap);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(wk + 4 * i), _mm_add_epi32(w[i], _mm_set1_epi32(kSha1K[0])));
        }
        __m128i w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
        // Five rounds and four schedule words per step; the names of the
        // five variables come round again after five rounds.
        unsigned t = 0;
#define QL_SHA1_ROUND(f, a, b, c, d, e) \
    e += rotl(a, 5) + (f) + wk[t++];    \
    b = rotl(b, 30);
#define QL_SHA1_FIVE(f)                                  \
    QL_SHA1_ROUND(f(b, c, d), a, b, c, d, e)             \
    QL_SHA1_ROUND(f(a, b, c), e, a, b, c, d)             \
    QL_SHA1_ROUND(f(e, a, b), d, e, a, b, c)             \
    QL_SHA1_ROUND(f(d, e, a), c, d, e, a, b)             \
    QL_SHA1_ROUND(f(c, d, e), b, c, d, e, a)
#define QL_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define QL_PARITY(x, y, z) ((x) ^ (y) ^ (z))
#define QL_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;
// Four steps, twenty rounds, for each round function.
#define QL_SHA1_STEPS(first, f)                                                               \
        for (unsigned step = first; step < first + 4; ++step) {                               \
            schedule_step(w0, w1, w2, w3, wk + 16 + 4 * step, kSha1K[(16 + 4 * step) / 20]); \
            QL_SHA1_FIVE(f)                                                                   \
        }
        QL_SHA1_STEPS(0, QL_CH)
        QL_SHA1_STEPS(4, QL_PARITY)
        QL_SHA1_STEPS(8, QL_MAJ)
        QL_SHA1_STEPS(12, QL_PARITY)
#undef QL_SHA1_STEPS
#undef QL_SHA1_ROUND
#undef QL_SHA1_FIVE
#undef QL_CH
#undef QL_PARITY
#undef QL_MAJ
        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
}

// ---------------------------------------------------------------- SHA-1, SHA extensions

namespace {

// Four rounds. `a_before` holds the state from before the previous four
// rounds, whose A (rotated) is this group's E.
template <int F>
QL_TARGET_SHA inline void sha_four(__m128i& abcd, __m128i& a_before, __m128i message)
{
    const __m128i we = _mm_sha1nexte_epu32(a_before, message);
    a_before = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, we, F);
}

// The schedule's next four words (into m0, the oldest), then their rounds.
template <int F>
QL_TARGET_SHA inline void sha_four_more(__m128i& abcd, __m128i& a_before, __m128i& m0, __m128i m1, __m128i m2,
                                        __m128i m3)
{
    m0 = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(m0, m1), m2), m3);
    sha_four<F>(abcd, a_before, m0);
}

}  // namespace

namespace {

// One block into the state. The instructions keep A in the top lane and the
// words of a block big-endian, the first in the top lane.
QL_TARGET_SHA inline void sha_block(__m128i& abcd, __m128i& e, __m128i m0, __m128i m1, __m128i m2, __m128i m3)
{
    const __m128i abcd_saved = abcd, e_saved = e;
    __m128i a_before = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e, m0), 0);
    sha_four<0>(abcd, a_before, m1);
    sha_four<0>(abcd, a_before, m2);
    sha_four<0>(abcd, a_before, m3);
    sha_four_more<0>(abcd, a_before, m0, m1, m2, m3);
    sha_four_more<1>(abcd, a_before, m1, m2, m3, m0);
    sha_four_more<1>(abcd, a_before, m2, m3, m0, m1);
    sha_four_more<1>(abcd, a_before, m3, m0, m1, m2);
    sha_four_more<1>(abcd, a_before, m0, m1, m2, m3);
    sha_four_more<1>(abcd, a_before, m1, m2, m3, m0);
    sha_four_more<2>(abcd, a_before, m2, m3, m0, m1);
    sha_four_more<2>(abcd, a_before, m3, m0, m1, m2);
    sha_four_more<2>(abcd, a_before, m0, m1, m2, m3);
    sha_four_more<2>(abcd, a_before, m1, m2, m3, m0);
    sha_four_more<2>(abcd, a_before, m2, m3, m0, m1);
    sha_four_more<3>(abcd, a_before, m3, m0, m1, m2);
    sha_four_more<3>(abcd, a_before, m0, m1, m2, m3);
    sha_four_more<3>(abcd, a_before, m1, m2, m3, m0);
    sha_four_more<3>(abcd, a_before, m2, m3, m0, m1);
    sha_four_more<3>(abcd, a_before, m3, m0, m1, m2);
    e = _mm_sha1nexte_epu32(a_before, e_saved);
    abcd = _mm_add_epi32(abcd, abcd_saved);
}

QL_TARGET_SHA inline __m128i sha_words(__m128i bytes)
{
    return _mm_shuffle_epi8(bytes, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}

QL_TARGET_SHA inline void sha_load_state(const uint32_t state[5], __m128i* abcd, __m128i* e)
{
    *abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    *e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
}

QL_TARGET_SHA inline void sha_store_state(uint32_t state[5], __m128i abcd, __m128i e)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(e, 0x03)));
}

}  // namespace

QL_TARGET_SHA void sha1_blocks_sha(uint32_t state[5], const uint8_t* data, size_t blocks)
{
    __m128i abcd, e;
    sha_load_state(state, &abcd, &e);
    for (const __m128i* p = reinterpret_cast<const __m128i*>(data); blocks > 0; --blocks, p += 4)
        sha_block(abcd, e, sha_words(_mm_loadu_si128(p)), sha_words(_mm_loadu_si128(p + 1)),
                  sha_words(_mm_loadu_si128(p + 2)), sha_words(_mm_loadu_si128(p + 3)));
    sha_store_state(state, abcd, e);
}

// PBKDF2's iterations: each one hashes the 20-byte result of the one
// before, so the message is that result in the first five words and the
// padding of an 84-byte message (the pad block comes first) in the rest.
// The result of a block is its state, already in the lanes the next message
// takes. The lanes' chains do not depend on each other, so two go side by
// side and fill the latency of each other's rounds.
namespace {

QL_TARGET_SHA inline void sha_digest_block(__m128i& abcd, __m128i& e, const __m128i start_abcd,
                                           const __m128i start_e)
{
    const __m128i m0 = abcd;
    const __m128i m1 = _mm_or_si128(_mm_and_si128(e, _mm_set_epi32(-1, 0, 0, 0)),
                                    _mm_set_epi32(0, static_cast<int>(0x80000000u), 0, 0));
    const __m128i m2 = _mm_setzero_si128();
    const __m128i m3 = _mm_set_epi32(0, 0, 0, (kQlSha1BlockSize + kQlSha1DigestSize) * 8);
    abcd = start_abcd;
    e = start_e;
    sha_block(abcd, e, m0, m1, m2, m3);
}

// Two lanes' blocks from the same start; out of line, so that the stub
// carries one copy for the inner and the outer pad.
QL_TARGET_SHA __attribute__((noinline)) void sha_digest_pair(__m128i lanes[4], const __m128i start_abcd,
                                                             const __m128i start_e)
{
    sha_digest_block(lanes[0], lanes[1], start_abcd, start_e);
    sha_digest_block(lanes[2], lanes[3], start_abcd, start_e);
}

}  // namespace

QL_TARGET_SHA void pbkdf2_sha1_iterate_sha(const uint32_t inner[5], const uint32_t outer[5], uint32_t u[][5],
                                           uint32_t t[][5], unsigned lanes, uint32_t iterations)
{
    __m128i inner_abcd, inner_e, outer_abcd, outer_e;
    sha_load_state(inner, &inner_abcd, &inner_e);
    sha_load_state(outer, &outer_abcd, &outer_e);
    for (unsigned l = 0; l < lanes; l += 2) {
        // An odd lane out goes as both of a pair (one copy of the rounds
        // keeps the stub small).
        const unsigned m = l + 1 < lanes ? l + 1 : l;
        __m128i lane[4], sum[4];
        sha_load_state(u[l], &lane[0], &lane[1]);
        sha_load_state(u[m], &lane[2], &lane[3]);
        sha_load_state(t[l], &sum[0], &sum[1]);
        sha_load_state(t[m], &sum[2], &sum[3]);
        for (uint32_t j = 0; j < iterations; ++j) {
            sha_digest_pair(lane, inner_abcd, inner_e);
            sha_digest_pair(lane, outer_abcd, outer_e);
            for (int i = 0; i < 4; ++i)
                sum[i] = _mm_xor_si128(sum[i], lane[i]);
        }
        sha_store_state(u[m], lane[2], lane[3]);
        sha_store_state(t[m], sum[2], sum[3]);
        sha_store_state(u[l], lane[0], lane[1]);
        sha_store_state(t[l], sum[0], sum[1]);
    }
}

// ---------------------------------------------------------------- AES-NI

// The schedule's words are little-endian, so its bytes are the round keys
// as FIPS-197 lays them out, which is what the instructions take. Four
// blocks go through the rounds side by side.
namespace {

// Four blocks of keystream: the next four counters through the rounds side
// by side.
QL_TARGET_AES inline void keystream_four(const __m128i* keys, unsigned rounds, __m128i& ctr, __m128i out[4])
{
    const __m128i one = _mm_set_epi32(0, 0, 0, 1);
    __m128i k = _mm_loadu_si128(keys);
    for (int i = 0; i < 4; ++i)
        out[i] = _mm_xor_si128(ctr = _mm_add_epi64(ctr, one), k);
    for (unsigned r = 1; r < rounds; ++r) {
        k = _mm_loadu_si128(keys + r);
        for (int i = 0; i < 4; ++i)
            out[i] = _mm_aesenc_si128(out[i], k);
    }
    k = _mm_loadu_si128(keys + rounds);
    for (int i = 0; i < 4; ++i)
        out[i] = _mm_aesenclast_si128(out[i], k);
}

}  // namespace

// The schedule's words are little-endian, so its bytes are the round keys
// as FIPS-197 lays them out, which is what the instructions take.
QL_TARGET_AES void aes_ctr_blocks_aesni(const QlAesKeySchedule* schedule, uint8_t counter[kQlAesBlockSize],
                                        uint8_t* data, size_t blocks)
{
    const __m128i* keys = reinterpret_cast<const __m128i*>(schedule->round_keys);
    const unsigned rounds = schedule->rounds;
    const __m128i one = _mm_set_epi32(0, 0, 0, 1);
    __m128i ctr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counter));
    __m128i* p = reinterpret_cast<__m128i*>(data);
    for (; blocks >= 4; blocks -= 4, p += 4) {
        __m128i stream[4];
        keystream_four(keys, rounds, ctr, stream);
        for (int i = 0; i < 4; ++i)
            _mm_storeu_si128(p + i, _mm_xor_si128(_mm_loadu_si128(p + i), stream[i]));
    }
    for (; blocks > 0; --blocks, ++p) {
        __m128i b = _mm_xor_si128(ctr = _mm_add_epi64(ctr, one), _mm_loadu_si128(keys));
        for (unsigned r = 1; r < rounds; ++r)
            b = _mm_aesenc_si128(b, _mm_loadu_si128(keys + r));
        b = _mm_aesenclast_si128(b, _mm_loadu_si128(keys + rounds));
        _mm_storeu_si128(p, _mm_xor_si128(_mm_loadu_si128(p), b));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(counter), ctr);
}

// Both at once, for AES entries: each 64 bytes of ciphertext are loaded
// once, hashed, decrypted and stored; the AES rounds fill the gaps that the
// latency of the SHA rounds leaves.
__attribute__((target("sse2,ssse3,sha,aes"))) void aes_ctr_sha1_blocks(const QlAesKeySchedule* schedule,
                                                                       uint8_t counter[kQlAesBlockSize],
                                                                       uint32_t state[5], uint8_t* data,
                                                                       size_t blocks)
{
    const __m128i* keys = reinterpret_cast<const __m128i*>(schedule->round_keys);
    const unsigned rounds = schedule->rounds;
    __m128i ctr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(counter));
    __m128i abcd, e;
    sha_load_state(state, &abcd, &e);
    for (__m128i* p = reinterpret_cast<__m128i*>(data); blocks > 0; --blocks, p += 4) {
        __m128i c[4];
        for (int i = 0; i < 4; ++i)
            c[i] = _mm_loadu_si128(p + i);
        sha_block(abcd, e, sha_words(c[0]), sha_words(c[1]), sha_words(c[2]), sha_words(c[3]));
        __m128i stream[4];
        keystream_four(keys, rounds, ctr, stream);
        for (int i = 0; i < 4; ++i)
            _mm_storeu_si128(p + i, _mm_xor_si128(c[i], stream[i]));
    }
    sha_store_state(state, abcd, e);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(counter), ctr);
}

#endif  // QL_X86_PATHS
