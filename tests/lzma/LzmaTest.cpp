#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "stub/engine/lzmadec.h"
#include "stub/engine/lzmasdk.h"
#include "tests/lzma/DecoderCases.h"

#pragma push_macro("_WIN32")
#undef _WIN32
#include <LzmaEnc.h>
#pragma pop_macro("_WIN32")

using namespace decoder_cases;

namespace {

const uint16_t kFlagEndMarker = 0x0002;

void* test_alloc(void*, size_t size)
{
    return std::malloc(size);
}
void test_free(void*, void* block)
{
    std::free(block);
}
ISzAlloc g_alloc = {test_alloc, test_free};

// Runs of noise and repeats, so that the stream has literals, matches and
// repeated matches at many distances.
Bytes mixed(size_t size, unsigned seed)
{
    std::mt19937 rnd(seed);
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        if (!out.empty() && rnd() % 2) {
            const size_t start = rnd() % out.size();
            const size_t n = 3 + rnd() % 300;
            for (size_t i = 0; i < n && out.size() < size; ++i)
                out.push_back(out[start + i]);
        } else {
            for (size_t n = 1 + rnd() % 40; n > 0 && out.size() < size; --n)
                out.push_back(static_cast<uint8_t>(rnd()));
        }
    }
    return out;
}

// Numbered lines: long outputs that encode quickly.
Bytes lines(size_t size)
{
    Bytes out;
    out.reserve(size + 64);
    char line[64];
    for (unsigned i = 0; out.size() < size; ++i) {
        const int n = std::snprintf(line, sizeof line, "%08u entries of the archive\n", i * 7919u);
        out.insert(out.end(), line, line + n);
    }
    out.resize(size);
    return out;
}

struct Stream {
    uint8_t properties[LZMA_PROPS_SIZE];
    Bytes data;
};

// A raw LZMA stream of `plain` from the SDK's own encoder.
Stream encode(const Bytes& plain, bool end_marker, uint32_t dictionary = 1 << 16)
{
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = 1;
    props.dictSize = dictionary;
    props.lc = 3;
    props.lp = 0;
    props.pb = 2;
    props.numThreads = 1;
    Stream s;
    s.data.resize(plain.size() + plain.size() / 2 + 1024);
    SizeT size = s.data.size();
    SizeT props_size = LZMA_PROPS_SIZE;
    const SRes r = LzmaEncode(s.data.data(), &size, plain.data(), plain.size(), &props, s.properties,
                              &props_size, end_marker ? 1 : 0, nullptr, &g_alloc, &g_alloc);
    EXPECT_EQ(r, SZ_OK);
    s.data.resize(size);
    return s;
}

// Method 14 entry data: SDK version, properties size, properties, stream.
Bytes entry_data(const Stream& s, uint16_t properties_size = LZMA_PROPS_SIZE)
{
    Bytes e = {9, 22, static_cast<uint8_t>(properties_size), static_cast<uint8_t>(properties_size >> 8)};
    e.insert(e.end(), s.properties, s.properties + LZMA_PROPS_SIZE);
    e.insert(e.end(), s.data.begin(), s.data.end());
    return e;
}

Bytes prefix(const Bytes& b, size_t n)
{
    return Bytes(b.begin(), b.begin() + std::min(n, b.size()));
}

}  // namespace

TEST(LzmaEntry, GeneratedArchivesDecodeOrFailAsRecorded)
{
    // 7-Zip with and without end marker, Python's zipfile, whole buffers,
    // patched properties sizes, cut streams.
    const char* cases[] = {"lzma-7z", "lzma-7z-eos", "lzma-python", "lzma-buffer-multiples",
                           "lzma-props-size-4", "lzma-props-size-6", "lzma-truncated",
                           "lzma-truncated-eos", "lzma-short-header"};
    size_t entries = 0;
    for (const char* name : cases)
        entries += check_case(QL_CASES_DIR, name, lzma_decode_entry, 14);
    EXPECT_EQ(entries, 13u);
}

