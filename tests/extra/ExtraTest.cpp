// The extra-field objects: parsing an area, writing objects back, and the
// evaluation for one entry.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "stub/engine/Qlextra.h"
#include "tests/support/RecordingHooks.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void add16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void add32(Bytes& b, uint32_t v)
{
    add16(b, uint16_t(v));
    add16(b, uint16_t(v >> 16));
}

void add64(Bytes& b, uint64_t v)
{
    add32(b, uint32_t(v));
    add32(b, uint32_t(v >> 32));
}

// One sub-field: ID, the size of `data`, then `data`.
Bytes field(uint16_t id, const Bytes& data)
{
    Bytes b;
    add16(b, id);
    add16(b, uint16_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// A sub-field whose size word claims `size` whatever follows.
Bytes lyingField(uint16_t id, uint16_t size, const Bytes& data)
{
    Bytes b;
    add16(b, id);
    add16(b, size);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes zeros(size_t n)
{
    return Bytes(n, 0);
}

Bytes zip64Data(std::vector<uint64_t> values, bool disk = false)
{
    Bytes b;
    for (uint64_t v : values)
        add64(b, v);
    if (disk)
        add32(b, 7);
    return b;
}

Bytes aesData(uint16_t version, const char* vendor, uint8_t strength, uint16_t method)
{
    Bytes b;
    add16(b, version);
    b.push_back(uint8_t(vendor[0]));
    b.push_back(uint8_t(vendor[1]));
    b.push_back(strength);
    add16(b, method);
    return b;
}

Bytes cryptoApiData(uint16_t version, uint16_t keyBits, uint16_t method, size_t size = 12)
{
    Bytes b;
    add16(b, version);
    b.push_back('Q');
    b.push_back('L');
    add16(b, keyBits);
    add16(b, method);
    add16(b, 0x1111);
    add16(b, 0x2222);
    b.resize(size, 0);
    return b;
}

Bytes ntfsData(size_t further = 0)
{
    Bytes b;
    add32(b, 0);
    add16(b, 1);
    add16(b, 24);
    add64(b, 0x01D7000000000001ULL);
    add64(b, 0x01D7000000000002ULL);
    add64(b, 0x01D7000000000003ULL);
    for (size_t i = 0; i < further; ++i)
        b.push_back(uint8_t(0xA0 + i));
    return b;
}

Bytes unicodeData(uint8_t version, uint32_t crc, const std::string& utf8)
{
    Bytes b;
    b.push_back(version);
    add32(b, crc);
    b.insert(b.end(), utf8.begin(), utf8.end());
    return b;
}

Bytes pkData(uint16_t format, size_t further = 0)
{
    Bytes b;
    add16(b, format);
    add16(b, 0x6610);
    add16(b, 256);
    add16(b, 1);
    for (size_t i = 0; i < further; ++i)
        b.push_back(uint8_t(i));
    return b;
}

std::string kindOf(QlExtraType* object)
{
    if (dynamic_cast<QlExtraZip64*>(object)) return "Zip64";
    if (dynamic_cast<QlExtraWin32Attr*>(object)) return "Win32Attr";
    if (dynamic_cast<QlExtraPKCrypt*>(object)) return "PKCrypt";
    if (dynamic_cast<QlExtraUnicodeFilename*>(object)) return "UnicodeFilename";
    if (dynamic_cast<QlExtraUnicodeComment*>(object)) return "UnicodeComment";
    if (dynamic_cast<QlExtraAesCrypt*>(object)) return "AesCrypt";
    if (dynamic_cast<QlExtraCryptoAPI*>(object)) return "CryptoAPI";
    if (dynamic_cast<QlExtraGeneric*>(object)) return "Generic";
    return "?";
}

// The kinds of the objects of an area, e.g. "Zip64 Generic".
std::string kindsOf(const Bytes& area)
{
    QlExtraList list(area.data(), area.size());
    std::string kinds;
    int n = 0;
    for (QlExtraType* o = list.First(); o != nullptr; o = list.Next(), ++n)
        kinds += (kinds.empty() ? "" : " ") + kindOf(o);
    EXPECT_EQ(n, list.Count());
    return kinds;
}

// The area written back from its objects.
Bytes writtenBack(const Bytes& area)
{
    QlExtraList list(area.data(), area.size());
    Bytes out(area.size() + 64);
    uint8_t* p = out.data();
    for (QlExtraType* o = list.First(); o != nullptr; o = list.Next()) {
        p = o->Write(p, out.data() + out.size() - p);
        if (p == nullptr)
            return Bytes();
    }
    out.resize(p - out.data());
    return out;
}

std::u16string unitsOf(const QlStr& s)
{
    std::u16string u;
    for (int i = 0; i < s.Length(); ++i)
        u += char16_t(s.Text()[i]);
    return u;
}

const uint32_t kCrcATxt = 0xC1EBF7BA;  // CRC-32 of "a.txt"

}  // namespace

TEST(ExtraList, AreasOfEveryKind)
{
    const Bytes generic = field(0x5455, {3, 1, 2, 3, 4});
    struct Case {
        Bytes area;
        const char* kinds;
        const char* why;
    } cases[] = {
        {{}, "", "empty area"},
        {generic + Bytes{1, 2, 3}, "Generic", "3 stray bytes after the last field"},
        {generic + Bytes{0, 0, 0, 0}, "Generic Generic", "a trailing field of size 0"},
        {field(0xCAFE, {}), "Generic", "unknown ID, no data"},
        // Zip64
        {field(0x0001, zip64Data({})), "Zip64", "no values"},
        {field(0x0001, zip64Data({}, true)), "Zip64", "disk number only"},
        {field(0x0001, zip64Data({1, 2})), "Zip64", "two values"},
        {field(0x0001, zip64Data({1, 2}, true)), "Zip64", "size 20: two values and the disk"},
        {field(0x0001, zip64Data({1, 2, 3}, true)), "Zip64", "size 28, the largest"},
        {field(0x0001, zeros(30)) + generic, "Generic", "size 30 is skipped"},
        {field(0x0001, zeros(32)) + generic, "Generic", "size 32 is skipped"},
        {field(0x0001, zeros(6)) + generic, "Generic", "size 6 is skipped"},
        // NTFS times
        {field(0x000A, ntfsData()), "Win32Attr", "the standard 32 bytes"},
        {field(0x000A, ntfsData(5)), "Win32Attr", "further bytes kept"},
        {field(0x000A, zeros(24)), "Generic", "size 24 is not of the kind"},
        // strong encryption
        {field(0x0017, pkData(2)), "PKCrypt", "format 2"},
        {field(0x0017, pkData(2, 3)), "PKCrypt", "format 2 with further bytes"},
        {field(0x0017, pkData(3)), "Generic", "format 3"},
        {field(0x0017, zeros(7)) + generic, "Generic", "size 7 is skipped"},
        // Unicode path and comment
        {field(0x7075, unicodeData(1, kCrcATxt, "b")), "UnicodeFilename", "version 1"},
        {field(0x7075, unicodeData(2, kCrcATxt, "b")), "Generic", "version 2"},
        {field(0x7075, unicodeData(1, kCrcATxt, "")), "Generic", "size 5: no text"},
        {field(0x6375, unicodeData(1, 0, "note")), "UnicodeComment", "comment"},
        {field(0x6375, Bytes{}), "Generic", "empty comment field"},
        // 0x9901
        {field(0x9901, aesData(1, "AE", 1, 8)), "AesCrypt", "AE-1"},
        {field(0x9901, aesData(2, "AE", 3, 0)), "AesCrypt", "AE-2"},
        {field(0x9901, aesData(3, "AE", 3, 0)), "Generic", "AE version 3: CryptoAPI refuses too"},
        {field(0x9901, aesData(2, "XY", 3, 0)), "Generic", "other vendor"},
        {field(0x9901, aesData(2, "AE", 4, 0)) + generic, "Generic", "strength 4 is skipped"},
        {field(0x9901, aesData(2, "AE", 0, 0)) + generic, "Generic", "strength 0 is skipped"},
        {field(0x9901, aesData(2, "AE", 3, 0) + Bytes{0}) + generic, "Generic",
         "AES size 8 is skipped"},
        {field(0x9901, cryptoApiData(1, 128, 8)), "CryptoAPI", "QL version 1"},
        {field(0x9901, cryptoApiData(2, 128, 8)), "Generic", "QL version 2"},
        {field(0x9901, cryptoApiData(1, 128, 8, 10)) + generic, "Generic", "QL size 10 skipped"},
        {field(0x9901, Bytes{2, 0, 'A'}) + generic, "Generic", "size 3 is skipped"},
        {field(0x9901, Bytes{}) + generic, "Generic", "size 0 is skipped"},
        // lying lengths end the walk and keep what came before
        {generic + lyingField(0x0001, 16, zeros(8)), "Generic", "Zip64 claims more than is left"},
        {lyingField(0x9901, 0xFFFF, aesData(2, "AE", 3, 0)), "", "size 65535 in a short area"},
        {generic + lyingField(0x7075, 5000, unicodeData(1, 0, "x")), "Generic",
         "Unicode path claims more"},
        {generic + Bytes{0x01, 0x00}, "Generic", "a field cut inside its header"},
        // several fields
        {field(0x5455, {1, 2, 3, 4, 5}) + field(0x7875, {1, 4, 0, 0, 0, 0, 4, 0, 0, 0, 0})
             + field(0x0001, zip64Data({9, 9})) + field(0x9901, aesData(2, "AE", 3, 8)),
         "Generic Generic Zip64 AesCrypt", "four fields in one area"},
        {field(0x000A, ntfsData()) + field(0x0017, pkData(2)) + field(0x6375, unicodeData(1, 0, "c"))
             + field(0x7075, unicodeData(1, 0, "p")) + field(0x9901, cryptoApiData(1, 256, 14)),
         "Win32Attr PKCrypt UnicodeComment UnicodeFilename CryptoAPI", "one of each"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kindsOf(c.area), c.kinds) << c.why;
    EXPECT_TRUE(qlTakeHookReports().empty()) << "hostile input is no internal error";
}

TEST(ExtraList, Values)
{
    Bytes area = field(0x0001, zip64Data({0x100000000ULL, 5}, true)) + field(0x000A, ntfsData(2))
                 + field(0x9901, aesData(1, "AE", 2, 12)) + field(0x9901, cryptoApiData(1, 168, 14))
                 + field(0x0017, pkData(2, 2)) + field(0xBEEF, {9, 8, 7})
                 + field(0x7075, unicodeData(1, 0xA738C081, "gr\xC3\xBC\xC3\x9F.txt"));
    QlExtraList list(area.data(), area.size());
    ASSERT_EQ(list.Count(), 7);

    auto* zip64 = dynamic_cast<QlExtraZip64*>(list.First());
    ASSERT_NE(zip64, nullptr);
    EXPECT_EQ(zip64->DataSize(), 20);
    EXPECT_EQ(zip64->Count(), 2);
    EXPECT_EQ(zip64->Value(0), 0x100000000ULL);
    EXPECT_EQ(zip64->Value(1), 5u);
    EXPECT_EQ(zip64->Value(2), 0u);
    EXPECT_TRUE(zip64->HasDiskNumber());
    EXPECT_EQ(zip64->DiskNumber(), 7u);

    auto* ntfs = dynamic_cast<QlExtraWin32Attr*>(list.Next());
    ASSERT_NE(ntfs, nullptr);
    EXPECT_EQ(ntfs->LastWriteTime(), 0x01D7000000000001ULL);
    EXPECT_EQ(ntfs->LastAccessTime(), 0x01D7000000000002ULL);
    EXPECT_EQ(ntfs->CreationTime(), 0x01D7000000000003ULL);
    ASSERT_EQ(ntfs->FurtherLength(), 2);
    EXPECT_EQ(ntfs->Further()[1], 0xA1);

    auto* aes = dynamic_cast<QlExtraAesCrypt*>(list.Next());
    ASSERT_NE(aes, nullptr);
    EXPECT_EQ(aes->Version(), 1);
    EXPECT_TRUE(aes->IsVendor("AE"));
    EXPECT_EQ(aes->GetKeyBits(), 192);
    EXPECT_EQ(aes->GetMethod(), 12);

    auto* api = dynamic_cast<QlExtraCryptoAPI*>(list.Next());
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->GetKeyBits(), 168);
    EXPECT_EQ(api->GetMethod(), 14);
    EXPECT_EQ(api->Value3(), 0x1111);
    EXPECT_EQ(api->Value4(), 0x2222);

    auto* pk = dynamic_cast<QlExtraPKCrypt*>(list.Next());
    ASSERT_NE(pk, nullptr);
    EXPECT_EQ(pk->Format(), 2);
    EXPECT_EQ(pk->AlgorithmId(), 0x6610);
    EXPECT_EQ(pk->BitLength(), 256);
    EXPECT_EQ(pk->Flags(), 1);
    EXPECT_EQ(pk->FurtherLength(), 2);

    auto* generic = dynamic_cast<QlExtraGeneric*>(list.Next());
    ASSERT_NE(generic, nullptr);
    EXPECT_EQ(generic->HeaderId(), 0xBEEF);
    ASSERT_EQ(generic->DataSize(), 3);
    EXPECT_EQ(generic->Data()[2], 7);

    auto* path = dynamic_cast<QlExtraUnicodeFilename*>(list.Next());
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(unitsOf(path->GetName()), u"gr\u00FC\u00DF.txt");
    EXPECT_TRUE(path->MatchesStored("gr\x81\xE1.txt", 8));  // the name in code page 437
    EXPECT_FALSE(path->MatchesStored("gr\x81\xE1.txu", 8));

    EXPECT_EQ(list.Next(), nullptr);
    EXPECT_EQ(list.Next(), nullptr);
}

TEST(ExtraList, WriteBack)
{
    const Bytes areas[] = {
        field(0x0001, zip64Data({1, 2, 3})),
        field(0x0001, zip64Data({1}, true)),
        field(0x000A, ntfsData(3)),
        field(0x0017, pkData(2, 4)),
        field(0x7075, unicodeData(1, 0x12345678, "gr\xC3\xBC\xC3\x9F")),
        field(0x6375, unicodeData(1, 0, "comment")),
        field(0x9901, aesData(2, "AE", 3, 8)),
        field(0x9901, cryptoApiData(1, 128, 8)),
        field(0x4242, {1, 2, 3}) + field(0x4343, {}),
    };
    for (const Bytes& area : areas)
        EXPECT_EQ(writtenBack(area), area) << std::hex << (area[0] | area[1] << 8);

    // A buffer one byte short holds nothing.
    Bytes area = field(0x9901, aesData(2, "AE", 3, 8));
    QlExtraList list(area.data(), area.size());
    Bytes out(area.size());
    EXPECT_EQ(list.First()->Write(out.data(), out.size() - 1), nullptr);
    EXPECT_EQ(list.First()->Write(out.data(), out.size()), out.data() + out.size());

    // Key bits that have no strength cannot be written.
    auto* aes = dynamic_cast<QlExtraAesCrypt*>(list.First());
    aes->SetKeyBits(100);
    EXPECT_EQ(aes->Write(out.data(), out.size()), nullptr);
    std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].source, "Qlextra");
    EXPECT_EQ(reports[0].line, kExtraKeyBits);
}

