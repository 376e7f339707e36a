// Known answers of SHA-1 (FIPS 180), HMAC-SHA1 (RFC 2202), PBKDF2-HMAC-SHA1
// (RFC 6070) and AES (FIPS-197), and the edges of the HMAC key handling; on
// the fastest path of this processor, and then on each of its paths and the
// portable ones in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "stub/engine/aes.h"
#include "stub/engine/aesdcryp.h"
#include "stub/engine/cpufeatures.h"
#include "stub/engine/sha1.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes from_hex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string to_hex(const uint8_t* data, size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

std::string sha1_hex(const Bytes& data, size_t piece)
{
    QlSha1Context sha;
    sha1_init(&sha);
    for (size_t at = 0; at < data.size(); at += piece)
        sha1_update(&sha, data.data() + at, std::min(piece, data.size() - at));
    uint8_t digest[kQlSha1DigestSize];
    sha1_final(&sha, digest);
    return to_hex(digest, sizeof digest);
}

std::string hmac_hex(const Bytes& key, const Bytes& data, size_t n = kQlSha1DigestSize)
{
    QlHmacSha1Context hmac;
    hmac_sha1_begin(&hmac);
    EXPECT_EQ(hmac_sha1_key(key.data(), key.size(), &hmac), 0);
    if (!data.empty())
        hmac_sha1_data(data.data(), data.size(), &hmac);
    uint8_t out[kQlSha1DigestSize];
    hmac_sha1_end(out, n, &hmac);
    return to_hex(out, n);
}

struct Sha1Case {
    Bytes data;
    const char* digest;
    const char* why;
};

