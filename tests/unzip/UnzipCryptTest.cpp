// Encrypted entries through the whole engine: the entries that zip -P and
// 7z -tzip wrote (traditional and AES), and the refusals, each of which must
// leave no file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stub/engine/unzip.h"
#include "stub/engine/unzipaes.h"
#include "tests/unzip/MemoryHost.h"
#include "tests/unzip/ZipWriter.h"

using namespace zip_writer;

namespace {

struct CryptoFixture {
    const char* name;
    const char* password;
    uint16_t flags;
    uint16_t method;
    uint16_t real_method;
    uint16_t dos_time;
    uint32_t crc;
    uint16_t key_bits;
    uint16_t vendor_version;
    const uint8_t* data;
    uint32_t size;
    uint32_t plain_size;
    uint32_t plain_crc;
};
#include "tests/crypto/fixtures/CryptoFixtures.inc"

const CryptoFixture& fixture(const char* name)
{
    for (const CryptoFixture& f : kCryptoFixtures)
        if (std::string(f.name) == name)
            return f;
    ADD_FAILURE() << name;
    return kCryptoFixtures[0];
}

// The fixture's entry as its tool wrote it.
Entry entry_of(const CryptoFixture& f)
{
    Entry e;
    e.name = f.name;
    e.flags = f.flags & ~8;
    e.method = f.method;
    e.time = f.dos_time;
    e.data.assign(f.data, f.data + f.size);
    e.raw = true;
    e.set_crc = true;
    e.crc = f.crc;
    e.set_sizes = true;
    e.compressed = f.size;
    e.uncompressed = f.plain_size;
    if (f.flags & 8)
        e.descriptor = kSignedDescriptor;
    if (f.key_bits)
        e.extra = aes_field(f.vendor_version, f.key_bits, f.real_method);
    return e;
}

std::string output_path(const std::string& name)
{
    std::string p = "C:\\dest\\" + name;
    for (char& c : p)
        c = c == '/' ? '\\' : c;
    return p;
}

class Extraction {
public:
    explicit Extraction(const std::vector<Entry>& entries, const char* password = kPassword)
        : host(archive(entries))
    {
        settings.host = &host;
        settings.archive_path = QlStr(QL("setup.exe"));
        settings.unzip_folder = QlStr(QL("C:\\dest"));
        settings.password = password;
        settings.aes = &aes;
        host.folders.insert("C:\\dest");
    }
    int run()
    {
        const int result = extract_all(settings);
        EXPECT_TRUE(host.faults.empty());
        for (const auto& f : host.files)
            EXPECT_TRUE(f.second.timed) << f.first << " was kept without its checks";
        return result;
    }
    const MemoryHost::File* file(const std::string& name) const
    {
        auto it = host.files.find(output_path(name));
        return it == host.files.end() ? nullptr : &it->second;
    }

    MemoryHost host;
    SfxAesDecryptionOf aes;
    SfxExtractSettings settings;
};

TEST(UnzipCrypt, EveryToolEntryExtracts)
{
    for (const CryptoFixture& f : kCryptoFixtures) {
        SCOPED_TRACE(f.name);
        Extraction x({entry_of(f)}, f.password);
        // Passwords of 100 bytes and more are refused before any reading.
        const bool too_long = strlen(f.password) >= 100;
        ASSERT_EQ(x.run(), too_long ? kSfxExtractFailed : kSfxExtractDone) << x.host.error_id();
        if (too_long) {
            EXPECT_EQ(x.host.error_id(), kSfxTextWrongPassword);
            EXPECT_TRUE(x.host.files.empty());
            continue;
        }
        const MemoryHost::File* out = x.file(f.name);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->bytes.size(), f.plain_size);
        EXPECT_EQ(crc(out->bytes), f.plain_crc);
    }
}

