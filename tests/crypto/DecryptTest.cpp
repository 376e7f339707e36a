// Decryption of entries written by zip -P and 7z -tzip (traditional and AES),
// and the refusals: wrong passwords, tampered data, sizes too small for the
// encryption's own bytes, archives that end early.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "builder/crc32.h"
#include "stub/engine/aesdcryp.h"
#include "stub/engine/crypt.h"
#include "stub/engine/inflate.h"
#include "tests/support/RecordingHooks.h"

namespace {

struct CryptoFixture {
    const char* name;
    const char* password;
    uint16_t flags;
    uint16_t method;         // as in the local header (99 for AES)
    uint16_t real_method;    // for AES, from extra field 0x9901
    uint16_t dos_time;
    uint32_t crc;            // as in the local header (0 for AE-2)
    uint16_t key_bits;       // 0 for traditional encryption
    uint16_t vendor_version;
    const uint8_t* data;
    uint32_t size;           // the entry's compressed size
    uint32_t plain_size;
    uint32_t plain_crc;
};
#include "tests/crypto/fixtures/CryptoFixtures.inc"

typedef std::vector<uint8_t> Bytes;

const char kSmallText[] = "The quick brown fox jumps over the lazy dog.\n";
const uint32_t kRefill = 0x7000;   // the engine's input buffer

// An archive: the entry's bytes, then whatever follows it; delivered in
// pieces of at most `chunk`, then the end or a read failure.
class ArchiveSource : public QlByteSource {
public:
    ArchiveSource(Bytes bytes, size_t chunk, bool fail_at_end = false)
        : bytes_(std::move(bytes)), chunk_(chunk), fail_(fail_at_end) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        ++reads;
        const size_t n = std::min<size_t>({capacity, chunk_, bytes_.size() - pos});
        if (n == 0)
            return fail_ ? kReadFailed : 0;
        memcpy(buffer, bytes_.data() + pos, n);
        pos += n;
        return static_cast<int32_t>(n);
    }
    int reads = 0;
    size_t pos = 0;

private:
    Bytes bytes_;
    size_t chunk_;
    bool fail_;
};

Bytes fixture_bytes(const CryptoFixture& f)
{
    return Bytes(f.data, f.data + f.size);
}

// The bytes of the next local header, which no layer may hand on as data.
Bytes with_next_header(Bytes entry)
{
    const uint8_t next[] = {'P', 'K', 3, 4, 0xEE, 0xEE};
    entry.insert(entry.end(), next, next + sizeof next);
    return entry;
}

uint32_t crc_of(const Bytes& b)
{
    return crc32_update(0, b.data(), b.size());
}

// Everything a layer hands on, asked for `capacity` bytes at a time.
Bytes drain(QlByteSource* layer, uint32_t capacity)
{
    Bytes out, buffer(capacity);
    for (;;) {
        const int32_t n = layer->fill(buffer.data(), capacity);
        if (n <= 0)
            break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}

class CollectingSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        bytes.insert(bytes.end(), data, data + count);
        return 0;
    }
    Bytes bytes;
};

// The entry's plain bytes: stored ones as they come, deflated ones inflated.
Bytes decode(QlByteSource* layer, uint16_t method, uint32_t capacity)
{
    if (method == 0)
        return drain(layer, capacity);
    struct Buffers {
        uint8_t window[kQlInflateMinWindow];
        uint8_t input[kRefill];
        uint8_t output[kRefill];
        QlInflateState state;
    };
    std::unique_ptr<Buffers> b(new Buffers);
    inflate_setup(&b->state, b->window, sizeof b->window, b->input, std::min<uint32_t>(capacity < 64 ? 64 : capacity, kRefill));
    CollectingSink sink;
    QlOutputWindow out = {b->output, kRefill, 0, &sink};
    EXPECT_EQ(inflate_data(&b->state, kQlDeflate, layer, &out), 0);
    EXPECT_EQ(output_window_flush(&out), 0);
    return sink.bytes;
}

void expect_plain(const CryptoFixture& f, const Bytes& plain, const std::string& how)
{
    EXPECT_EQ(plain.size(), f.plain_size) << f.name << how;
    EXPECT_EQ(crc_of(plain), f.plain_crc) << f.name << how;
    if (f.plain_size == sizeof kSmallText - 1) {
        EXPECT_EQ(std::string(plain.begin(), plain.end()), kSmallText) << f.name << how;
    }
}

