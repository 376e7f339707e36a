// The build's pure pieces: the Zip scan, the end-record search, the stub
// choice, the added PE section, the icon file and its group, the 2 GB limit,
// the meter scaling, and the
// helper library's append and archive test over archives made in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "builder/crc32.h"
#include "builder/iconfile.h"
#include "builder/pe.h"
#include "builder/sfxconfig.h"
#include "builder/variants.h"
#include "builder/zipscan.h"
#include "qlse32/zipwork.h"
#include "stub/engine/unzip.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void put16(Bytes& b, uint16_t v) { b.push_back(v & 0xFF); b.push_back(v >> 8); }
void put32(Bytes& b, uint32_t v) { put16(b, v & 0xFFFF); put16(b, v >> 16); }
void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Entry {
    std::string name;
    Bytes data;          // stored unless `method` says otherwise
    uint16_t method = 0;
    uint16_t flags = 0;
    Bytes extra;
    uint16_t version_needed = 20;
    bool deferred = false;  // sizes 0 in the local header, descriptor behind
    bool descriptor_signature = true;
    Bytes raw;              // the compressed bytes when not stored
    uint32_t size = 0;      // uncompressed size when raw is given
};

Bytes deflate(const Bytes& data)
{
    std::vector<uint8_t> out(data.size() * 2 + 64);
    size_t n = 0;
    EXPECT_EQ(kSfxCompressOk, compress_to_memory(out.data(), out.size(), data.data(), data.size(), &n));
    return Bytes(out.begin() + kSfxCompressPrefixSize, out.begin() + n);
}

Entry deflated(const std::string& name, const std::string& content)
{
    Entry e;
    e.name = name;
    e.data = text(content);
    e.method = 8;
    e.raw = deflate(e.data);
    return e;
}

uint32_t stored_size(const Entry& e)
{
    return static_cast<uint32_t>((e.raw.empty() && e.method == 0 ? e.data : e.raw).size());
}

// One entry's local header, name, extra field, data and descriptor.
Bytes local_record(const Entry& e)
{
    Bytes zip;
    const Bytes& stored = e.raw.empty() && e.method == 0 ? e.data : e.raw;
    uint32_t crc = crc32_update(0, e.data.data(), e.data.size());
    uint32_t size = e.raw.empty() && e.method == 0 ? static_cast<uint32_t>(e.data.size())
                                                   : (e.size ? e.size : static_cast<uint32_t>(e.data.size()));
    uint16_t flags = e.flags | (e.deferred ? 0x8 : 0);
    put32(zip, 0x04034B50);
    put16(zip, e.version_needed);
    put16(zip, flags);
    put16(zip, e.method);
    put32(zip, 0);
    put32(zip, e.deferred ? 0 : crc);
    put32(zip, e.deferred ? 0 : static_cast<uint32_t>(stored.size()));
    put32(zip, e.deferred ? 0 : size);
    put16(zip, static_cast<uint16_t>(e.name.size()));
    put16(zip, static_cast<uint16_t>(e.extra.size()));
    append(zip, text(e.name));
    append(zip, e.extra);
    append(zip, stored);
    if (flags & 0x8) {
        if (e.descriptor_signature)
            put32(zip, 0x08074B50);
        put32(zip, crc);
        put32(zip, static_cast<uint32_t>(stored.size()));
        put32(zip, size);
    }
    return zip;
}

// The local records as they stand in `body`, then a central directory that
// lists `listed` (each entry with its local-header offset), then the end record.
Bytes with_directory(const Bytes& body, const std::vector<std::pair<Entry, uint32_t>>& listed,
                     const std::string& comment = "")
{
    Bytes zip = body, central;
    for (const auto& item : listed) {
        const Entry& e = item.first;
        uint32_t crc = crc32_update(0, e.data.data(), e.data.size());
        uint32_t size = e.raw.empty() && e.method == 0 ? static_cast<uint32_t>(e.data.size())
                                                       : (e.size ? e.size : static_cast<uint32_t>(e.data.size()));
        put32(central, 0x02014B50);
        put16(central, 20);
        put16(central, e.version_needed);
        put16(central, e.flags | (e.deferred ? 0x8 : 0));
        put16(central, e.method);
        put32(central, 0);
        put32(central, crc);
        put32(central, stored_size(e));
        put32(central, size);
        put16(central, static_cast<uint16_t>(e.name.size()));
        put16(central, static_cast<uint16_t>(e.extra.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0);
        put32(central, item.second);
        append(central, text(e.name));
        append(central, e.extra);
    }
    uint32_t central_offset = static_cast<uint32_t>(zip.size());
    append(zip, central);
    put32(zip, 0x06054B50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, static_cast<uint16_t>(listed.size()));
    put16(zip, static_cast<uint16_t>(listed.size()));
    put32(zip, static_cast<uint32_t>(central.size()));
    put32(zip, central_offset);
    put16(zip, static_cast<uint16_t>(comment.size()));
    append(zip, text(comment));
    return zip;
}

// A Zip archive of the entries: local headers, central directory, end record.
Bytes make_zip(const std::vector<Entry>& entries, const std::string& comment = "")
{
    Bytes body;
    std::vector<std::pair<Entry, uint32_t>> listed;
    for (const Entry& e : entries) {
        listed.push_back({e, static_cast<uint32_t>(body.size())});
        append(body, local_record(e));
    }
    return with_directory(body, listed, comment);
}

class MemoryInput : public ZipScanInput {
public:
    explicit MemoryInput(const Bytes& b, uint64_t at = 0) : m_b(b), m_at(at) {}
    int32_t read(uint8_t* buffer, uint32_t count) override
    {
        if (m_at >= m_b.size())
            return 0;
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, m_b.size() - m_at));
        memcpy(buffer, m_b.data() + m_at, n);
        m_at += n;
        return static_cast<int32_t>(n);
    }
    bool seek(uint64_t position) override { m_at = position; return true; }
    uint64_t position() override { return m_at; }