TEST(LzmaEntry, EndsWhereTheHeaderFlagAndRecordedSizeSay)
{
    const Bytes plain = mixed(50000, 1);
    const size_t n = plain.size();
    struct Case {
        bool marker;      // the stream has an end marker
        uint16_t flags;
        uint64_t recorded;
        size_t output;    // bytes expected out when it succeeds
        int result;
        const char* why;
    } cases[] = {
        {false, 0, n, n, kQlDecodeOk, "known size, no marker"},
        {false, 0, n - 1000, n - 1000, kQlDecodeOk, "stops at the recorded size"},
        // The dictionary is cut to the recorded size with the flag too (the
        // engine takes nothing past it): a stream that reaches back further
        // is invalid.
        {true, kFlagEndMarker, 10, 0, kQlDecodeInvalid, "flag bit 1, size too small"},
        {true, kFlagEndMarker, n + 5000, n, kQlDecodeOk, "flag bit 1, size too large"},
        {true, 0, n + 5000, n, kQlDecodeOk, "an early marker ends it; the size check is the engine's"},
        {false, kFlagEndMarker, n, n, kQlDecodeInvalid, "flag bit 1 but no marker: the input ends first"},
        {false, 0, n + 1, n, kQlDecodeInvalid, "the input ends before the recorded size"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        DecodeRun run;
        run_entry(lzma_decode_entry, entry_data(encode(plain, c.marker)), c.recorded, c.flags, &run);
        EXPECT_EQ(run.result, c.result);
        if (c.result == kQlDecodeOk) {
            EXPECT_TRUE(run.sink.bytes == prefix(plain, c.output));
        }
    }
}

TEST(LzmaEntry, RefusesItsHeaderBeforeWritingAnything)
{
    const Bytes plain = mixed(3000, 2);
    const Bytes good = entry_data(encode(plain, false));
    Bytes bad_props = good;
    bad_props[4] = 225;  // lc/lp/pb out of range
    struct Case {
        Bytes data;
        int result;
        const char* why;
    } cases[] = {
        {prefix(good, 3), kQlDecodeInvalid, "fewer than 4 bytes"},
        {entry_data(encode(plain, false), 4), kQlDecodeUnknownHeader, "properties size 4"},
        {entry_data(encode(plain, false), 6), kQlDecodeUnknownHeader, "properties size 6"},
        {entry_data(encode(plain, false), 0x105), kQlDecodeUnknownHeader, "properties size 0x105"},
        {prefix(good, 8), kQlDecodeInvalid, "the properties cut short"},
        {bad_props, kQlDecodeInvalid, "properties the decoder cannot take"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        DecodeRun run;
        run_entry(lzma_decode_entry, c.data, plain.size(), 0, &run);
        EXPECT_EQ(run.result, c.result);
        EXPECT_TRUE(run.sink.sizes.empty());
    }
}

TEST(LzmaEntry, HandsOverWholeBuffersAndNeverAnEmptyOne)
{
    const size_t sizes[] = {kDecodeBuffer, 2 * kDecodeBuffer, kDecodeBuffer + 1};
    for (size_t size : sizes) {
        const Bytes plain = mixed(size, 3);
        for (bool marker : {false, true}) {
            SCOPED_TRACE(testing::Message() << size << (marker ? " with marker" : ""));
            DecodeRun run;
            run_entry(lzma_decode_entry, entry_data(encode(plain, marker, 1 << 20)), size,
                      marker ? kFlagEndMarker : 0, &run);
            EXPECT_EQ(run.result, kQlDecodeOk);
            EXPECT_EQ(run.sink.sizes.size(), (size + kDecodeBuffer - 1) / kDecodeBuffer);
            expect_whole_buffers(run.sink.sizes);
            EXPECT_TRUE(run.sink.bytes == plain);
        }
    }
}

TEST(LzmaEntry, TakesItsInputInPiecesOfAnySize)
{
    const Bytes plain = mixed(70000, 4);
    const Bytes data = entry_data(encode(plain, true));
    for (size_t piece : {size_t(1), size_t(5), size_t(4096), size_t(kEngineBlock)}) {
        SCOPED_TRACE(piece);
        DecodeRun run;
        run_entry(lzma_decode_entry, data, plain.size(), kFlagEndMarker, &run, piece);
        EXPECT_EQ(run.result, kQlDecodeOk);
        EXPECT_TRUE(run.sink.bytes == plain);
    }
}

TEST(LzmaEntry, StopsWithTheSinksAnswerOrAReadFailure)
{
    const Bytes plain = lines(3 * kDecodeBuffer);
    const Bytes data = entry_data(encode(plain, false, 1 << 20));

    DecodeRun aborted;
    aborted.sink.refuse_at = 2;
    aborted.sink.refusal = kQlDecodeAborted;
    run_entry(lzma_decode_entry, data, plain.size(), 0, &aborted);
    EXPECT_EQ(aborted.result, kQlDecodeAborted);
    EXPECT_EQ(aborted.sink.sizes.size(), 2u);

    DecodeRun failed;
    run_entry(lzma_decode_entry, prefix(data, data.size() / 2), plain.size(), 0, &failed, kEngineBlock, true);
    EXPECT_EQ(failed.result, kQlDecodeInvalid);
}

TEST(LzmaEntry, TakesNoLargerDictionaryThanTheEntryNeeds)
{
    // 4 GiB named in the properties of a small entry: the entry still decodes.
    const Bytes plain = mixed(20000, 6);
    Stream s = encode(plain, false);
    s.properties[1] = s.properties[2] = s.properties[3] = s.properties[4] = 0xFF;
    DecodeRun run;
    run_entry(lzma_decode_entry, entry_data(s), plain.size(), 0, &run);
    EXPECT_EQ(run.result, kQlDecodeOk);
    EXPECT_TRUE(run.sink.bytes == plain);
}

TEST(LzmaMemory, DecodesExactlyTheExpectedLength)
{
    const Bytes plain = mixed(40000, 7);
    const size_t n = plain.size();
    struct Case {
        bool marker;
        size_t out_size;
        size_t input;     // bytes of the stream given (0: all)
        int result;
        const char* why;
    } cases[] = {
        {false, n, 0, kQlDecodeOk, "exact, no marker"},
        {true, n, 0, kQlDecodeOk, "exact, with marker"},
        {true, n + 1, 0, kQlDecodeBadData, "short: the marker comes first"},
        {false, n + 1, 0, kQlDecodeBadData, "short: the input ends first"},
        {false, n - 1, 0, kQlDecodeBadData, "long: the stream goes on"},
        {true, n - 1, 0, kQlDecodeBadData, "long, with marker"},
        {false, n, 100, kQlDecodeBadData, "cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Stream s = encode(plain, c.marker);
        const size_t input = c.input ? c.input : s.data.size();
        Bytes out(c.out_size + 64, 0xA5);
        EXPECT_EQ(lzma_decode_memory(s.properties, s.data.data(), input, out.data(), c.out_size), c.result);
        for (size_t i = c.out_size; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xA5) << "written past the block at " << i;
        if (c.result == kQlDecodeOk) {
            EXPECT_TRUE(prefix(out, n) == plain);
        }
    }
}

TEST(LzmaMemory, SideBlocksTakeTheirPropertiesFromTheirSize)
{
    struct Case {
        size_t out_size;
        uint32_t dictionary;
    } cases[] = {{0, 1024}, {100, 1024}, {1024, 1024}, {1025, 1536}, {600000, 0x80000}, {0x80000, 0x80000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out_size);
        uint8_t p[5];
        lzma_memory_properties(c.out_size, p);
        EXPECT_EQ(p[0], 0x5D);  // lc 3, lp 0, pb 2
        EXPECT_EQ(uint32_t(p[1] | p[2] << 8 | p[3] << 16 | uint32_t(p[4]) << 24), c.dictionary);
    }

    // A block written with those properties decodes without them.
    const Bytes plain = mixed(30000, 8);
    uint8_t p[5];
    lzma_memory_properties(plain.size(), p);
    const Stream s = encode(plain, false, p[1] | p[2] << 8 | p[3] << 16);
    Bytes out(plain.size());
    EXPECT_EQ(lzma_decode_memory(s.data.data(), s.data.size(), out.data(), out.size()), kQlDecodeOk);
    EXPECT_TRUE(out == plain);
    EXPECT_EQ(lzma_decode_memory(s.data.data(), s.data.size(), out.data(), out.size() - 1), kQlDecodeBadData);
}
