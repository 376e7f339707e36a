#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "builder/crc32.h"
#include "builder/pehead.h"
#include "builder/sfxheader.h"
#include "tests/layout/LayoutImages.h"
#include "tests/support/RecordingHooks.h"

TEST(PeHead, ReadsEntryPointAndCrcStart)
{
    const std::vector<uint8_t> stub = make_stub_image(0x1A2B);
    PeHeaders headers;
    ASSERT_EQ(read_pe_headers(stub.data(), stub.size(), &headers), PeStatus::Ok);
    EXPECT_EQ(headers.nt_offset, kStubNtOffset);
    EXPECT_EQ(headers.section_count, 1);
    EXPECT_EQ(headers.optional_header_size, 224);
    uint32_t rva = 0, start = 0;
    ASSERT_TRUE(entry_point_rva(stub.data(), stub.size(), &rva));
    EXPECT_EQ(rva, 0x1A2Bu);
    ASSERT_TRUE(crc_start_offset(stub.data(), stub.size(), &start));
    EXPECT_EQ(start, kStubSectionTable);
}

TEST(PeHead, RefusesHeadersOutsideTheImageAndWrongSignatures)
{
    struct Case {
        const char* why;
        size_t at;        // patched u32 (or u16 when narrow) ...
        uint32_t value;
        bool narrow;
        size_t size;      // ... and the image size handed over
        PeStatus expected;
    };
    const size_t full = kStubSize;
    const size_t headers_end = kStubNtOffset + 248;
    const Case cases[] = {
        {"unchanged", 0, 'M' | 'Z' << 8, true, full, PeStatus::Ok},
        {"image ends with the NT headers", 0, 'M' | 'Z' << 8, true, headers_end, PeStatus::Ok},
        {"image one byte short of them", 0, 'M' | 'Z' << 8, true, headers_end - 1, PeStatus::HeadersOutside},
        {"e_lfanew beyond the file", 60, static_cast<uint32_t>(full), false, full, PeStatus::HeadersOutside},
        {"e_lfanew wraps around", 60, 0xFFFFFFF0u, false, full, PeStatus::HeadersOutside},
        {"shorter than a DOS header", 0, 'M' | 'Z' << 8, true, 63, PeStatus::NoImage},
        {"no MZ", 0, 'Z' | 'M' << 8, true, full, PeStatus::NoDosHeader},
        {"no PE signature", kStubNtOffset, 0x00004550 | 0x01000000, false, full, PeStatus::NoPeSignature},
        {"64-bit optional header", kStubNtOffset + 24, 0x20B, true, full, PeStatus::NotPe32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> image = make_stub_image(0x1000);
        if (c.narrow)
            put_u16(image, c.at, static_cast<uint16_t>(c.value));
        else
            put_u32(image, c.at, c.value);
        PeHeaders headers;
        EXPECT_EQ(read_pe_headers(image.data(), c.size, &headers), c.expected);
        uint32_t rva = 0, start = 0;
        EXPECT_EQ(entry_point_rva(image.data(), c.size, &rva), c.expected == PeStatus::Ok);
        EXPECT_EQ(crc_start_offset(image.data(), c.size, &start), c.expected == PeStatus::Ok);
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(PeHead, NullImageIsAnInternalError)
{
    uint32_t rva = 0;
    EXPECT_FALSE(entry_point_rva(nullptr, 0, &rva));
    const std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, QlHookReport::Assert);
    EXPECT_EQ(reports[0].source, "pe");
    EXPECT_EQ(reports[0].line, 1998);
}

namespace {
// A stub with a filled record and a block behind it: the head of a file.
std::vector<uint8_t> make_head()
{
    std::vector<uint8_t> head = make_stub_image(0x1000);
    for (int i = 0; i < 40; ++i)
        head.push_back(static_cast<uint8_t>(i * 13));
    put_u32(head, kStubRecordOffset + 12, static_cast<uint32_t>(head.size()));
    put_u32(head, kStubRecordOffset + 16, static_cast<uint32_t>(kStubSize));
    put_u16(head, kStubRecordOffset + 42, kSfxWrittenMarker);
    return head;
}
}  // namespace

TEST(PeHead, HeadCrcTakesTheCrcFieldAsZero)
{
    std::vector<uint8_t> head = make_head();
    const uint32_t plain = crc32_update(0, head.data(), head.size());
    uint32_t crc = 0;
    ASSERT_TRUE(sfx_head_crc(head.data(), head.size(), 0, &crc));
    EXPECT_EQ(crc, plain);

    // Once the value is stored, the same CRC comes out again.
    put_u32(head, kStubRecordOffset + 8, crc);
    uint32_t again = 0;
    ASSERT_TRUE(sfx_head_crc(head.data(), head.size(), 0, &again));
    EXPECT_EQ(again, crc);

    // With the section flag the range begins behind the PE headers.
    uint32_t behind = 0;
    ASSERT_TRUE(sfx_head_crc(head.data(), head.size(), kSfxFlagPeSection, &behind));
    put_u32(head, kStubRecordOffset + 8, 0);
    EXPECT_EQ(behind, crc32_update(0, head.data() + kStubSectionTable, head.size() - kStubSectionTable));
}

TEST(PeHead, HeadCrcRangeWithThePeSectionFlag)
{
    struct Case {
        const char* why;
        size_t at;
        bool changes_plain;    // CRC from offset 0
        bool changes_section;  // CRC behind the PE headers
    };
    const Case cases[] = {
        {"DOS stub byte", 0x70, true, false},
        {"header checksum", kStubNtOffset + 24 + 64, true, false},
        {"last byte of the NT headers", kStubSectionTable - 1, true, false},
        {"section table", kStubSectionTable, true, true},
        {"CRC field", kStubRecordOffset + 8, false, false},
        {"configuration block", kStubSize + 5, true, true},
    };
    const std::vector<uint8_t> head = make_head();
    uint32_t plain = 0, section = 0;
    ASSERT_TRUE(sfx_head_crc(head.data(), head.size(), 0, &plain));
    ASSERT_TRUE(sfx_head_crc(head.data(), head.size(), kSfxFlagPeSection, &section));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<uint8_t> changed = head;
        changed[c.at] ^= 0x5A;
        uint32_t crc = 0;
        ASSERT_TRUE(sfx_head_crc(changed.data(), changed.size(), 0, &crc));
        EXPECT_EQ(crc != plain, c.changes_plain);
        ASSERT_TRUE(sfx_head_crc(changed.data(), changed.size(), kSfxFlagPeSection, &crc));
        EXPECT_EQ(crc != section, c.changes_section);
    }
}

TEST(PeHead, HeadCrcNeedsTheRecordAndWithTheFlagThePeHeaders)
{
    std::vector<uint8_t> head = make_head();
    uint32_t crc = 0;
    // The record's CRC field must lie inside the head.
    EXPECT_FALSE(sfx_head_crc(head.data(), kStubRecordOffset + 11, 0, &crc));
    EXPECT_TRUE(sfx_head_crc(head.data(), kStubRecordOffset + 12, 0, &crc));

    put_u32(head, 60, 0x7FFFFFF0u);
    EXPECT_TRUE(sfx_head_crc(head.data(), head.size(), 0, &crc));
    EXPECT_FALSE(sfx_head_crc(head.data(), head.size(), kSfxFlagPeSection, &crc));

    std::vector<uint8_t> no_record = make_head();
    no_record[kStubRecordOffset] = 'X';
    EXPECT_FALSE(sfx_head_crc(no_record.data(), no_record.size(), 0, &crc));
}