private:
    const Bytes& m_b;
    uint64_t m_at;
};

struct Scanned {
    ZipScanFault fault;
    ZipScanResult result;
};

Scanned scan(const Bytes& zip, uint32_t work_size = 4096, uint64_t from = 0)
{
    std::vector<uint8_t> work(work_size);
    ZipScanSettings settings;
    settings.work = work.data();
    settings.work_size = work_size;
    MemoryInput in(zip, from);
    Scanned s;
    s.fault = scan_zip_archive(in, settings, &s.result);
    return s;
}

Bytes aes_extra(uint16_t vendor_version, uint16_t actual_method)
{
    Bytes x;
    put16(x, 0x9901);
    put16(x, 7);
    put16(x, vendor_version);
    x.push_back('A');
    x.push_back('E');
    x.push_back(3);
    put16(x, actual_method);
    return x;
}

Entry with(Entry e, uint16_t method, uint16_t flags = 0, Bytes extra = Bytes())
{
    e.method = method;
    e.flags = flags;
    e.extra = extra;
    if (e.raw.empty())
        e.raw = e.data;
    return e;
}

}  // namespace

TEST(ZipScan, RecordsMethodsAndLimits)
{
    Entry plain = deflated("a.txt", "hello hello hello");
    Bytes zip64_field;
    put16(zip64_field, 0x0001);
    put16(zip64_field, 0);
    Entry v45 = plain;
    v45.version_needed = 45;
    Entry v63 = plain;
    v63.version_needed = 63;
    Entry aes51 = with(plain, 99, 0x1, aes_extra(2, 8));
    aes51.version_needed = 51;
    struct Row {
        const char* why;
        std::vector<Entry> entries;
        ZipScanFault fault;
        uint16_t mask;
    } rows[] = {
        {"deflate adds no feature", {plain}, kZipScanOk, 0},
        {"method 9 adds none", {with(plain, 9)}, kZipScanOk, 0},
        {"PPMd", {with(plain, 98)}, kZipScanOk, 0x22},
        {"LZMA", {with(plain, 14)}, kZipScanOk, 0x24},
        {"WavPack", {with(plain, 97)}, kZipScanOk, 0x28},
        {"JPEG method", {with(plain, 96)}, kZipScanOk, 0x30},
        {"shrunk is refused", {with(plain, 1)}, kZipScanUnsupported, 0},
        {"implode is refused", {with(plain, 6)}, kZipScanUnsupported, 0},
        {"AES vendor version 2 over deflate", {with(plain, 99, 0x1, aes_extra(2, 8))}, kZipScanOk, 0x01},
        {"AES vendor version 3", {with(plain, 99, 0x1, aes_extra(3, 8))}, kZipScanUnsupported, 0},
        {"AES with PPMd", {with(plain, 99, 0x1, aes_extra(1, 98))}, kZipScanOk, 0x23},
        {"version 45 alone is no Zip64", {v45}, kZipScanOk, 0},
        {"version 63", {v63}, kZipScanOk, 0},
        {"AES as p7zip writes it (version 51)", {aes51}, kZipScanOk, 0x01},
        {"a Zip64 extra field", {with(plain, 8, 0, zip64_field)}, kZipScanZip64, 0},
        {"a name of 200 bytes", {deflated(std::string(196, 'n') + ".txt", "x")}, kZipScanOk, 0},
        {"a name of 201 bytes", {deflated(std::string(197, 'n') + ".txt", "x")}, kZipScanNameTooLong, 0},
        {"a parent element", {deflated("../evil.txt", "x")}, kZipScanInvalidName, 0},
        {"a device name", {deflated("dir/PRN.txt", "x")}, kZipScanInvalidName, 0},
    };
    for (const Row& row : rows) {
        Scanned s = scan(make_zip(row.entries));
        EXPECT_EQ(row.fault, s.fault) << row.why;
        if (row.fault == kZipScanOk) {
            EXPECT_EQ(row.mask, s.result.feature_mask) << row.why;
        }
    }
}