TEST(ExtraList, WrongUseIsReported)
{
    Bytes data = zip64Data({1, 2});
    EXPECT_THROW(QlExtraZip64(0x0002, data.data(), uint16_t(data.size())), QlGenericExtraData);
    std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].line, kExtraWrongId);

    QlExtraZip64 zip64(0x0001, data.data(), uint16_t(data.size()));
    EXPECT_EQ(zip64.Value(3), 0u);
    EXPECT_EQ(zip64.Value(-1), 0u);
    reports = qlTakeHookReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].line, kExtraValueIndex);

    EXPECT_THROW(QlExtraZip64(0x0001, data.data(), 12 + 2), QlBadExtraData);
    try {
        QlExtraAesCrypt(0x9901, aesData(2, "AE", 9, 0).data(), 7);
        ADD_FAILURE() << "strength 9 accepted";
    } catch (const QlBadExtraData& bad) {
        EXPECT_EQ(bad.Value(), 7);
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(ExtraApply, Zip64Sizes)
{
    const uint32_t M = 0xFFFFFFFFu;
    struct Case {
        uint32_t headerU, headerC;
        bool withZip64;
        std::vector<uint64_t> values;
        bool descriptor;
        uint64_t u, c;
        QlExtraApplyResult result;
        const char* why;
    } cases[] = {
        {100, 50, false, {}, false, 100, 50, kQlExtraApplied, "no Zip64 field"},
        {M, M, false, {}, false, M, M, kQlExtraApplied, "markers without a field: real sizes"},
        {M, M, true, {100, 50}, false, 100, 50, kQlExtraApplied, "both markers"},
        {M, 50, true, {100}, false, 100, 50, kQlExtraApplied, "uncompressed marker only"},
        {100, M, true, {50}, false, 100, 50, kQlExtraApplied,
         "compressed marker only: its value comes first"},
        {M, M, true, {100, 50, 12345}, false, 100, 50, kQlExtraApplied, "with the offset"},
        {M, M, true, {100}, false, 100, M, kQlExtraApplied, "one value for two markers"},
        {100, 50, true, {7, 8}, false, 100, 50, kQlExtraApplied, "no markers: values unused"},
        {M, M, true, {}, false, M, M, kQlExtraApplied, "empty Zip64 field"},
        {M, M, true, {0x100000000ULL, 50}, false, M, M, kQlExtraSizeTooLarge,
         "4 GiB uncompressed is refused, not cut to 0"},
        {M, M, true, {100, 0x1FFFFFFFFULL}, false, M, M, kQlExtraSizeTooLarge,
         "compressed beyond 32 bits"},
        {M, M, true, {100, 50}, true, M, M, kQlExtraApplied, "descriptor: header sizes"},
    };
    for (const Case& c : cases) {
        Bytes area = field(0x5455, {1, 2, 3, 4, 5});
        if (c.withZip64)
            area = area + field(0x0001, zip64Data(c.values));
        QlExtraList list(area.data(), area.size());
        QlExtraEntryFacts facts;
        facts.headerUncompressed = c.headerU;
        facts.headerCompressed = c.headerC;
        facts.dataDescriptor = c.descriptor;
        EXPECT_EQ(apply_extra_fields(list, facts), c.result) << c.why;
        EXPECT_EQ(facts.uncompressedSize, c.u) << c.why;
        EXPECT_EQ(facts.compressedSize, c.c) << c.why;
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(ExtraApply, CryptRecord)
{
    struct Case {
        Bytes area;
        uint16_t method;
        bool encrypted;
        bool applied;
        uint32_t flags;
        uint16_t realMethod, keyBits;
        const char* why;
    } cases[] = {
        {field(0x9901, aesData(2, "AE", 3, 8)), 99, true, true, 0x500, 8, 256, "AE-2"},
        {field(0x9901, aesData(1, "AE", 1, 0)), 99, true, true, 0x100, 0, 128, "AE-1"},
        {field(0x9901, cryptoApiData(1, 168, 14)), 99, true, true, 0x1000, 14, 168, "QL"},
        {field(0x9901, aesData(2, "AE", 3, 8)), 8, true, false, 0, 0, 0, "method is not 99"},
        {field(0x9901, aesData(2, "AE", 3, 8)), 99, false, false, 0, 0, 0, "not encrypted"},
        {field(0x9901, aesData(3, "AE", 3, 8)), 99, true, false, 0, 0, 0, "AE-3 is generic"},
        {field(0x9901, aesData(2, "AE", 5, 8)), 99, true, false, 0, 0, 0, "bad strength"},
        {Bytes{}, 99, true, false, 0, 0, 0, "no record: nothing stale"},
    };
    for (const Case& c : cases) {
        QlExtraList list(c.area.data(), c.area.size());
        QlExtraEntryFacts facts;
        facts.method = c.method;
        facts.encrypted = c.encrypted;
        apply_extra_fields(list, facts);
        EXPECT_EQ(facts.hasCryptRecord, c.applied) << c.why;
        EXPECT_EQ(facts.flags, c.flags) << c.why;
        EXPECT_EQ(facts.realMethod, c.realMethod) << c.why;
        EXPECT_EQ(facts.keyBits, c.keyBits) << c.why;
        if (c.flags == 0x1000) {
            EXPECT_EQ(facts.cryptoValue3, 0x1111u);
            EXPECT_EQ(facts.cryptoValue4, 0x2222u);
        }
    }
}

TEST(ExtraApply, UnicodePath)
{
    std::string longName(kQlExtraMaxNameUnits, 'x');
    struct Case {
        Bytes area;
        bool taken;
        const char* why;
    } cases[] = {
        {field(0x7075, unicodeData(1, kCrcATxt, "\xC3\xA4.txt")), true, "matching CRC"},
        {field(0x7075, unicodeData(1, kCrcATxt ^ 1, "\xC3\xA4.txt")), false, "wrong CRC: ignored"},
        {field(0x7075, unicodeData(2, kCrcATxt, "\xC3\xA4.txt")), false, "version 2: generic"},
        {field(0x7075, unicodeData(1, kCrcATxt, std::string("ok\0..\\..\\x", 11))), false,
         "a NUL inside the name"},
        {field(0x7075, unicodeData(1, kCrcATxt, longName)), true, "3120 units fit"},
        {field(0x7075, unicodeData(1, kCrcATxt, longName + "x")), false, "3121 units do not"},
        {field(0x6375, unicodeData(1, kCrcATxt, "\xC3\xA4.txt")), false, "a comment is no path"},
    };
    for (const Case& c : cases) {
        QlExtraList list(c.area.data(), c.area.size());
        QlExtraEntryFacts facts;
        facts.storedName = "a.txt";
        facts.storedNameLength = 5;
        apply_extra_fields(list, facts);
        EXPECT_EQ(facts.hasUnicodeName, c.taken) << c.why;
        if (c.taken) {
            EXPECT_GT(facts.unicodeName.Length(), 0) << c.why;
        }
    }
    QlExtraList list(cases[0].area.data(), cases[0].area.size());
    QlExtraEntryFacts facts;
    facts.storedName = "a.txt";
    facts.storedNameLength = 5;
    apply_extra_fields(list, facts);
    EXPECT_EQ(unitsOf(facts.unicodeName), u"\u00E4.txt");
}

// Extra fields as real tools write them (local headers of small archives).
TEST(ExtraFixtures, RealTools)
{
    // zip 3.0 on Linux: extended timestamp 0x5455 and Unix IDs 0x7875.
    const Bytes zip = {0x55, 0x54, 0x09, 0x00, 0x03, 0xEE, 0x7E, 0xC8, 0x60, 0x2A, 0x91, 0x1A,
                       0x6B, 0x75, 0x78, 0x0B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04,
                       0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(kindsOf(zip), "Generic Generic");
    EXPECT_EQ(writtenBack(zip), zip);

    // Python's zipfile with force_zip64: both sizes 0xFFFFFFFF in the header.
    const Bytes python = {0x01, 0x00, 0x10, 0x00, 0x06, 0, 0, 0, 0, 0, 0, 0,
                          0x06, 0, 0, 0, 0, 0, 0, 0};
    {
        QlExtraList list(python.data(), python.size());
        QlExtraEntryFacts facts;
        facts.headerUncompressed = facts.headerCompressed = 0xFFFFFFFFu;
        EXPECT_EQ(apply_extra_fields(list, facts), kQlExtraApplied);
        EXPECT_EQ(facts.uncompressedSize, 6u);
        EXPECT_EQ(facts.compressedSize, 6u);
    }

    // 7z -tzip -mem=AES256: AE-2, 256 bits, stored.
    const Bytes sevenZip = {0x01, 0x99, 0x07, 0x00, 0x02, 0x00, 0x41, 0x45, 0x03, 0x00, 0x00};
    {
        QlExtraList list(sevenZip.data(), sevenZip.size());
        QlExtraEntryFacts facts;
        facts.method = 99;
        facts.encrypted = true;
        apply_extra_fields(list, facts);
        EXPECT_TRUE(facts.hasCryptRecord);
        EXPECT_EQ(facts.flags, uint32_t(kQlEntryAes | kQlEntryAesVersion2));
        EXPECT_EQ(facts.keyBits, 256);
        EXPECT_EQ(facts.realMethod, 0);
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}