TEST(UnzipCrypt, RefusalsLeaveNoFile)
{
    const CryptoFixture& zip = fixture("ZipDeflated/large.txt");
    const CryptoFixture& aes = fixture("Aes256Deflated/large.txt");
    const CryptoFixture& aes_small = fixture("Aes128/small.txt");

    struct Case {
        const char* why;
        Entry entry;
        const char* password;
        bool with_aes;
        int id;
    };
    std::vector<Case> cases;
    cases.push_back({"traditional, wrong password", entry_of(zip), "wrong", true, kSfxTextWrongPassword});
    cases.push_back({"traditional, no password", entry_of(zip), nullptr, true, kSfxTextNoPassword});
    cases.push_back({"AES, wrong password", entry_of(aes), "wrong", true, kSfxTextWrongPassword});
    cases.push_back({"AES, no password", entry_of(aes), nullptr, true, kSfxTextNoPassword});
    cases.push_back({"AES in a variant without it", entry_of(aes), kPassword, false, kSfxTextUnsupportedMethod});
    Entry flipped = entry_of(aes);
    flipped.data[flipped.data.size() / 2] ^= 0x20;
    cases.push_back({"AES, a ciphertext byte flipped", flipped, kPassword, true, kSfxTextUnauthentic});
    Entry mac = entry_of(aes_small);
    mac.data.back() ^= 1;
    cases.push_back({"AES, the code flipped", mac, kPassword, true, kSfxTextUnauthentic});
    Entry ae1 = entry_of(aes_small);
    ae1.extra = aes_field(1, aes_small.key_bits, aes_small.real_method);
    cases.push_back({"AE-1 keeps its CRC check", ae1, kPassword, true, kSfxTextBadCrc});
    Entry short_zip = entry_of(zip);
    short_zip.data.resize(11);
    short_zip.compressed = 11;
    cases.push_back({"traditional, smaller than its header", short_zip, kPassword, true, kSfxTextBadHeader});
    Entry short_aes = entry_of(aes_small);
    short_aes.data.resize(8 + 2 + 10 - 1);
    short_aes.compressed = 8 + 2 + 10 - 1;
    cases.push_back({"AES, smaller than salt, verifier and code", short_aes, kPassword, true, kSfxTextBadHeader});
    Entry strength = entry_of(aes_small);
    strength.extra[8] = 4;  // no such key strength: the record is dropped
    cases.push_back({"AES record with strength 4", strength, kPassword, true, kSfxTextUnsupportedMethod});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Extraction x({stored("plain.txt", text("ok")), c.entry}, c.password);
        if (!c.with_aes)
            x.settings.aes = nullptr;
        EXPECT_EQ(x.run(), kSfxExtractFailed);
        EXPECT_EQ(x.host.error_id(), c.id);
        EXPECT_EQ(x.host.files.size(), 1u);
        EXPECT_NE(x.file("plain.txt"), nullptr);
    }

    Entry ae1_right = ae1;
    ae1_right.crc = aes_small.plain_crc;
    Extraction right({ae1_right});
    EXPECT_EQ(right.run(), kSfxExtractDone) << "AE-1 with its real CRC";
}

TEST(UnzipCrypt, TruncatedEncryptionHeaderIsPlace14)
{
    Bytes a = archive({entry_of(fixture("ZipStored/small.txt"))}, false);
    a.resize(30 + strlen("ZipStored/small.txt") + 5);
    MemoryHost host(a);
    SfxExtractSettings settings;
    settings.host = &host;
    settings.password = kPassword;
    EXPECT_EQ(extract_all(settings), kSfxExtractFailed);
    EXPECT_EQ(host.error_id(), kSfxTextReadError);
    EXPECT_EQ(host.errors.at(0).place, 14);
    EXPECT_TRUE(host.files.empty());
}

TEST(UnzipCrypt, WrongPasswordThatPassesTheCheckByteIsCaughtByTheCrc)
{
    Entry e = deflated("secret.txt", sample(5000));
    e.password = "right";
    const Bytes a = archive({e});
    const uint8_t* header = a.data() + 30 + e.name.size();
    const uint8_t check = crypt_check_byte(0, e.time, crc(e.plain));
    std::string wrong;
    for (int i = 0; wrong.empty(); ++i) {
        const std::string candidate = "wrong" + std::to_string(i);
        QlZipCryptKeys keys;
        crypt_init_keys(&keys, candidate.data(), candidate.size());
        if (crypt_check_header(&keys, header, check) == 0)
            wrong = candidate;
    }
    MemoryHost host(a);
    SfxExtractSettings settings;
    settings.host = &host;
    settings.password = wrong.c_str();
    EXPECT_EQ(extract_all(settings), kSfxExtractFailed);
    // Garbage inflates to the wrong size or CRC, never to a kept file.
    EXPECT_TRUE(host.error_id() == kSfxTextBadCrc || host.error_id() == kSfxTextSizeMismatch) << host.error_id();
    EXPECT_TRUE(host.files.empty());
}

TEST(UnzipCrypt, Ae2SkipsTheCrcCheckOfItsOwnEntryOnly)
{
    Entry bad = deflated("later.txt", sample(300));
    bad.set_crc = true;
    bad.crc = 0xDEADBEEF;
    Extraction x({entry_of(fixture("Aes256/small.txt")), bad});
    EXPECT_EQ(x.run(), kSfxExtractFailed);
    EXPECT_EQ(x.host.error_id(), kSfxTextBadCrc);
    EXPECT_NE(x.file("Aes256/small.txt"), nullptr);
    EXPECT_EQ(x.file("later.txt"), nullptr);
}

TEST(UnzipCrypt, EncryptedAndPlainEntriesMixed)
{
    Entry traditional = deflated("t.txt", sample(40000, 3));
    traditional.password = kPassword;
    Entry traditional_stored = stored("ts.txt", sample(100, 4));
    traditional_stored.password = kPassword;
    traditional_stored.descriptor = kBareDescriptor;
    Extraction x({stored("p1.txt", text("one")), entry_of(fixture("Aes128Deflated/large.txt")), traditional,
                  entry_of(fixture("SevenZipCrypto/small.txt")), traditional_stored,
                  entry_of(fixture("ZipStored/empty.txt")), deflated("p2.txt", sample(10))});
    ASSERT_EQ(x.run(), kSfxExtractDone) << x.host.error_id();
    EXPECT_EQ(x.file("t.txt")->bytes, sample(40000, 3));
    EXPECT_EQ(x.file("ts.txt")->bytes, sample(100, 4));
    EXPECT_EQ(x.file("p2.txt")->bytes, sample(10));
    EXPECT_EQ(x.host.files.size(), 7u);
}

}  // namespace