TEST(ZipScan, NamesAreTakenAsTheStubDecodesThem)
{
    // Without bit 11 the stub reads a name in the ANSI code page, after an
    // OEM name (as DOS tools wrote them) was converted to it; the scan judges
    // the same name. Code pages here: ANSI 1252, OEM 437.
    struct Row {
        const char* why;
        std::string stored;
        bool utf8;
        ZipScanFault fault;
        std::u16string name;
    } rows[] = {
        {"CP437 letters become the ANSI ones", "gr\x81\xE1" "e.txt", false, kZipScanOk, u"gr\u00FC\u00DF" "e.txt"},
        {"an ANSI name stays", "caf\xE9.txt", false, kZipScanOk, u"caf\u00E9.txt"},
        {"UTF-8 with bit 11", "caf\xC3\xA9.txt", true, kZipScanOk, u"caf\u00E9.txt"},
        {"an ASCII name", "dir/plain.txt", false, kZipScanOk, u"dir/plain.txt"},
        {"CP437 box drawing is no letter: kept as ANSI", "a\xB3" "b.txt", false, kZipScanOk, u"a\u00B3" "b.txt"},
        {"a reserved character", "a|b.txt", false, kZipScanInvalidName, u""},
    };
    for (const Row& r : rows) {
        QlChar wide[201];
        int length = -1;
        ZipScanFault f = check_entry_name(reinterpret_cast<const uint8_t*>(r.stored.data()), r.stored.size(),
                                          r.utf8, wide, &length);
        EXPECT_EQ(r.fault, f) << r.why;
        if (f == kZipScanOk) {
            EXPECT_EQ(r.name, std::u16string(reinterpret_cast<const char16_t*>(wide), length)) << r.why;
        }
    }
}

TEST(ZipScan, ResultsAndRecordEdges)
{
    Entry secret = deflated("secret.txt", "psst");
    secret.flags = 0x1;
    Bytes zip = make_zip({deflated("setup.exe", "MZ....."), secret, deflated("_ISDEL.EXE", "x")});
    Scanned s = scan(zip);
    ASSERT_EQ(kZipScanOk, s.fault);
    EXPECT_EQ(zip.size() - 22, s.result.end_record_offset);
    EXPECT_EQ(7u + 4u + 1u, s.result.total_size);
    EXPECT_TRUE(s.result.has_encrypted_entries);
    EXPECT_TRUE(s.result.has_isdel_entry);
    EXPECT_EQ(std::u16string(u"setup.exe"),
              std::u16string(reinterpret_cast<const char16_t*>(s.result.setup_entry)));

    // "PK00" in front is skipped; a descriptor between records is a spanned archive.
    Bytes split = {'P', 'K', '0', '0'};
    append(split, zip);
    EXPECT_EQ(kZipScanOk, scan(split).fault);
    Bytes spanned = {'P', 'K', 7, 8};
    append(spanned, zip);
    EXPECT_EQ(kZipScanSpanned, scan(spanned).fault);
    // No end record: the read runs out.
    Bytes cut(zip.begin(), zip.end() - 22);
    EXPECT_EQ(kZipScanReadError, scan(cut).fault);
}

TEST(ZipScan, DeferredSizesFoundAcrossChunkEdges)
{
    // The descriptor is searched through a 64-byte work buffer; the data
    // lengths put its signature across the first chunk edge in turn.
    for (size_t length = 40; length < 70; ++length) {
        Entry e;
        e.name = "d.bin";
        e.data = Bytes(length, 'q');
        e.deferred = true;
        Bytes zip = make_zip({e, deflated("after.txt", "after")});
        Scanned s = scan(zip, 64);
        EXPECT_EQ(kZipScanOk, s.fault) << length;
        EXPECT_EQ(zip.size() - 22, s.result.end_record_offset) << length;
    }
}

TEST(ZipScan, DescriptorWithoutSignatureAfterKnownSizes)
{
    // As the helper library leaves an entry: real sizes in the local header,
    // bit 3 still set, and a descriptor of 12 bytes with no signature.
    Entry e = deflated("late.txt", "late late late");
    e.flags = 0x8;
    e.descriptor_signature = false;
    Bytes zip = make_zip({e, deflated("after.txt", "after")});
    Scanned s = scan(zip);
    EXPECT_EQ(kZipScanOk, s.fault);
    EXPECT_EQ(zip.size() - 22, s.result.end_record_offset);
}

TEST(ZipScan, EndRecordSearchIgnoresSignaturesInComments)
{
    Bytes zip = make_zip({deflated("a.txt", "a")}, std::string("old PK\x05\x06 comment", 16));
    int64_t found = find_end_record(zip.data(), zip.size(), zip.size());
    EXPECT_EQ(static_cast<int64_t>(zip.size() - 22 - 16), found);
    Bytes no_end = make_zip({deflated("a.txt", "a")});
    no_end.resize(no_end.size() - 4);
    EXPECT_EQ(-1, find_end_record(no_end.data(), no_end.size(), no_end.size()));
}

namespace {

// A file in memory whose writes fail from the `fail_from`-th on (0: never).
class MemoryFile : public ZipCommentFile {
public:
    Bytes bytes;
    int writes = 0;
    int fail_from = 0;
    bool read_at(uint64_t offset, uint8_t* buffer, uint32_t count) override
    {
        if (offset + count > bytes.size())
            return false;
        memcpy(buffer, bytes.data() + offset, count);
        return true;
    }
    bool write_at(uint64_t offset, const uint8_t* buffer, uint32_t count) override
    {
        if (fail_from && ++writes >= fail_from)
            return false;
        if (offset + count > bytes.size())
            bytes.resize(offset + count);
        memcpy(bytes.data() + offset, buffer, count);
        return true;
    }
    uint64_t size() override { return bytes.size(); }
    bool cut(uint64_t size) override
    {
        bytes.resize(size);
        return true;
    }
};

}  // namespace