const uint32_t kCapacities[] = {1, 7, 64, kRefill};

// ---------------------------------------------------------------- traditional

uint8_t check_byte_of(const CryptoFixture& f)
{
    return crypt_check_byte(f.flags, f.dos_time, f.crc);
}

TEST(ZipCrypt, FixturesDecryptToTheirFiles)
{
    int seen = 0;
    for (const CryptoFixture& f : kCryptoFixtures) {
        if (f.key_bits != 0)
            continue;
        ++seen;
        for (uint32_t capacity : kCapacities) {
            ArchiveSource archive(with_next_header(fixture_bytes(f)), capacity == 7 ? 5 : SIZE_MAX);
            QlZipCryptSource layer;
            ASSERT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.size, check_byte_of(f)), kQlCryptOk)
                << f.name;
            EXPECT_EQ(layer.remaining(), f.size - kQlCryptHeaderSize);
            expect_plain(f, decode(&layer, f.method, capacity), " in pieces of " + std::to_string(capacity));
            EXPECT_EQ(layer.remaining(), 0u);
            EXPECT_EQ(archive.pos, f.size) << f.name << ": read past the entry";
        }
    }
    EXPECT_EQ(seen, 8);
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(ZipCrypt, CheckByteFromTheTimeWithDeferredSizesElseFromTheCrc)
{
    // zip -P sets bit 3 and checks against the time; 7z checks against the
    // CRC. In these fixtures the two bytes differ, so the wrong rule refuses
    // the right password.
    for (const CryptoFixture& f : kCryptoFixtures) {
        if (f.key_bits != 0 || f.crc == 0)
            continue;
        ASSERT_NE(f.dos_time >> 8, f.crc >> 24) << f.name;
        const bool deferred = (f.flags & 8) != 0;
        EXPECT_EQ(check_byte_of(f), deferred ? f.dos_time >> 8 : f.crc >> 24) << f.name;
        const uint8_t other_rule = crypt_check_byte(f.flags ^ 8, f.dos_time, f.crc);
        ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
        QlZipCryptSource layer;
        EXPECT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.size, other_rule), kQlCryptWrongPassword)
            << f.name;
    }
}

TEST(ZipCrypt, WrongPasswords)
{
    const CryptoFixture& f = kCryptoFixtures[0];
    ASSERT_STREQ(f.name, "ZipStored/small.txt");

    // Refused by the check byte, after the header and before any data.
    for (const char* wrong : {"Secret", "secret ", "", "secre"}) {
        ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
        QlZipCryptSource layer;
        EXPECT_EQ(layer.begin(&archive, wrong, strlen(wrong), f.size, check_byte_of(f)), kQlCryptWrongPassword)
            << wrong;
        EXPECT_EQ(archive.pos, size_t(kQlCryptHeaderSize));
        EXPECT_EQ(drain(&layer, 64).size(), 0u);
    }
    // No password: refused without reading.
    ArchiveSource untouched(fixture_bytes(f), SIZE_MAX);
    QlZipCryptSource layer;
    EXPECT_EQ(layer.begin(&untouched, nullptr, 0, f.size, check_byte_of(f)), kQlCryptWrongPassword);
    EXPECT_EQ(untouched.reads, 0);

    // One wrong password in 256 passes the check byte: the data then fails
    // its CRC.
    int passed = 0;
    for (int i = 0; i < 5000 && passed < 3; ++i) {
        const std::string wrong = "wrong" + std::to_string(i);
        ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
        QlZipCryptSource candidate;
        if (candidate.begin(&archive, wrong.data(), wrong.size(), f.size, check_byte_of(f)) != kQlCryptOk)
            continue;
        ++passed;
        const Bytes garbage = drain(&candidate, kRefill);
        EXPECT_EQ(garbage.size(), f.plain_size) << wrong;
        EXPECT_NE(crc_of(garbage), f.plain_crc) << wrong;
    }
    EXPECT_EQ(passed, 3);
}

