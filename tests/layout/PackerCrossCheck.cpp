// Reads the file that tools/sfxpack.py made (tests/layout/sfxsample.py) with
// the C++ side of the layout: both readings must agree on every field.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include <zlib.h>

#include "builder/pehead.h"
#include "builder/sfxconfig.h"
#include "builder/sfxheader.h"

namespace {
std::vector<uint8_t> read_sample()
{
    const char* path = std::getenv("QL_SFX_SAMPLE");
    if (path == nullptr)
        return {};
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t get32(const std::vector<uint8_t>& data, size_t at)
{
    return static_cast<uint32_t>(data.at(at)) | static_cast<uint32_t>(data.at(at + 1)) << 8 |
           static_cast<uint32_t>(data.at(at + 2)) << 16 | static_cast<uint32_t>(data.at(at + 3)) << 24;
}
}  // namespace

TEST(PackerCrossCheck, HeaderCrcTextsAndEndRecordOfThePackedSample)
{
    const std::vector<uint8_t> file = read_sample();
    ASSERT_FALSE(file.empty()) << "QL_SFX_SAMPLE names no readable file";

    const size_t at = find_sfx_header(file.data(), file.size());
    ASSERT_EQ(at, 0x230u);
    SfxHeader header;
    ASSERT_TRUE(read_sfx_header(file.data(), file.size(), at, &header));
    // The record's fields are unaligned: the unary + hands EXPECT_EQ (which
    // binds references) a copy.
    EXPECT_EQ(+header.written_marker, kSfxWrittenMarker);
    EXPECT_EQ(+header.header_version, kSfxHeaderVersion);
    EXPECT_EQ(+header.flags, kSfxFlagOverwrite | kSfxFlagWait | kSfxFlagTitle | kSfxFlagPeSection |
                                kSfxFlagTitleCaption);
    EXPECT_EQ(std::string(header.wait_name, sfx_wait_name_length(header)), "_ISDEL");
    EXPECT_EQ(+header.wait_name_end, 0);
    EXPECT_EQ(+header.total_size, 300u + 5000u);
    EXPECT_EQ(+header.stub_length, 0x400u);

    uint32_t entry = 0;
    ASSERT_TRUE(entry_point_rva(file.data(), header.stub_length, &entry));
    EXPECT_EQ(+header.entry_point, entry);
    EXPECT_EQ(entry, 0x1A2Bu);

    // The CRC as the stub takes it: behind the PE headers, field as 0.
    ASSERT_LE(+header.archive_offset, file.size());
    uint32_t crc = 0;
    ASSERT_TRUE(sfx_head_crc(file.data(), header.archive_offset, header.flags, &crc));
    EXPECT_NE(+header.crc32, 0u);
    EXPECT_EQ(crc, +header.crc32);

    uint32_t offset = 0, length = 0;
    ASSERT_EQ(sfx_config_span(header, &offset, &length), SfxConfigSpan::Block);
    std::vector<uint8_t> raw(2 * kSfxConfigMaxUnits + 2);
    uLongf raw_size = static_cast<uLongf>(raw.size());
    z_stream zs{};
    ASSERT_EQ(inflateInit2(&zs, -MAX_WBITS), Z_OK);
    zs.next_in = const_cast<Bytef*>(&file[offset]);
    zs.avail_in = length;
    zs.next_out = raw.data();
    zs.avail_out = static_cast<uInt>(raw_size);
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u);
    raw.resize(raw.size() - zs.avail_out);
    inflateEnd(&zs);

    SfxConfigBlock block;
    ASSERT_EQ(split_config_block(raw.data(), raw.size(), &block), SfxConfigStatus::Ok);
    const SfxText expected[kSfxConfigFieldCount] = {
        QL("About Quolla"), QL("setup.exe /s"), QL(""), QL(""), QL("Dr\u00fccken Sie OK"),
        QL("Quolla Setup"), QL("Willkommen"),
        QL("-win32 -setup -t -sta -le -overwrite -runasuser -c setup.exe /s "),
    };
    for (size_t i = 0; i < kSfxConfigFieldCount; ++i)
        EXPECT_TRUE(block.field[i] == expected[i]) << "field " << i + 1;

    // The end record, and the shifted directory it names.
    const size_t end = header.end_record_offset;
    ASSERT_LE(end + 22, file.size());
    EXPECT_EQ(get32(file, end), 0x06054b50u);
    const uint32_t directory = get32(file, end + 16);
    EXPECT_EQ(directory + get32(file, end + 12), end);
    EXPECT_EQ(get32(file, directory), 0x02014b50u);
    EXPECT_EQ(get32(file, directory + 42), +header.archive_offset);
    EXPECT_EQ(get32(file, header.archive_offset), 0x04034b50u);
}