TEST(ZipComment, TextFirstThenTheLength)
{
    const std::string comment = "line one\nline two is longer\nno end";
    const std::string old_comment = "the archive's own comment";
    const Bytes zip = make_zip({deflated("a.txt", "a")}, old_comment);
    const size_t record = zip.size() - 22 - old_comment.size();

    MemoryFile file;
    file.bytes = zip;
    ZipCommentPlace place;
    ASSERT_EQ(ZipCommentFault::Ok, append_zip_comment(file, reinterpret_cast<const uint8_t*>(comment.data()),
                                                      static_cast<uint16_t>(comment.size()), &place));
    EXPECT_EQ(record + 22, place.offset);
    EXPECT_EQ(2, place.lines);
    EXPECT_EQ(18, place.longest_line);
    EXPECT_EQ(record + 22 + comment.size(), file.bytes.size());
    EXPECT_EQ(comment.size(), zip_get16(&file.bytes[record + 20]));
    EXPECT_EQ(comment, std::string(file.bytes.begin() + record + 22, file.bytes.end()));
    EXPECT_EQ(static_cast<int64_t>(record), find_end_record(file.bytes.data(), file.bytes.size(), file.bytes.size()));

    // A failed write is a failure, and the record never promises a comment
    // that was not written.
    for (int fail_from : {1, 2}) {
        MemoryFile failing;
        failing.bytes = zip;
        failing.fail_from = fail_from;
        EXPECT_EQ(ZipCommentFault::WriteFailed,
                  append_zip_comment(failing, reinterpret_cast<const uint8_t*>(comment.data()),
                                     static_cast<uint16_t>(comment.size()), &place))
            << fail_from;
        EXPECT_EQ(old_comment.size(), zip_get16(&failing.bytes[record + 20])) << "write " << fail_from << " failed";
    }

    MemoryFile no_end;
    no_end.bytes = Bytes(zip.begin(), zip.end() - 30);
    const Bytes before = no_end.bytes;
    EXPECT_EQ(ZipCommentFault::NoEndRecord, append_zip_comment(no_end, nullptr, 0, &place));
    EXPECT_EQ(before, no_end.bytes);
}

TEST(ZipScan, TwoGigabyteLimit)
{
    const uint32_t stub = 200000;
    const uint64_t largest = 1999737856ull - stub;
    EXPECT_EQ(largest, largest_zip_for_stub(stub));
    EXPECT_TRUE(zip_fits_2gb(largest, stub));
    EXPECT_FALSE(zip_fits_2gb(largest + 1, stub));
    EXPECT_FALSE(zip_fits_2gb(0x100000000ull, 0));
    EXPECT_FALSE(zip_fits_2gb(1, 0xFFFFFFFFu));
}

TEST(StubChoice, SmallestQualifyingRow)
{
    StubVariant rows[] = {
        {L"basic", 0, 0, 0x00, 150}, {L"aes", 0, 0, 0x01, 160}, {L"lzpp", 0, 0, 0x26, 200},
        {L"full", 0, 0, 0x3F, 350},  {L"jpg", 0, 0, 0x30, 250}, {L"missing", 0, 0, 0x3F, 0},
        {L"inst", 1, 0, 0x00, 140},  {L"de", 0, 1, 0x00, 130},  {L"same-a", 1, 1, 0x01, 100},
        {L"same-b", 1, 1, 0x01, 100}, {nullptr, 0, 0, 0, 0},
    };
    struct Row {
        const char* why;
        bool install;
        uint16_t language, mask;
        uint32_t unicode;
        const wchar_t* wanted;
    } table[] = {
        {"only deflate, ASCII texts: plain", false, 0, 0x00, 0, L"basic"},
        {"non-ASCII title: smallest Unicode-capable", false, 0, 0x00, kUnicodeTitle, L"lzpp"},
        {"AES with PPMd: full, never the missing image", false, 0, 0x23, 0, L"full"},
        {"WavPack alone: full", false, 0, 0x28, 0, L"full"},
        {"JPEG method: jpg", false, 0, 0x30, 0, L"jpg"},
        {"mode decides", true, 0, 0x00, 0, L"inst"},
        {"language decides", false, 1, 0x00, 0, L"de"},
        {"equal sizes: the earlier row", true, 1, 0x01, 0, L"same-a"},
        {"nothing qualifies", true, 0, 0x01, 0, nullptr},
    };
    for (const Row& r : table) {
        const StubVariant* got = choose_stub_variant(rows, r.install, r.language, r.mask, r.unicode);
        if (r.wanted == nullptr) {
            EXPECT_EQ(nullptr, got) << r.why;
        } else {
            EXPECT_TRUE(got && std::wstring(got->type_name) == r.wanted) << r.why;
        }
    }
}