std::vector<Sha1Case> sha1_cases()
{
    return {
        {text(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709", "padding only"},
        {text("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d", "one block"},
        {text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1", "the length spills into a second block"},
        {Bytes(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f", "a million 'a'"},
    };
}

TEST(Sha1, KnownAnswers)
{
    for (const auto& c : sha1_cases())
        for (size_t piece : {size_t(1), size_t(63), size_t(64), size_t(65), size_t(1) << 20})
            EXPECT_EQ(sha1_hex(c.data, piece), c.digest) << c.why << ", pieces of " << piece;
}

TEST(HmacSha1, Rfc2202)
{
    Bytes key4;
    for (int i = 1; i <= 25; ++i)
        key4.push_back(static_cast<uint8_t>(i));
    const struct {
        Bytes key;
        Bytes data;
        size_t n;
        const char* mac;
    } cases[] = {
        {Bytes(20, 0x0b), text("Hi There"), 20, "b617318655057264e28bc0b6fb378c8ef146be00"},
        {text("Jefe"), text("what do ya want for nothing?"), 20, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {Bytes(20, 0xaa), Bytes(50, 0xdd), 20, "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {key4, Bytes(50, 0xcd), 20, "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {Bytes(20, 0x0c), text("Test With Truncation"), 12, "4c1a03424b55e07fe7f27be1"},
        {Bytes(80, 0xaa), text("Test Using Larger Than Block-Size Key - Hash Key First"), 20,
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {Bytes(80, 0xaa), text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"), 20,
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hmac_hex(c.key, c.data, c.n), c.mac) << "key of " << c.key.size() << " bytes";
}

TEST(HmacSha1, KeyEdges)
{
    std::mt19937 rng(3);
    Bytes key(200), data(100);
    for (uint8_t& b : key)
        b = static_cast<uint8_t>(rng());
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());

    // Up to 64 bytes the key is used as it is; from 65 on, its digest is.
    for (size_t length : {size_t(64), size_t(65), size_t(80), size_t(200)}) {
        const Bytes k(key.begin(), key.begin() + length);
        QlSha1Context sha;
        sha1_init(&sha);
        sha1_update(&sha, k.data(), k.size());
        uint8_t digest[kQlSha1DigestSize];
        sha1_final(&sha, digest);
        const Bytes hashed(digest, digest + sizeof digest);
        if (length == 64)
            EXPECT_NE(hmac_hex(k, data), hmac_hex(hashed, data));
        else
            EXPECT_EQ(hmac_hex(k, data), hmac_hex(hashed, data)) << length;

        // The key given in pieces, across the 64-byte edge too.
        for (size_t split : {size_t(1), size_t(63), size_t(64), length - 1}) {
            QlHmacSha1Context hmac;
            hmac_sha1_begin(&hmac);
            EXPECT_EQ(hmac_sha1_key(k.data(), split, &hmac), 0);
            EXPECT_EQ(hmac_sha1_key(k.data() + split, length - split, &hmac), 0);
            hmac_sha1_data(data.data(), data.size(), &hmac);
            uint8_t out[kQlSha1DigestSize];
            hmac_sha1_end(out, sizeof out, &hmac);
            EXPECT_EQ(to_hex(out, sizeof out), hmac_hex(k, data)) << length << " split at " << split;
        }
    }

    // Key bytes after the first data are refused and change nothing.
    QlHmacSha1Context hmac;
    hmac_sha1_begin(&hmac);
    hmac_sha1_key(text("Jefe").data(), 4, &hmac);
    hmac_sha1_data(data.data(), 10, &hmac);
    EXPECT_EQ(hmac_sha1_key(key.data(), 5, &hmac), -1);
    hmac_sha1_data(data.data() + 10, data.size() - 10, &hmac);
    uint8_t out[kQlSha1DigestSize];
    hmac_sha1_end(out, sizeof out, &hmac);
    EXPECT_EQ(to_hex(out, sizeof out), hmac_hex(text("Jefe"), data));

    // No data at all: the key is finished at the end.
    EXPECT_EQ(hmac_hex(Bytes(), Bytes()), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

TEST(Pbkdf2HmacSha1, Rfc6070)
{
    const struct {
        std::string password;
        std::string salt;
        uint32_t iterations;
        const char* key;
    } cases[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const auto& c : cases) {
        const Bytes p = text(c.password), s = text(c.salt);
        Bytes out(strlen(c.key) / 2);
        pbkdf2_hmac_sha1(p.data(), p.size(), s.data(), s.size(), c.iterations, out.data(), out.size());
        EXPECT_EQ(to_hex(out.data(), out.size()), c.key) << c.password << " x" << c.iterations;
    }
}

const struct {
    const char* key;
    const char* plain;
    const char* cipher;
} kAesCases[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(Aes, Fips197)
{
    for (const auto& c : kAesCases) {
        const Bytes key = from_hex(c.key), plain = from_hex(c.plain);
        // The length as bytes and as bits.
        for (unsigned length : {unsigned(key.size()), unsigned(key.size() * 8)}) {
            QlAesKeySchedule schedule;
            aes_expand_key(key.data(), length, &schedule);
            EXPECT_EQ(schedule.rounds, key.size() / 4 + 6);
            uint8_t out[16];
            aes_encrypt_block(&schedule, plain.data(), out);
            EXPECT_EQ(to_hex(out, 16), c.cipher) << c.key << " given as " << length;
            // In place.
            uint8_t block[16];
            memcpy(block, plain.data(), 16);
            aes_encrypt_block(&schedule, block, block);
            EXPECT_EQ(to_hex(block, 16), c.cipher);
        }
    }

    // Other lengths leave the schedule invalid, and it encrypts nothing.
    const Bytes key(32, 0x11);
    for (unsigned length : {0u, 8u, 15u, 20u, 33u, 64u, 127u, 512u}) {
        QlAesKeySchedule schedule;
        aes_expand_key(key.data(), length, &schedule);
        EXPECT_EQ(schedule.rounds, 0u) << length;
        uint8_t in[16] = {1, 2, 3}, out[16] = {};
        aes_encrypt_block(&schedule, in, out);
        EXPECT_EQ(to_hex(out, 16), std::string(32, '0'));
    }
}

// ---------------------------------------------------------------- every path

// Offers only some of the processor's features until the end of the scope.
class FeatureLimit {
public:
    explicit FeatureLimit(uint32_t mask) { ql_cpu_limit_features(mask); }
    ~FeatureLimit() { ql_cpu_limit_features(~0u); }
};

// Counter mode, and HMAC over the ciphertext as the AES entries take it, of
// `data` handed over in pieces of irregular sizes.
Bytes ctr_and_hmac(const Bytes& data, unsigned key_length)
{
    AesDecryptContext context = {};
    Bytes key(key_length);
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<uint8_t>(7 * i + 1);
    aes_expand_key(key.data(), key_length, &context.encryption.schedule);
    context.encryption.position = kQlAesBlockSize;
    hmac_sha1_begin(&context.encryption.hmac);
    hmac_sha1_key(key.data(), key.size(), &context.encryption.hmac);
    Bytes out = data;
    const size_t pieces[] = {1, 15, 16, 17, 64, 100, 4096, 0x7000};
    for (size_t at = 0, k = 0; at < out.size(); ++k) {
        const size_t n = std::min(pieces[k % 8], out.size() - at);
        aes_decrypt_data(out.data() + at, n, &context);
        at += n;
    }
    uint8_t code[kQlAesCodeSize];
    aes_hmac_finish(code, &context);
    out.insert(out.end(), code, code + sizeof code);
    return out;
}

TEST(CryptoPaths, EveryPathGivesTheKnownAnswersAndTheSameBytes)
{
    const struct {
        const char* name;
        uint32_t features;
    } paths[] = {
        {"portable", 0},
        {"SHA-1 with SSSE3", kQlCpuSsse3},
        {"SHA-1 on the SHA instructions", kQlCpuSsse3 | kQlCpuSha},
        {"AES-NI", kQlCpuAesNi},
        {"everything the processor has", ~0u},
    };
    std::mt19937 rng(17);
    Bytes data(3 * 0x7000 + 123);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());
    Bytes reference[3];
    {
        FeatureLimit portable(0);
        for (unsigned i = 0; i < 3; ++i)
            reference[i] = ctr_and_hmac(data, 16 + 8 * i);
    }

    std::string ran;
    for (const auto& path : paths) {
        const uint32_t features = path.features == ~0u ? ql_cpu_detected_features() : path.features;
        if ((ql_cpu_detected_features() & features) != features)
            continue;
        ran += std::string(ran.empty() ? "" : ", ") + path.name;
        SCOPED_TRACE(path.name);
        FeatureLimit limit(features);

        for (const auto& c : sha1_cases())
            for (size_t piece : {size_t(1), size_t(65), size_t(1) << 20}) {
                if (piece > 1 || c.data.size() < 1000) {
                    EXPECT_EQ(sha1_hex(c.data, piece), c.digest) << c.why << ", pieces of " << piece;
                }
            }
        EXPECT_EQ(hmac_hex(Bytes(80, 0xaa), text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data")),
                  "e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
        // One output block, two, the four of an AES-256 entry's keys, and
        // more than the lanes that run side by side (Python's hashlib made
        // the last two).
        const struct {
            const char* password;
            Bytes salt;
            uint32_t iterations;
            const char* key;
        } derivations[] = {
            {"password", text("salt"), 4096, "4b007901b765489abead49d926f721d065a429c1"},
            {"passwordPASSWORDpassword", text("saltSALTsaltSALTsaltSALTsaltSALTsalt"), 4096,
             "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
            {"benchmark", from_hex("000102030405060708090a0b0c0d0e0f"), 1000,
             "1346cca0fc343938b024a452ec14e39829ebc3a9fb1bb7a00c3318bf99505ace2263ad486d88e85aabc392687e14a86c"
             "0177722b3acda3fdfdc0a68ce03556993573"},
            {"benchmark", from_hex("0001020304050607"), 1000,
             "b028315bc4d3f6b7c2e7e658ba27e6c051653ed4475e368b785c1fe938de440d27d48a14fb1435511dec225913d270a2"
             "1b4aa6070fdd16c213a74b6c12b5348299e1f71412c0d8ec7f42a275fb073192082cb790ef1ebaf9d1962745d5ca1e02"
             "2127e0f2d8"},
        };
        for (const auto& d : derivations) {
            const Bytes password = text(d.password);
            Bytes derived(strlen(d.key) / 2);
            pbkdf2_hmac_sha1(password.data(), password.size(), d.salt.data(), d.salt.size(), d.iterations,
                             derived.data(), derived.size());
            EXPECT_EQ(to_hex(derived.data(), derived.size()), d.key) << derived.size() << " bytes";
        }

        // A block through the counter path: the counter one below the
        // plaintext, and zeros to XOR the keystream into.
        for (const auto& c : kAesCases) {
            const Bytes key = from_hex(c.key);
            QlAesKeySchedule schedule;
            aes_expand_key(key.data(), static_cast<unsigned>(key.size()), &schedule);
            Bytes counter = from_hex(c.plain);
            for (int b = 0; b < 8 && counter[b]-- == 0; ++b) {
            }
            uint8_t block[16] = {};
            aes_ctr_blocks(&schedule, counter.data(), block, 1);
            EXPECT_EQ(to_hex(block, 16), c.cipher) << c.key;
            EXPECT_EQ(to_hex(counter.data(), 16), c.plain) << "the counter ends as the block's";
        }
        for (unsigned i = 0; i < 3; ++i)
            EXPECT_TRUE(ctr_and_hmac(data, 16 + 8 * i) == reference[i]) << "AES-" << 128 + 64 * i;
    }
    RecordProperty("paths", ran);
    printf("paths run: %s\n", ran.c_str());
    EXPECT_EQ(ql_cpu_features(), ql_cpu_detected_features());
}

}  // namespace
