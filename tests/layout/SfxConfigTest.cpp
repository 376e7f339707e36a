#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <zlib.h>

#include "builder/crc32.h"
#include "builder/sfxconfig.h"

namespace {
std::vector<uint8_t> utf16le(const SfxText& text)
{
    std::vector<uint8_t> bytes;
    for (QlChar c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8));
    }
    return bytes;
}

// Raw inflate of everything; false unless the stream ends exactly at the end.
bool inflate_raw(const uint8_t* data, size_t size, std::vector<uint8_t>* out)
{
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        return false;
    out->assign(64 * 1024, 0);
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = static_cast<uInt>(size);
    zs.next_out = out->data();
    zs.avail_out = static_cast<uInt>(out->size());
    const int rc = inflate(&zs, Z_FINISH);
    out->resize(out->size() - zs.avail_out);
    const bool whole = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return whole;
}

SfxConfigBlock install_block()
{
    SfxConfigBlock block;
    block.field[SfxInstallField::About] = QL("About this package");
    block.field[SfxInstallField::Command] = QL("setup.exe /q");
    block.field[SfxInstallField::DialogText] = QL("Dr\u00fccken Sie OK \u20ac");
    block.field[SfxInstallField::Title] = QL("Title");
    block.field[SfxInstallField::Greeting] = QL("Hello");
    block.field[SfxInstallField::Options] = QL("-win32 -setup -le -overwrite -runasuser -c setup.exe /q ");
    return block;
}

SfxConfigBlock standard_block()
{
    SfxConfigBlock block;
    block.field[SfxStandardField::Folder] = QL("C:\\Program Files\\Quolla");
    block.field[SfxStandardField::Program] = QL("C:\\Program Files\\Quolla\\read me.exe");
    block.field[SfxStandardField::Arguments] = QL("-x \"a b\"");
    block.field[SfxStandardField::Greeting] = QL("Greeting\r\nsecond line");
    block.field[SfxStandardField::About] = QL("About");
    // A unit 0x0001 is text like any other, not a separator.
    block.field[SfxStandardField::Options] = QL("-win32 -le -overwrite -runasuser \u0001 ");
    return block;
}

size_t units_of(const SfxConfigBlock& block)
{
    size_t units = 0;
    for (const SfxText& text : block.field)
        units += text.size() + 1;
    return units;
}

void expect_same(const SfxConfigBlock& a, const SfxConfigBlock& b)
{
    for (size_t i = 0; i < kSfxConfigFieldCount; ++i)
        EXPECT_TRUE(a.field[i] == b.field[i]) << "field " << i + 1;
}
}  // namespace

TEST(SfxConfig, PackAndSplitRoundTripInBothModes)
{
    const SfxConfigBlock blocks[] = {install_block(), standard_block(), SfxConfigBlock()};
    for (const SfxConfigBlock& block : blocks) {
        std::vector<uint8_t> bytes;
        ASSERT_EQ(pack_config_block(block, &bytes), SfxConfigStatus::Ok);
        ASSERT_EQ(bytes.size(), 2 * units_of(block));

        // Each field in its place, each with one NUL unit behind it.
        size_t at = 0;
        for (const SfxText& text : block.field) {
            const std::vector<uint8_t> expected = utf16le(text);
            ASSERT_LE(at + expected.size() + 2, bytes.size());
            EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + expected.size()), expected);
            at += expected.size();
            EXPECT_EQ(bytes[at], 0);
            EXPECT_EQ(bytes[at + 1], 0);
            at += 2;
        }

        SfxConfigBlock back;
        ASSERT_EQ(split_config_block(bytes.data(), bytes.size(), &back), SfxConfigStatus::Ok);
        expect_same(back, block);
    }
}

TEST(SfxConfig, BlockWithoutTextsStillHoldsEightStrings)
{
    SfxConfigBlock block;
    block.field[SfxInstallField::Options] = QL("-win32 -le ");
    std::vector<uint8_t> bytes;
    ASSERT_EQ(pack_config_block(block, &bytes), SfxConfigStatus::Ok);
    EXPECT_EQ(bytes.size(), 2u * (7 + 11 + 1));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 14), std::vector<uint8_t>(14, 0));
}

TEST(SfxConfig, PackKeepsTheUnitLimitAndRefusesNulInsideAField)
{
    SfxConfigBlock block;
    block.field[SfxInstallField::Options] = SfxText(kSfxConfigMaxUnits - 8, QL('x'));
    std::vector<uint8_t> bytes;
    EXPECT_EQ(pack_config_block(block, &bytes), SfxConfigStatus::Ok);
    EXPECT_EQ(bytes.size(), 2 * kSfxConfigMaxUnits);

    block.field[SfxInstallField::About] = QL("a");
    EXPECT_EQ(pack_config_block(block, &bytes), SfxConfigStatus::TooLong);

    SfxConfigBlock with_nul;
    with_nul.field[SfxInstallField::Command] = SfxText(QL("setup"), 5) + QlChar(0) + QL("x");
    EXPECT_EQ(pack_config_block(with_nul, &bytes), SfxConfigStatus::EmbeddedNul);
}