namespace {

// A small PE32 head: DOS header, NT headers, `sections` section headers.
Bytes pe_head(uint16_t sections, uint32_t file_alignment = 512, uint32_t section_alignment = 4096)
{
    Bytes h(2048, 0);
    h[0] = 'M';
    h[1] = 'Z';
    const uint32_t nt = 0x80;
    memcpy(&h[60], &nt, 4);
    memcpy(&h[nt], "PE\0\0", 4);
    auto set16 = [&](size_t at, uint16_t v) { memcpy(&h[at], &v, 2); };
    auto set32 = [&](size_t at, uint32_t v) { memcpy(&h[at], &v, 4); };
    set16(nt + 4, 0x14C);
    set16(nt + 6, sections);
    set16(nt + 20, 224);
    set16(nt + 24, 0x10B);
    set32(nt + 24 + 16, 0x1000);
    set32(nt + 24 + 32, section_alignment);
    set32(nt + 24 + 36, file_alignment);
    set32(nt + 24 + 60, 1536);  // SizeOfHeaders
    set32(nt + 24 + 92, 16);
    for (uint16_t i = 0; i < sections; ++i) {
        size_t s = nt + 248 + i * 40u;
        memcpy(&h[s], ".text\0\0\0", 8);
        set32(s + 8, 0x800);
        set32(s + 12, 0x1000 + i * 0x1000u);
        set32(s + 16, 512);
        set32(s + 20, 1536 + i * 512u);
    }
    return h;
}

}  // namespace

TEST(PeSection, ChecksBeforeWriting)
{
    struct Row {
        const char* why;
        Bytes head;
        uint64_t file_size, data_offset;
        PeSectionFault fault;
        uint32_t raw_size;
        uint64_t pad;
    } rows[] = {
        {"L = 1000: raw 1024, pad 24", pe_head(1), 2048 + 1000, 2048, PeSectionFault::Ok, 1024, 24},
        {"L a multiple of FA: no pad", pe_head(1), 2048 + 1024, 2048, PeSectionFault::Ok, 1024, 0},
        // The stub image ends off the alignment: the section starts at 2560
        // and counts all 1100 bytes, and the file reaches its end.
        {"data offset off the alignment", pe_head(1), 2148 + 1100, 2148, PeSectionFault::Ok, 1536, 848},
        {"16 sections fit", pe_head(16), 20000, 1536 + 16 * 512, PeSectionFault::Ok, 10752, 480},
        {"no sections", pe_head(0), 4096, 2048, PeSectionFault::SectionCount, 0, 0},
        {"17 sections", pe_head(17), 40000, 1536 + 17 * 512, PeSectionFault::SectionCount, 0, 0},
        {"odd file alignment", pe_head(1, 500), 4096, 2048, PeSectionFault::Alignment, 0, 0},
        {"data offset beyond the file", pe_head(1), 4096, 5000, PeSectionFault::Range, 0, 0},
    };
    for (Row& r : rows) {
        Bytes before = r.head;
        PeSectionPlan plan = {};
        PeSectionFault f = plan_data_section(r.head.data(), r.head.size(), r.file_size, r.data_offset, &plan);
        EXPECT_EQ(r.fault, f) << r.why;
        if (f == PeSectionFault::Ok) {
            EXPECT_EQ(r.raw_size, plan.raw_size) << r.why;
            EXPECT_EQ(r.pad, plan.pad) << r.why;
        } else {
            EXPECT_EQ(before, r.head) << r.why << ": changed although refused";
        }
    }
    // Twice on one head: the section is there already.
    Bytes head = pe_head(1);
    PeSectionPlan plan;
    ASSERT_EQ(PeSectionFault::Ok, plan_data_section(head.data(), head.size(), 4096, 2048, &plan));
    EXPECT_EQ(PeSectionFault::Exists, plan_data_section(head.data(), head.size(), 4096, 2048, &plan));
    // No room: a header slot that is not free, e_lfanew outside the head.
    Bytes taken = pe_head(1);
    taken[0x80 + 248 + 40] = 1;
    EXPECT_EQ(PeSectionFault::NoRoom, plan_data_section(taken.data(), taken.size(), 4096, 2048, &plan));
    Bytes outside = pe_head(1);
    uint32_t far_away = 0x7FFFFFF0;
    memcpy(&outside[60], &far_away, 4);
    EXPECT_EQ(PeSectionFault::NoImage, plan_data_section(outside.data(), outside.size(), 4096, 2048, &plan));
    Bytes signed_image = pe_head(1);
    signed_image[0x80 + 24 + 128] = 0x10;
    EXPECT_EQ(PeSectionFault::Certificate,
              plan_data_section(signed_image.data(), signed_image.size(), 4096, 2048, &plan));
}

namespace {

// An icon file of `count` images of 16 bytes each, the n-th image's bytes all n.
Bytes icon_file(uint16_t count)
{
    Bytes f;
    put16(f, 0);
    put16(f, 1);
    put16(f, count);
    for (uint16_t i = 0; i < count; ++i) {
        f.push_back(static_cast<uint8_t>(16 * (i + 1)));
        f.push_back(static_cast<uint8_t>(16 * (i + 1)));
        f.push_back(16);
        f.push_back(0);
        put16(f, 1);
        put16(f, 4);
        put32(f, 16);
        put32(f, 6 + 16u * count + 16u * i);
    }
    for (uint16_t i = 0; i < count; ++i)
        f.insert(f.end(), 16, static_cast<uint8_t>(i + 1));
    return f;
}

}  // namespace

