#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "builder/sfxheader.h"
#include "tests/layout/LayoutImages.h"

namespace {
SfxHeader blank_header()
{
    SfxHeader header;
    std::memset(&header, 0, sizeof header);
    std::memcpy(header.eyecatcher, kSfxEyecatcher, sizeof kSfxEyecatcher);
    header.header_version = kSfxHeaderVersion;
    return header;
}
}  // namespace

TEST(SfxHeader, FindsTheFirstOfTwoEyecatchers)
{
    std::vector<uint8_t> image(300, 0);
    std::memcpy(&image[200], kSfxEyecatcher, 8);
    EXPECT_EQ(find_sfx_header(image.data(), image.size()), 200u);
    std::memcpy(&image[37], kSfxEyecatcher, 8);
    EXPECT_EQ(find_sfx_header(image.data(), image.size()), 37u);
}

TEST(SfxHeader, FindRefusesPartialAndMissingEyecatchers)
{
    std::vector<uint8_t> image(64, 'T');
    EXPECT_EQ(find_sfx_header(image.data(), image.size()), kSfxHeaderNotFound);
    // Seven of the eight bytes at the very end of the image.
    std::memcpy(&image[57], kSfxEyecatcher, 7);
    EXPECT_EQ(find_sfx_header(image.data(), image.size()), kSfxHeaderNotFound);
    // The whole eyecatcher as the last 8 bytes is found.
    std::memcpy(&image[56], kSfxEyecatcher, 8);
    EXPECT_EQ(find_sfx_header(image.data(), image.size()), 56u);
    EXPECT_EQ(find_sfx_header(image.data(), 7), kSfxHeaderNotFound);
    EXPECT_EQ(find_sfx_header(nullptr, 100), kSfxHeaderNotFound);
}

TEST(SfxHeader, WritesEveryFieldLittleEndianAtItsOffset)
{
    SfxHeader header = blank_header();
    header.crc32 = 0x04030201;
    header.archive_offset = 0x14131211;
    header.stub_length = 0x24232221;
    header.end_record_offset = 0x34333231;
    header.total_size = 0x44434241;
    header.flags = 0x54535251;
    std::memcpy(header.wait_name, "SETUPEXE", 8);
    header.wait_name_end = 0;
    header.reserved_41 = 0x61;
    header.written_marker = kSfxWrittenMarker;
    header.header_version = 0x7271;
    header.comment_offset = 0x84838281;
    header.comment_longest_line = 0x91;
    header.comment_lines = 0x92;
    header.reserved_52 = 0xA2A1;
    header.entry_point = 0xB4B3B2B1;

    std::vector<uint8_t> image(kSfxHeaderSize + 10, 0xEE);
    ASSERT_TRUE(write_sfx_header(header, image.data(), image.size(), 5));
    const uint8_t expected[kSfxHeaderSize] = {
        'T', 'R', 'V', 1, 's', 'f', 'x', 2,
        0x01, 0x02, 0x03, 0x04, 0x11, 0x12, 0x13, 0x14, 0x21, 0x22, 0x23, 0x24,
        0x31, 0x32, 0x33, 0x34, 0x41, 0x42, 0x43, 0x44, 0x51, 0x52, 0x53, 0x54,
        'S', 'E', 'T', 'U', 'P', 'E', 'X', 'E', 0x00, 0x61, 0xFF, 0xFF, 0x71, 0x72,
        0x81, 0x82, 0x83, 0x84, 0x91, 0x92, 0xA1, 0xA2, 0xB1, 0xB2, 0xB3, 0xB4,
    };
    EXPECT_EQ(0, std::memcmp(&image[5], expected, sizeof expected));
    EXPECT_EQ(image[4], 0xEE);
    EXPECT_EQ(image[5 + kSfxHeaderSize], 0xEE);

    SfxHeader back;
    ASSERT_TRUE(read_sfx_header(image.data(), image.size(), 5, &back));
    EXPECT_EQ(0, std::memcmp(&back, &header, sizeof header));
}

TEST(SfxHeader, RefusesRecordsThatDoNotFit)
{
    std::vector<uint8_t> image(kSfxHeaderSize + 3, 0);
    SfxHeader header = blank_header();
    EXPECT_TRUE(write_sfx_header(header, image.data(), image.size(), 3));
    EXPECT_FALSE(write_sfx_header(header, image.data(), image.size(), 4));
    EXPECT_FALSE(write_sfx_header(header, image.data(), image.size(), static_cast<size_t>(-1)));
    SfxHeader back;
    EXPECT_TRUE(read_sfx_header(image.data(), image.size(), 3, &back));
    EXPECT_FALSE(read_sfx_header(image.data(), image.size(), 4, &back));
    EXPECT_FALSE(read_sfx_header(image.data(), image.size(), image.size() + 1, &back));
}

TEST(SfxHeader, WaitNameOfEightCharactersHasNoNulAndByte40StaysZero)
{
    struct Case {
        const char* name;
        const char* stored;  // the 8 bytes at offset 32
        size_t length;
        bool fits;
    };
    const Case cases[] = {
        {"SETUPEXE", "SETUPEXE", 8, true},
        {"_ISDEL", "_ISDEL\0\0", 6, true},
        {"", "\0\0\0\0\0\0\0\0", 0, true},
        {"INSTALLER", "INSTALLE", 8, false},  // cut, and said so
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SfxHeader header = blank_header();
        std::memset(header.wait_name, 'x', 8);
        EXPECT_EQ(set_sfx_wait_name(&header, c.name), c.fits);
        std::vector<uint8_t> image(kSfxHeaderSize, 0xEE);
        ASSERT_TRUE(write_sfx_header(header, image.data(), image.size(), 0));
        EXPECT_EQ(0, std::memcmp(&image[32], c.stored, 8));
        EXPECT_EQ(image[40], 0);
        EXPECT_EQ(sfx_wait_name_length(header), c.length);
    }
}

TEST(SfxHeader, TemplateOfTheTestStubIsFoundAndSupported)
{
    const std::vector<uint8_t> stub = make_stub_image(0x1234);
    const size_t at = find_sfx_header(stub.data(), stub.size());
    ASSERT_EQ(at, kStubRecordOffset);
    SfxHeader header;
    ASSERT_TRUE(read_sfx_header(stub.data(), stub.size(), at, &header));
    EXPECT_EQ(+header.written_marker, 0);
    EXPECT_TRUE(sfx_header_version_supported(header));
    header.header_version = 7;
    EXPECT_FALSE(sfx_header_version_supported(header));
}

TEST(SfxHeader, KnownFlagsLeaveOutTheBitsNeverSet)
{
    EXPECT_EQ(kSfxFlagsKnown & 0x20u, 0u);
    EXPECT_EQ(kSfxFlagsKnown & 0x4000u, 0u);
    EXPECT_EQ(kSfxFlagsKnown & ~0x7FFFFFu, 0u);
    EXPECT_EQ(kSfxFlagsKnown | 0x20u | 0x4000u, 0x7FFFFFu);
}