TEST(ZipCrypt, EntriesTooShortForTheHeader)
{
    const CryptoFixture& f = kCryptoFixtures[0];
    // Below 12 bytes the size cannot hold the header: damaged, refused before
    // reading, and no data count wraps.
    for (uint64_t size = 0; size < kQlCryptHeaderSize; ++size) {
        ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
        QlZipCryptSource layer;
        EXPECT_EQ(layer.begin(&archive, f.password, strlen(f.password), size, check_byte_of(f)), kQlCryptDamaged)
            << size;
        EXPECT_EQ(archive.reads, 0);
        EXPECT_EQ(layer.remaining(), 0u);
        EXPECT_EQ(drain(&layer, 64).size(), 0u);
    }
    // Exactly the header: an empty file.
    {
        ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
        QlZipCryptSource layer;
        EXPECT_EQ(layer.begin(&archive, f.password, strlen(f.password), kQlCryptHeaderSize, check_byte_of(f)),
                  kQlCryptOk);
        EXPECT_EQ(drain(&layer, 64).size(), 0u);
    }
    // The archive ends, or fails, inside the header.
    for (bool fails : {false, true}) {
        const Bytes head(f.data, f.data + 5);
        ArchiveSource archive(head, 2, fails);
        QlZipCryptSource layer;
        EXPECT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.size, check_byte_of(f)),
                  kQlCryptReadFailed);
    }
    // The archive ends inside the data: the layer ends there too.
    {
        const Bytes cut(f.data, f.data + 30);
        ArchiveSource archive(cut, SIZE_MAX);
        QlZipCryptSource layer;
        EXPECT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.size, check_byte_of(f)), kQlCryptOk);
        EXPECT_EQ(drain(&layer, 64).size(), 18u);
        EXPECT_EQ(layer.remaining(), f.size - 30u);
    }
}

// ---------------------------------------------------------------- AES

TEST(AesDecrypt, FixturesDecryptAndAuthenticate)
{
    int seen = 0;
    for (const CryptoFixture& f : kCryptoFixtures) {
        if (f.key_bits == 0)
            continue;
        ++seen;
        EXPECT_EQ(f.method, 99) << f.name;
        EXPECT_EQ(f.vendor_version, 2) << f.name;
        for (uint32_t capacity : kCapacities) {
            ArchiveSource archive(with_next_header(fixture_bytes(f)), capacity == 7 ? 5 : SIZE_MAX);
            QlAesDecryptSource layer;
            ASSERT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.key_bits, f.size), kQlCryptOk)
                << f.name;
            const uint32_t overhead = aes_salt_length(aes_mode_for_bits(f.key_bits)) + 2 + 10;
            EXPECT_EQ(layer.remaining(), f.size - overhead);
            expect_plain(f, decode(&layer, f.real_method, capacity), " in pieces of " + std::to_string(capacity));
            // The code is not data: it is still in the archive.
            EXPECT_EQ(archive.pos, f.size - 10u) << f.name;
            EXPECT_EQ(layer.check_authentication(), kQlCryptOk) << f.name;
            EXPECT_EQ(archive.pos, f.size) << f.name;
            EXPECT_EQ(layer.check_authentication(), kQlCryptOk) << f.name << ", asked again";
        }
    }
    EXPECT_EQ(seen, 8);
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(AesDecrypt, WrongPasswordsAreRefusedByTheVerifier)
{
    for (const CryptoFixture& f : kCryptoFixtures) {
        if (f.key_bits == 0 || f.plain_size != sizeof kSmallText - 1)
            continue;
        const std::string right = f.password;
        for (const std::string& wrong : {std::string("Secret"), right + "x", right.substr(0, right.size() - 1)}) {
            ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
            QlAesDecryptSource layer;
            EXPECT_EQ(layer.begin(&archive, wrong.data(), wrong.size(), f.key_bits, f.size), kQlCryptWrongPassword)
                << f.name << " with " << wrong;
            EXPECT_EQ(drain(&layer, 64).size(), 0u);
            EXPECT_EQ(layer.check_authentication(), kQlCryptUnauthentic);
        }
        ArchiveSource untouched(fixture_bytes(f), SIZE_MAX);
        QlAesDecryptSource layer;
        EXPECT_EQ(layer.begin(&untouched, nullptr, 0, f.key_bits, f.size), kQlCryptWrongPassword);
        EXPECT_EQ(untouched.reads, 0);
    }
}