TEST(IconFile, RefusesWhatIsNoIconBeforeAnythingChanges)
{
    Bytes good = icon_file(2);
    Bytes bitmap = {0x42, 0x4D, 0x46, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0};  // "BM": a bitmap file
    Bytes none = icon_file(0);
    Bytes beyond = good;
    beyond[6 + 16 + 12] = 0xF0;  // the second image's offset lies beyond the file
    Bytes cut = good;
    cut.resize(20);  // the directory itself is cut
    struct Row {
        const char* why;
        const Bytes* file;
        IconFileStatus status;
    } rows[] = {
        {"two images", &good, IconFileStatus::Ok},
        {"a bitmap", &bitmap, IconFileStatus::NotAnIcon},
        {"no images", &none, IconFileStatus::NoImages},
        {"an image beyond the end", &beyond, IconFileStatus::Damaged},
        {"a cut directory", &cut, IconFileStatus::Damaged},
    };
    for (const Row& r : rows) {
        std::vector<IconImageEntry> images;
        EXPECT_EQ(r.status, parse_icon_file(r.file->data(), r.file->size(), &images)) << r.why;
        EXPECT_EQ(r.status == IconFileStatus::Ok ? 2u : 0u, images.size()) << r.why;
    }
}

TEST(IconFile, IdsAndGroupAgainstAGroupOfThree)
{
    const std::vector<uint16_t> old_ids = {7, 3, 5};
    struct Row {
        const char* why;
        size_t images;
        bool allow_more;
        std::vector<uint16_t> ids;
    } rows[] = {
        {"one image: the first old id", 1, true, {7}},
        {"three images: the old ids in group order", 3, true, {7, 3, 5}},
        {"five images: two more above the largest old id", 5, true, {7, 3, 5, 8, 9}},
        {"five images, no more allowed", 5, false, {7, 3, 5}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.ids, plan_icon_ids(old_ids, r.images, r.allow_more)) << r.why;

    Bytes file = icon_file(5);
    std::vector<IconImageEntry> images;
    ASSERT_EQ(IconFileStatus::Ok, parse_icon_file(file.data(), file.size(), &images));
    std::vector<uint16_t> ids = plan_icon_ids(old_ids, images.size(), true);
    Bytes group = build_icon_group(images, ids);
    ASSERT_EQ(14u * 5 + 20, group.size());
    EXPECT_EQ(Bytes({0, 0, 1, 0, 5, 0}), Bytes(group.begin(), group.begin() + 6));
    // The fourth entry: the directory's fields with the new id 8, then the zeros.
    EXPECT_EQ(Bytes({64, 64, 16, 0, 1, 0, 4, 0, 16, 0, 0, 0, 8, 0}), Bytes(group.begin() + 48, group.begin() + 62));
    EXPECT_EQ(Bytes(14, 0), Bytes(group.end() - 14, group.end()));
    std::vector<uint16_t> read_back;
    uint32_t sum = 0;
    ASSERT_TRUE(read_icon_group_ids(group.data(), group.size(), &read_back, &sum));
    EXPECT_EQ(ids, read_back);
    EXPECT_EQ(5u * 16, sum);
}

namespace {

class Recorder : public QlseReporter {
public:
    std::vector<std::string> names;
    int errors = 0;
    bool cancel = false;
    uint64_t last = 0, total = 0;
    void progress_start(uint64_t t) override { total = t; }
    void progress_step(uint64_t p) override { last = p; }
    bool cancelled() override { return cancel; }
    void error(const QlChar*) override { ++errors; }
    void entry_name(const uint8_t* n, size_t l, bool) override { names.push_back(std::string(n, n + l)); }
};

}  // namespace

TEST(HelperLibrary, AppendRaisesOffsetsAndFillsDeferredSizes)
{
    Entry deferred;
    deferred.name = "late.txt";
    deferred.data = text("written before its sizes were known");
    deferred.deferred = true;
    MemoryFile source, target;
    source.bytes = make_zip({deflated("a.txt", "alpha alpha alpha"), deferred}, "a comment");
    target.bytes = Bytes(1000, 0xEE);
    Recorder r;
    ASSERT_EQ(kQlseOk, qlse_append_archive(source, target, r));
    EXPECT_EQ(source.bytes.size(), r.last);
    ASSERT_EQ(1000 + source.bytes.size(), target.bytes.size());

    // The appended archive scans from its start and tests sound.
    Scanned s = scan(target.bytes, 4096, 1000);
    ASSERT_EQ(kZipScanOk, s.fault);
    EXPECT_EQ(target.bytes.size() - 22 - 9, s.result.end_record_offset);
    Recorder t;
    SfxDecoders none;
    EXPECT_EQ(kQlseOk, qlse_test_archive(target, none, t));
    EXPECT_EQ((std::vector<std::string>{"a.txt", "late.txt"}), t.names);
    // The deferred entry's local header holds its real CRC and sizes.
    uint32_t crc = crc32_update(0, deferred.data.data(), deferred.data.size());
    size_t at = 1000 + 30 + 5 + deflate(text("alpha alpha alpha")).size();
    EXPECT_EQ(crc, zip_get32(&target.bytes[at + 14]));
    EXPECT_EQ(deferred.data.size(), zip_get32(&target.bytes[at + 18]));

    Recorder cancelled;
    cancelled.cancel = true;
    MemoryFile other;
    EXPECT_EQ(kQlseCancelled, qlse_append_archive(source, other, cancelled));
}

TEST(HelperLibrary, ArchiveTestFindsDamage)
{
    Entry a = deflated("a.txt", "alpha alpha alpha");
    Bytes good = make_zip({a, deflated("b.txt", "bravo")});
    struct Row {
        const char* why;
        size_t at;  // byte to flip, 0 for none
        QlseResult result;
    } rows[] = {
        {"sound", 0, kQlseOk},
        {"a data byte changed: bad CRC", 30 + 5 + 2, kQlseFailed},
        {"a local name changed: headers disagree", 30 + 1, kQlseFailed},
        {"the central directory cut: damaged", good.size() - 30, kQlseFailed},
    };
    for (const Row& r : rows) {
        MemoryFile zip;
        zip.bytes = good;
        if (r.at)
            zip.bytes[r.at] ^= 0x55;
        Recorder rec;
        SfxDecoders none;
        EXPECT_EQ(r.result, qlse_test_archive(zip, none, rec)) << r.why;
        EXPECT_EQ(r.result == kQlseOk ? 0 : 1, rec.errors) << r.why;
    }
    MemoryFile ppmd;
    ppmd.bytes = make_zip({with(a, 98)});
    Recorder rec;
    SfxDecoders none;
    EXPECT_EQ(kQlseFailed, qlse_test_archive(ppmd, none, rec)) << "no PPMd decoder given";
}

TEST(HelperLibrary, ArchiveTestFollowsTheStubsWalk)
{
    // The stub walks the local headers front to back and never reads the
    // directory: an entry it cannot meet that way would silently be missing.
    Entry a = deflated("a.txt", "alpha alpha alpha");
    Entry b = deflated("b.txt", "bravo");
    Entry hidden;
    hidden.name = "hidden.txt";
    hidden.data = text("psst");
    Entry outer;
    outer.name = "outer.bin";
    outer.data = local_record(hidden);  // a whole local record as stored data
    const uint32_t inside = 30 + static_cast<uint32_t>(outer.name.size());
    const Bytes ab = local_record(a);
    Bytes a_gap_b = ab;
    append(a_gap_b, text("junk"));
    append(a_gap_b, local_record(b));
    Bytes a_b = ab;
    append(a_b, local_record(b));
    Bytes a_tail = ab;
    append(a_tail, text("junk"));
    Entry late;
    late.name = "late.txt";
    late.data = text("deferred sizes");
    late.deferred = true;
    Entry late_bare = late;
    late_bare.descriptor_signature = false;
    Bytes deferred_pair = local_record(late);
    const uint32_t after_late = static_cast<uint32_t>(deferred_pair.size());
    append(deferred_pair, local_record(late_bare));
    const uint32_t bo = static_cast<uint32_t>(ab.size());
    struct Row {
        const char* why;
        Bytes body;
        std::vector<std::pair<Entry, uint32_t>> listed;
        QlseResult result;
    } rows[] = {
        {"an entry hidden inside another's data", local_record(outer), {{outer, 0}, {hidden, inside}}, kQlseFailed},
        {"two entries on one local header", a_b, {{a, 0}, {a, 0}, {b, bo}}, kQlseFailed},
        {"bytes between two entries", a_gap_b, {{a, 0}, {b, bo + 4}}, kQlseFailed},
        {"bytes between the last entry and the directory", a_tail, {{a, 0}}, kQlseFailed},
        {"the directory in another order than the entries", a_b, {{b, bo}, {a, 0}}, kQlseOk},
        {"descriptors with and without their signature", deferred_pair, {{late, 0}, {late_bare, after_late}},
         kQlseOk},
    };
    for (const Row& r : rows) {
        MemoryFile zip;
        zip.bytes = with_directory(r.body, r.listed);
        Recorder rec;
        SfxDecoders none;
        EXPECT_EQ(r.result, qlse_test_archive(zip, none, rec)) << r.why;
        EXPECT_EQ(r.result == kQlseOk ? 0 : 1, rec.errors) << r.why;
    }
}

TEST(HelperLibrary, MultiVolumeAndLabel)
{
    MemoryFile whole;
    whole.bytes = make_zip({deflated("a.txt", "a")});
    int part = -1;
    EXPECT_EQ(1, qlse_check_multi_volume(whole, &part));
    EXPECT_EQ(0, part);
    MemoryFile last = whole;
    last.bytes[last.bytes.size() - 22 + 4] = 2;  // end record on disk 3
    last.bytes[last.bytes.size() - 22 + 6] = 2;
    EXPECT_EQ(1, qlse_check_multi_volume(last, &part));
    EXPECT_EQ(3, part);
    MemoryFile piece;
    piece.bytes = Bytes(whole.bytes.begin(), whole.bytes.end() - 22);
    EXPECT_EQ(0, qlse_check_multi_volume(piece, &part));
}

// ------------------------------------------------------------ the split

namespace {

// Disks of `capacity` bytes each; disk 1 starts with `first` bytes (a stub).
class MemoryDisks : public QlseDiskSet {
public:
    MemoryDisks(uint64_t capacity, size_t first) : capacity(capacity) { parts.emplace_back(first, 0xEE); }
    uint64_t room() override { return capacity - parts.back().size(); }
    uint64_t position() override { return parts.back().size(); }
    bool write(const uint8_t* data, uint32_t count) override
    {
        EXPECT_LE(count, room());
        parts.back().insert(parts.back().end(), data, data + count);
        return true;
    }
    QlseResult next_disk(int number) override
    {
        EXPECT_EQ(static_cast<int>(parts.size()) + 1, number);
        if (static_cast<int>(parts.size()) >= refuse_at)
            return kQlseCancelled;
        parts.emplace_back();
        return kQlseOk;
    }
    void discard() override { discarded = true; }

    uint64_t capacity;
    int refuse_at = 1000;
    bool discarded = false;
    std::vector<Bytes> parts;
};

}  // namespace

TEST(HelperLibrary, SpanKeepsRecordsWholeAndNumbersTheDisks)
{
    Entry late;
    late.name = "late.txt";
    late.data = text(std::string(700, 'L'));
    late.deferred = true;
    Entry big;
    big.name = "dir/big.bin";
    for (int i = 0; i < 3000; ++i)
        big.data.push_back(static_cast<uint8_t>(i * 7919 >> 3));
    MemoryFile source;
    source.bytes = make_zip({deflated("a.txt", "alpha alpha alpha"), big, late, deflated("z.txt", "zulu")},
                            "set comment");
    struct Row {
        uint64_t capacity;
        size_t stub;
    } rows[] = {{1000000, 0}, {1000000, 400}, {1024, 0}, {1024, 700}, {333, 100}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.capacity);
        MemoryDisks disks(row.capacity, row.stub);
        Recorder r;
        ASSERT_EQ(kQlseOk, qlse_span_archive(source, disks, r));
        EXPECT_FALSE(disks.discarded);
        EXPECT_EQ(source.bytes.size(), r.last);
        EXPECT_EQ(row.capacity == 1000000, disks.parts.size() == 1);
        // The end record lies whole on the last disk and names it, and the
        // directory's disk; every directory header names a local header that
        // lies whole on its disk.
        const Bytes& last = disks.parts.back();
        ASSERT_GE(last.size(), 22u + 11u);
        const uint8_t* end = &last[last.size() - 22 - 11];
        ASSERT_EQ(kZipEndSig, zip_get32(end));
        EXPECT_EQ(disks.parts.size() - 1, zip_get16(end + 4));
        uint16_t dir_disk = zip_get16(end + 6);
        uint32_t at = zip_get32(end + 16);
        Bytes data;  // the entries' bytes, joined across the disks
        for (const Bytes& part : disks.parts)
            data.insert(data.end(), part.begin(), part.end());
        int count = 0;
        for (uint16_t disk = dir_disk; count < 4;) {
            const Bytes& part = disks.parts[disk];
            if (at == part.size()) {
                ++disk;
                at = 0;
                continue;
            }
            ASSERT_EQ(kZipCentralSig, zip_get32(&part[at]));
            uint16_t local_disk = zip_get16(&part[at + 34]);
            uint32_t local = zip_get32(&part[at + 42]);
            const Bytes& home = disks.parts.at(local_disk);
            ASSERT_LE(local + 30u, home.size());
            ASSERT_EQ(kZipLocalSig, zip_get32(&home[local]));
            EXPECT_LE(local + 30u + zip_get16(&home[local + 26]) + zip_get16(&home[local + 28]), home.size());
            // The deferred entry's header holds its sizes.
            if (zip_get16(&part[at + 28]) == 8)
                EXPECT_EQ(700u, zip_get32(&home[local + 22]));
            at += 46 + zip_get16(&part[at + 28]) + zip_get16(&part[at + 30]) + zip_get16(&part[at + 32]);
            ++count;
        }
        // Cut anywhere else, the entries' bytes are those of the appended
        // archive (deferred sizes filled in).
        MemoryFile appended;
        Recorder quiet;
        ASSERT_EQ(kQlseOk, qlse_append_archive(source, appended, quiet));
        size_t body = zip_get32(&source.bytes[source.bytes.size() - 11 - 22 + 16]);
        ASSERT_GE(data.size(), row.stub + body);
        EXPECT_TRUE(std::equal(appended.bytes.begin(), appended.bytes.begin() + static_cast<long>(body),
                               data.begin() + static_cast<long>(row.stub)));
        for (const Bytes& part : disks.parts)
            EXPECT_LE(part.size(), row.capacity);
    }
}

TEST(HelperLibrary, SpanStopsOnCancelAndOnTooSmallDisks)
{
    MemoryFile source;
    Entry big;
    big.name = "big.bin";
    big.data = Bytes(5000, 0x5A);
    source.bytes = make_zip({big, deflated("b.txt", "bravo")});
    struct Row {
        const char* why;
        uint64_t capacity;
        int refuse_at;   // next_disk answers cancelled from this many parts on
        bool cancel;     // the cancel poll answers yes
        QlseResult result;
    } rows[] = {
        {"the disk prompt cancelled", 2000, 2, false, kQlseCancelled},
        {"the cancel poll", 1000000, 1000, true, kQlseCancelled},
        {"a disk smaller than a local header", 20, 1000, false, kQlseFailed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        MemoryDisks disks(row.capacity, 0);
        disks.refuse_at = row.refuse_at;
        Recorder r;
        r.cancel = row.cancel;
        EXPECT_EQ(row.result, qlse_span_archive(source, disks, r));
        EXPECT_TRUE(disks.discarded);
        EXPECT_EQ(row.result == kQlseFailed ? 1 : 0, r.errors);
    }
}