TEST(SfxConfig, SplitRefusesAnythingButExactlyEightStrings)
{
    auto units = [](std::initializer_list<uint16_t> list) {
        std::vector<uint8_t> bytes;
        for (uint16_t u : list) {
            bytes.push_back(static_cast<uint8_t>(u));
            bytes.push_back(static_cast<uint8_t>(u >> 8));
        }
        return bytes;
    };
    std::vector<uint8_t> too_long(2 * (kSfxConfigMaxUnits + 1), 0);
    std::fill(too_long.begin(), too_long.begin() + 2 * (kSfxConfigMaxUnits - 7), 'x');
    std::vector<uint8_t> odd = units({0, 0, 0, 0, 0, 0, 0, 0});
    odd.push_back('x');

    struct Case {
        const char* why;
        std::vector<uint8_t> bytes;
        SfxConfigStatus expected;
    };
    const Case cases[] = {
        {"eight empty strings", units({0, 0, 0, 0, 0, 0, 0, 0}), SfxConfigStatus::Ok},
        {"seven strings", units({'a', 0, 0, 0, 0, 0, 0, 0}), SfxConfigStatus::FieldCount},
        {"nine strings", units({0, 0, 0, 0, 0, 0, 0, 0, 0}), SfxConfigStatus::FieldCount},
        {"text behind the eighth", units({0, 0, 0, 0, 0, 0, 0, 0, 'x'}), SfxConfigStatus::FieldCount},
        {"last one not ended", units({0, 0, 0, 0, 0, 0, 0, 'o', 'p'}), SfxConfigStatus::FieldCount},
        {"nothing at all", {}, SfxConfigStatus::FieldCount},
        {"odd byte count", odd, SfxConfigStatus::OddSize},
        {"more than 1285 units", too_long, SfxConfigStatus::TooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SfxConfigBlock out;
        out.field[0] = QL("untouched");
        EXPECT_EQ(split_config_block(c.bytes.data(), c.bytes.size(), &out), c.expected);
        if (c.expected != SfxConfigStatus::Ok) {
            EXPECT_TRUE(out.field[0] == QL("untouched"));
        }
    }
}

TEST(SfxConfig, CompressedBlockInflatesToTheInput)
{
    std::vector<uint8_t> bytes;
    ASSERT_EQ(pack_config_block(install_block(), &bytes), SfxConfigStatus::Ok);
    uint8_t out[kSfxCompressCapacity];
    size_t size = 0;
    ASSERT_EQ(compress_to_memory(out, sizeof out, bytes.data(), bytes.size(), &size), kSfxCompressOk);
    ASSERT_GT(size, kSfxCompressPrefixSize);
    EXPECT_EQ(out[0] | out[1] << 8, kSfxCompressMethod);
    const uint32_t crc = static_cast<uint32_t>(out[2]) | static_cast<uint32_t>(out[3]) << 8 |
                         static_cast<uint32_t>(out[4]) << 16 | static_cast<uint32_t>(out[5]) << 24;
    EXPECT_EQ(crc, crc32_update(0, bytes.data(), bytes.size()));

    std::vector<uint8_t> inflated;
    ASSERT_TRUE(inflate_raw(out + kSfxCompressPrefixSize, size - kSfxCompressPrefixSize, &inflated));
    EXPECT_EQ(inflated, bytes);
    SfxConfigBlock back;
    EXPECT_EQ(split_config_block(inflated.data(), inflated.size(), &back), SfxConfigStatus::Ok);
    expect_same(back, install_block());
}

TEST(SfxConfig, CompressionReportsBothCapacityFailures)
{
    std::vector<uint8_t> input(2000);
    uint32_t seed = 1;
    for (uint8_t& b : input) {  // hardly compressible
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    std::vector<uint8_t> out(4096);
    size_t needed = 0;
    ASSERT_EQ(compress_to_memory(out.data(), out.size(), input.data(), input.size(), &needed), kSfxCompressOk);
    std::vector<uint8_t> inflated;
    ASSERT_TRUE(inflate_raw(out.data() + 6, needed - 6, &inflated));
    EXPECT_EQ(inflated, input);

    struct Case {
        size_t capacity;
        SfxCompressResult expected;
    };
    const Case cases[] = {
        {0, kSfxCompressTargetTooSmall},
        {kSfxCompressPrefixSize, kSfxCompressTargetTooSmall},
        {kSfxCompressPrefixSize + 1, kSfxCompressOutputTooSmall},
        {kSfxCompressCapacity, kSfxCompressOutputTooSmall},
        {needed - 1, kSfxCompressOutputTooSmall},
        {needed, kSfxCompressOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        size_t size = 99;
        std::vector<uint8_t> bounded(c.capacity + 16, 0xEE);
        EXPECT_EQ(compress_to_memory(bounded.data(), c.capacity, input.data(), input.size(), &size), c.expected);
        EXPECT_EQ(size, c.expected == kSfxCompressOk ? needed : 0u);
        // Nothing lands behind the capacity.
        for (size_t i = c.capacity; i < bounded.size(); ++i)
            ASSERT_EQ(bounded[i], 0xEE) << "byte " << i;
    }
}

TEST(SfxConfig, SpanFromTheHeaderRecord)
{
    struct Case {
        uint32_t stub_length;
        uint32_t archive_offset;
        SfxConfigSpan expected;
        uint32_t length;
    };
    const Case cases[] = {
        {0, 0x5000, SfxConfigSpan::None, 0},             // no block
        {0x4000, 0x4100, SfxConfigSpan::Block, 0x100},
        {0x4000, 0x4000 + 1279, SfxConfigSpan::Block, 1279},  // the longest a builder writes
        {0x4000, 0x4000 + 1280, SfxConfigSpan::Bad, 0},
        {0x4000, 0x4000, SfxConfigSpan::Bad, 0},         // empty block
        {0x4000, 0x3000, SfxConfigSpan::Bad, 0},         // archive before the block
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive_offset);
        SfxHeader header{};
        header.stub_length = c.stub_length;
        header.archive_offset = c.archive_offset;
        uint32_t offset = 0, length = 0;
        ASSERT_EQ(sfx_config_span(header, &offset, &length), c.expected);
        if (c.expected == SfxConfigSpan::Block) {
            EXPECT_EQ(offset, c.stub_length);
            EXPECT_EQ(length, c.length);
        }
    }
}