TEST(AesDecrypt, TamperedEntriesFailTheAuthentication)
{
    for (const CryptoFixture& f : kCryptoFixtures) {
        if (f.key_bits == 0 || f.plain_size == 0)
            continue;
        const uint32_t header = aes_salt_length(aes_mode_for_bits(f.key_bits)) + 2;
        const struct {
            uint32_t at;
            const char* what;
        } flips[] = {
            {header, "first ciphertext byte"},
            {f.size - 11, "last ciphertext byte"},
            {f.size - 10, "first code byte"},
            {f.size - 1, "last code byte"},
        };
        for (const auto& flip : flips) {
            Bytes bytes = fixture_bytes(f);
            bytes[flip.at] ^= 0x01;
            ArchiveSource archive(bytes, SIZE_MAX);
            QlAesDecryptSource layer;
            ASSERT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.key_bits, f.size), kQlCryptOk);
            drain(&layer, kRefill);
            EXPECT_EQ(layer.check_authentication(), kQlCryptUnauthentic) << f.name << ": " << flip.what;
            EXPECT_EQ(layer.check_authentication(), kQlCryptUnauthentic) << f.name << ": asked again";
        }
        // Ciphertext left unread is not authentic either.
        ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
        QlAesDecryptSource layer;
        ASSERT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.key_bits, f.size), kQlCryptOk);
        uint8_t one[1];
        EXPECT_EQ(layer.fill(one, 1), 1);
        EXPECT_EQ(layer.check_authentication(), kQlCryptUnauthentic) << f.name << ": data left";
    }
}

TEST(AesDecrypt, EntriesTooShortForSaltVerifierAndCode)
{
    for (const CryptoFixture& f : kCryptoFixtures) {
        if (f.key_bits == 0 || f.plain_size != 0)
            continue;
        const uint32_t overhead = aes_salt_length(aes_mode_for_bits(f.key_bits)) + 2 + 10;
        ASSERT_EQ(f.size, overhead) << f.name;
        for (uint64_t size = 0; size < overhead; ++size) {
            ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
            QlAesDecryptSource layer;
            EXPECT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.key_bits, size), kQlCryptDamaged)
                << f.name << " size " << size;
            EXPECT_EQ(archive.reads, 0);
            EXPECT_EQ(layer.remaining(), 0u);
            EXPECT_EQ(drain(&layer, 64).size(), 0u);
            EXPECT_EQ(layer.check_authentication(), kQlCryptUnauthentic);
        }
        // The archive ends inside the salt and verifier, or inside the code.
        for (uint32_t cut : {0u, overhead - 11, overhead - 5}) {
            ArchiveSource archive(Bytes(f.data, f.data + cut), 3);
            QlAesDecryptSource layer;
            const QlCryptResult begun = layer.begin(&archive, f.password, strlen(f.password), f.key_bits, f.size);
            if (cut < overhead - 10)
                EXPECT_EQ(begun, kQlCryptReadFailed) << f.name << " cut at " << cut;
            else
                EXPECT_EQ(layer.check_authentication(), kQlCryptReadFailed) << f.name << " cut at " << cut;
        }
    }
    // Key strengths the format does not have.
    const CryptoFixture& f = kCryptoFixtures[0];
    for (unsigned bits : {0u, 1u, 3u, 64u, 129u, 512u}) {
        ArchiveSource archive(fixture_bytes(f), SIZE_MAX);
        QlAesDecryptSource layer;
        EXPECT_EQ(layer.begin(&archive, "secret", 6, bits, 1000), kQlCryptDamaged) << bits;
        EXPECT_EQ(archive.reads, 0);
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

// An AES entry of our own: salt, verifier, ciphertext, code.
Bytes make_aes_entry(unsigned key_bits, const std::string& password, const Bytes& plain, uint32_t seed)
{
    const unsigned mode = aes_mode_for_bits(key_bits);
    std::mt19937 rng(seed);
    Bytes salt(aes_salt_length(mode));
    for (uint8_t& b : salt)
        b = static_cast<uint8_t>(rng());
    AesDecryptContext context = {};
    uint8_t verifier[2];
    EXPECT_EQ(aes_derive_keys(mode, reinterpret_cast<const uint8_t*>(password.data()), password.size(), salt.data(),
                              verifier, &context),
              0);
    Bytes cipher = plain;
    aes_ctr_crypt(&context, cipher.data(), cipher.size());
    hmac_sha1_data(cipher.data(), cipher.size(), &context.encryption.hmac);
    uint8_t code[10];
    EXPECT_EQ(aes_hmac_finish(code, &context), 10);
    Bytes entry = salt;
    entry.insert(entry.end(), verifier, verifier + 2);
    entry.insert(entry.end(), cipher.begin(), cipher.end());
    entry.insert(entry.end(), code, code + 10);
    return entry;
}

TEST(AesDecrypt, LongEntriesAndLongPasswords)
{
    std::mt19937 rng(11);
    Bytes plain(3 * kRefill + 123);
    for (uint8_t& b : plain)
        b = static_cast<uint8_t>(rng());
    const std::string p100(kPassword100), p128(128, 'k'), p129(129, 'k');
    const struct {
        unsigned bits;
        std::string password;
        QlCryptResult expected;
        const char* why;
    } cases[] = {
        {128, "secret", kQlCryptOk, "over three refills"},
        {192, p100, kQlCryptOk, "the engine's limit is not the cipher's"},
        {256, p128, kQlCryptOk, "the longest password the derivation takes"},
        {256, p129, kQlCryptWrongPassword, "longer ones can never match"},
    };
    for (const auto& c : cases) {
        const Bytes entry = make_aes_entry(c.bits, c.password == p129 ? p128 : c.password, plain, c.bits);
        for (uint32_t capacity : {uint32_t(13), kRefill}) {
            ArchiveSource archive(with_next_header(entry), capacity == 13 ? 4096 : SIZE_MAX);
            QlAesDecryptSource layer;
            ASSERT_EQ(layer.begin(&archive, c.password.data(), c.password.size(), c.bits, entry.size()), c.expected)
                << c.why;
            if (c.expected != kQlCryptOk)
                continue;
            EXPECT_TRUE(drain(&layer, capacity) == plain) << c.why << " in pieces of " << capacity;
            EXPECT_EQ(layer.check_authentication(), kQlCryptOk) << c.why;
        }
    }
    // The derivation's own refusals.
    AesDecryptContext context = {};
    uint8_t salt[16] = {}, verifier[2];
    EXPECT_EQ(aes_derive_keys(3, reinterpret_cast<const uint8_t*>(p129.data()), 129, salt, verifier, &context), -100);
    EXPECT_EQ(aes_derive_keys(0, reinterpret_cast<const uint8_t*>("a"), 1, salt, verifier, &context), -101);
    EXPECT_EQ(aes_derive_keys(4, reinterpret_cast<const uint8_t*>("a"), 1, salt, verifier, &context), -101);
}

TEST(AesDecrypt, CounterIsLittleEndianOverItsFirstEightBytes)
{
    AesDecryptContext context = {};
    const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    aes_expand_key(key, 16, &context.encryption.schedule);
    const struct {
        uint8_t before[8];
        uint8_t after[8];
        const char* why;
    } cases[] = {
        {{0}, {1}, "the first block has counter 1"},
        {{0xFF}, {0, 1}, "a carry into byte 1"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0}, "the carry stops at byte 7"},
    };
    for (const auto& c : cases) {
        memset(context.encryption.counter, 0, 16);
        memcpy(context.encryption.counter, c.before, 8);
        context.encryption.position = 16;
        uint8_t stream[16] = {};
        aes_ctr_crypt(&context, stream, 16);
        uint8_t counter[16] = {}, expected[16];
        memcpy(counter, c.after, 8);
        aes_encrypt_block(&context.encryption.schedule, counter, expected);
        EXPECT_EQ(memcmp(stream, expected, 16), 0) << c.why;
        EXPECT_EQ(memcmp(context.encryption.counter, counter, 16), 0) << c.why;
    }
}

TEST(AesDecrypt, OnlyAe2EntriesGoWithoutTheCrcCheck)
{
    EXPECT_TRUE(aes_entry_checks_crc(1));
    EXPECT_FALSE(aes_entry_checks_crc(2));
    EXPECT_TRUE(aes_entry_checks_crc(3)) << "an unknown version keeps the safer check";
    // 7z writes AE-2 with CRC 0 in the header; the plain data has its real
    // CRC, which an AE-1 entry would carry and the engine would compare.
    for (const CryptoFixture& f : kCryptoFixtures) {
        if (f.key_bits != 0 && f.plain_size != 0) {
            EXPECT_EQ(f.crc, 0u) << f.name;
        }
    }
}

// ---------------------------------------------------------------- entry after entry

TEST(Decrypt, OneLayerServesEntryAfterEntry)
{
    // The engine keeps one layer of each kind and starts it at every
    // encrypted entry: nothing of a finished, refused or tampered entry may
    // reach the next.
    const CryptoFixture* aes_small = nullptr;
    const CryptoFixture* aes_large = nullptr;
    const CryptoFixture* zip_small = nullptr;
    for (const CryptoFixture& f : kCryptoFixtures) {
        if (std::string(f.name) == "Aes256/small.txt")
            aes_small = &f;
        if (std::string(f.name) == "Aes128Deflated/large.txt")
            aes_large = &f;
        if (std::string(f.name) == "SevenZipCrypto/small.txt")
            zip_small = &f;
    }
    ASSERT_TRUE(aes_small && aes_large && zip_small);

    QlAesDecryptSource aes;
    QlZipCryptSource zip;
    {
        ArchiveSource archive(fixture_bytes(*aes_small), SIZE_MAX);
        ASSERT_EQ(aes.begin(&archive, kPassword, 6, 256, aes_small->size), kQlCryptOk);
        drain(&aes, kRefill);
        EXPECT_EQ(aes.check_authentication(), kQlCryptOk);
    }
    {
        // Tampered: refused, and the refusal stays with this entry.
        Bytes bytes = fixture_bytes(*aes_large);
        bytes[40] ^= 0x80;
        ArchiveSource archive(bytes, SIZE_MAX);
        ASSERT_EQ(aes.begin(&archive, kPassword, 6, 128, aes_large->size), kQlCryptOk);
        drain(&aes, kRefill);
        EXPECT_EQ(aes.check_authentication(), kQlCryptUnauthentic);
    }
    {
        ArchiveSource archive(fixture_bytes(*zip_small), SIZE_MAX);
        ASSERT_EQ(zip.begin(&archive, "wrong", 5, zip_small->size, check_byte_of(*zip_small)), kQlCryptWrongPassword);
    }
    {
        ArchiveSource archive(fixture_bytes(*zip_small), SIZE_MAX);
        ASSERT_EQ(zip.begin(&archive, kPassword, 6, zip_small->size, check_byte_of(*zip_small)), kQlCryptOk);
        expect_plain(*zip_small, drain(&zip, kRefill), " after a refused one");
    }
    {
        ArchiveSource archive(fixture_bytes(*aes_large), SIZE_MAX);
        ASSERT_EQ(aes.begin(&archive, kPassword, 6, 128, aes_large->size), kQlCryptOk);
        expect_plain(*aes_large, decode(&aes, 8, kRefill), " after a tampered one");
        EXPECT_EQ(aes.check_authentication(), kQlCryptOk);
    }
}

// A source that stores more than it was asked for is an internal fault:
// reported, and the entry's count stays right.
class OverfillingSource : public QlByteSource {
public:
    explicit OverfillingSource(const Bytes& bytes) : bytes_(bytes) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        const size_t n = std::min<size_t>(bytes_.size() - pos_, capacity + (pos_ > 0 ? 3 : 0));
        memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        return static_cast<int32_t>(n);
    }

private:
    Bytes bytes_;
    size_t pos_ = 0;
};

TEST(Decrypt, AnOverfillingArchiveIsReported)
{
    const CryptoFixture& f = kCryptoFixtures[0];
    OverfillingSource archive(with_next_header(fixture_bytes(f)));
    QlZipCryptSource layer;
    Bytes buffer(64);
    ASSERT_EQ(layer.begin(&archive, f.password, strlen(f.password), f.size, check_byte_of(f)), kQlCryptOk);
    EXPECT_EQ(layer.fill(buffer.data(), 10), 10);
    const std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].source, "crypt");
    EXPECT_EQ(reports[0].line, kCryptOverfill);
    EXPECT_EQ(layer.remaining(), f.size - kQlCryptHeaderSize - 10u);
}

}  // namespace
