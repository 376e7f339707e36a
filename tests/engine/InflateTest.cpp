#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "stub/engine/cpufeatures.h"
#include "stub/engine/inflate.h"
#include "tests/engine/DeflateWriter.h"
#include "tests/support/RecordingHooks.h"

using namespace deflate_writer;

namespace {

struct Deflate64Fixture {
    const char* name;
    const uint8_t* data;
    size_t size;
    uint32_t plain_size;
    uint32_t crc;
};
#include "tests/engine/Deflate64Fixtures.inc"

typedef std::vector<uint8_t> Bytes;

const uint32_t kOutputWindow = 0x7000;   // the engine's output window

// Gives the first `size` bytes in pieces of at most `chunk`; then reports the
// end of the input, or a read failure with `fail_at_end`.
class ChunkSource : public QlByteSource {
public:
    ChunkSource(const Bytes& data, size_t size, size_t chunk, bool fail_at_end = false)
        : data_(data), size_(size), chunk_(chunk), fail_(fail_at_end) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        size_t n = std::min<size_t>({capacity, chunk_, size_ - pos_});
        if (n == 0)
            return fail_ ? kReadFailed : 0;
        std::copy(data_.begin() + pos_, data_.begin() + pos_ + n, buffer);
        pos_ += n;
        return static_cast<int32_t>(n);
    }

private:
    const Bytes& data_;
    size_t size_;
    size_t chunk_;
    bool fail_;
    size_t pos_ = 0;
};

// Keeps what it is handed and how; refuses with `refusal` at call `refuse_at`.
class RecordingSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        sizes.push_back(count);
        if (sizes.size() == refuse_at)
            return refusal;
        bytes.insert(bytes.end(), data, data + count);
        return 0;
    }
    Bytes bytes;
    std::vector<uint32_t> sizes;
    size_t refuse_at = 0;
    int refusal = 0;
};

// One state with its buffers, used the way the engine uses it.
struct Inflater {
    explicit Inflater(uint32_t window_size = 0x100000, uint32_t input_size = 0x7000)
        : window(window_size), input(input_size), staging(kOutputWindow), state(new QlInflateState)
    {
        inflate_setup(state.get(), window.data(), window_size, input.data(), input_size);
    }
    // Decodes, then hands on the rest of the output window as the engine does.
    int run(QlInflateFormat format, QlByteSource* source, RecordingSink* sink)
    {
        QlOutputWindow out = {staging.data(), kOutputWindow, 0, sink};
        int result = inflate_data(state.get(), format, source, &out);
        int flushed = output_window_flush(&out);
        return result != 0 ? result : flushed;
    }
    int run(QlInflateFormat format, const Bytes& stream, Bytes* out, size_t chunk = SIZE_MAX)
    {
        ChunkSource source(stream, stream.size(), chunk);
        RecordingSink sink;
        int result = run(format, &source, &sink);
        *out = sink.bytes;
        return result;
    }
    Bytes window, input, staging;
    std::unique_ptr<QlInflateState> state;
};

Bytes zlib_deflate(const Bytes& data, int level, int strategy, int mem_level = 8)
{
    z_stream zs = {};
    EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -15, mem_level, strategy), Z_OK);
    Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())) + 64);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// Test data: text-like words, incompressible bytes, long runs, and a mix.
Bytes make_data(const std::string& kind, size_t size, unsigned seed = 1)
{
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(size);
    static const char* const words[] = {"window ", "stream ", "block ", "the ", "of ", "archive\n",
                                        "Quolla ", "entry, ", "distance ", "literal. "};
    while (out.size() < size) {
        if (kind == "text" || (kind == "mix" && rng() % 3 == 0)) {
            const char* w = words[rng() % 10];
            out.insert(out.end(), w, w + strlen(w));
        } else if (kind == "random" || (kind == "mix" && rng() % 2 == 0)) {
            for (int i = 0; i < 64; ++i)
                out.push_back(static_cast<uint8_t>(rng()));
        } else {
            out.insert(out.end(), 1 + rng() % 3000, static_cast<uint8_t>(rng() % 4));
        }
    }
    out.resize(size);
    return out;
}

// A stored block of `data` (at most 65535 bytes), from the current bit on.
void stored_block(BitWriter& w, bool final, const Bytes& data, size_t from, size_t n)
{
    w.put(final ? 1 : 0, 1);
    w.put(0, 2);
    w.align();
    w.put(static_cast<uint32_t>(n), 16);
    w.put(static_cast<uint32_t>(n ^ 0xFFFF), 16);
    for (size_t i = 0; i < n; ++i)
        w.put(data[from + i], 8);
}

void fixed_header(BitWriter& w, bool final)
{
    w.put(final ? 1 : 0, 1);
    w.put(1, 2);
}

}  // namespace

TEST(Inflate, ZlibStreamsDecodeToTheirInput)
{
    struct Case {
        const char* kind;
        size_t size;
        int level;
        int strategy;
        size_t chunk;       // source pieces
        uint32_t input;     // inflate's input buffer
        const char* why;
    } const cases[] = {
        {"text", 200000, 6, Z_DEFAULT_STRATEGY, SIZE_MAX, 0x7000, "dynamic blocks"},
        {"text", 200000, 9, Z_DEFAULT_STRATEGY, 1, kQlInflateMinInput, "one byte per read, smallest input buffer"},
        {"mix", 300000, 1, Z_DEFAULT_STRATEGY, 777, 0x7000, "input pieces cut codes anywhere"},
        {"random", 100000, 6, Z_DEFAULT_STRATEGY, SIZE_MAX, 0x7000, "incompressible: stored blocks"},
        {"mix", 200000, 0, Z_DEFAULT_STRATEGY, 4096, 0x7000, "level 0: stored blocks only"},
        {"mix", 200000, 6, Z_FIXED, SIZE_MAX, 0x7000, "fixed blocks"},
        {"text", 100000, 6, Z_HUFFMAN_ONLY, SIZE_MAX, 0x7000, "literals only"},
        {"runs", 300000, 6, Z_RLE, SIZE_MAX, 0x7000, "distance 1 runs"},
        {"runs", 300000, 9, Z_DEFAULT_STRATEGY, 100, 0x7000, "long matches"},
        {"mix", 0, 6, Z_DEFAULT_STRATEGY, SIZE_MAX, 0x7000, "empty stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Bytes data = make_data(c.kind, c.size);
        const Bytes stream = zlib_deflate(data, c.level, c.strategy);
        Inflater inflater(0x100000, c.input);
        ChunkSource source(stream, stream.size(), c.chunk);
        RecordingSink sink;
        ASSERT_EQ(inflater.run(kQlDeflate, &source, &sink), 0);
        EXPECT_TRUE(sink.bytes == data);
        // Whole output windows, then the rest; never an empty handover.
        for (size_t i = 0; i < sink.sizes.size(); ++i) {
            if (i + 1 < sink.sizes.size()) {
                EXPECT_EQ(sink.sizes[i], kOutputWindow);
            }
            EXPECT_GT(sink.sizes[i], 0u);
        }
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(Inflate, OutputPastTheWindowArrivesWholeAndInOrder)
{
    // Over 2 MiB through the smallest window and through the stub's 1 MiB
    // window: both wrap, and back-references reach across the wrap.
    const Bytes data = make_data("mix", 0x240000 + 12345, 7);
    const Bytes stream = zlib_deflate(data, 6, Z_DEFAULT_STRATEGY);
    for (uint32_t window : {uint32_t(kQlInflateMinWindow), uint32_t(0x100000)}) {
        SCOPED_TRACE(window);
        Inflater inflater(window);
        ChunkSource source(stream, stream.size(), 0x7000);
        RecordingSink sink;
        ASSERT_EQ(inflater.run(kQlDeflate, &source, &sink), 0);
        EXPECT_TRUE(sink.bytes == data);
        EXPECT_EQ(sink.sizes.size(), data.size() / kOutputWindow + 1);
        EXPECT_EQ(sink.sizes.back(), data.size() % kOutputWindow);
    }
}

TEST(Inflate, StoredBlocks)
{
    const Bytes data = make_data("random", 70000, 3);
    // A fixed block that ends mid-byte, an empty stored block, a stored block
    // of 65535 bytes and a final stored block of the rest.
    BitWriter w;
    const BlockCodes fixed = BlockCodes::fixed();
    fixed_header(w, false);
    for (int i = 0; i < 5; ++i)
        fixed.symbol(w, data[i]);
    fixed.end(w);
    stored_block(w, false, data, 0, 0);
    stored_block(w, false, data, 5, 65535);
    stored_block(w, true, data, 65540, data.size() - 65540);
    Inflater inflater;
    Bytes out;
    ASSERT_EQ(inflater.run(kQlDeflate, w.finish(), &out), 0);
    EXPECT_TRUE(out == data);

    // Only an empty final stored block: nothing at all reaches the sink.
    BitWriter empty;
    stored_block(empty, true, data, 0, 0);
    Bytes none = empty.finish();
    ChunkSource source(none, none.size(), SIZE_MAX);
    RecordingSink sink;
    EXPECT_EQ(inflater.run(kQlDeflate, &source, &sink), 0);
    EXPECT_TRUE(sink.sizes.empty());
}

TEST(Inflate, Deflate64LengthCode285AndDistanceCodes30And31)
{
    // 65536 bytes of history from two stored blocks, then fixed-block matches
    // with the codes that only Deflate64 gives their full range.
    const Bytes history = make_data("random", 65536, 5);
    struct Match {
        Coded length;
        Coded distance;
    };
    const Match deflate64[] = {
        {{285, 16, 0xFFFF}, {0, 0, 0}},       // length 3 + 65535 = 65538 at distance 1
        {{285, 16, 0}, {30, 14, 0}},          // length 3, distance 32769
        {{285, 16, 1000}, {30, 14, 16383}},   // length 1003, distance 49152
        {{284, 5, 31}, {31, 14, 0}},          // length 258, distance 49153
        {{285, 16, 70}, {31, 14, 16383}},     // length 73, distance 65536
    };
    const unsigned deflate64_lengths[] = {65538, 3, 1003, 258, 73};
    const unsigned distances[] = {1, 32769, 49152, 49153, 65536};

    for (QlInflateFormat format : {kQlDeflate64, kQlDeflate}) {
        SCOPED_TRACE(format);
        BitWriter w;
        Expected expected;
        stored_block(w, false, history, 0, 65535);
        stored_block(w, false, history, 65535, 1);
        for (uint8_t b : history)
            expected.literal(b);
        const BlockCodes fixed = BlockCodes::fixed();
        fixed_header(w, true);
        for (size_t i = 0; i < 5; ++i) {
            Match m = deflate64[i];
            unsigned length = deflate64_lengths[i];
            if (format == kQlDeflate && m.length.symbol == 285) {
                // Plain Deflate: code 285 is 258 without extra bits; the
                // distance codes 30 and 31 are read all the same.
                m.length = {285, 0, 0};
                length = 258;
            }
            fixed.match(w, m.length, m.distance);
            expected.copy(length, distances[i]);
        }
        fixed.end(w);
        Inflater inflater;
        Bytes out;
        ASSERT_EQ(inflater.run(format, w.finish(), &out), 0);
        EXPECT_TRUE(out == expected.bytes);
    }
}

TEST(Inflate, Deflate64StreamsWrittenBy7z)
{
    for (const Deflate64Fixture& f : kDeflate64Fixtures) {
        SCOPED_TRACE(f.name);
        const Bytes stream(f.data, f.data + f.size);
        Inflater inflater;
        Bytes out;
        ASSERT_EQ(inflater.run(kQlDeflate64, stream, &out, 1000), 0);
        EXPECT_EQ(out.size(), f.plain_size);
        EXPECT_EQ(crc32(0, out.data(), static_cast<uInt>(out.size())), f.crc);
    }
}

TEST(Inflate, PortableAndProcessorFastLoopsDecodeAlike)
{
    // The fast loop has a copy for processors with BMI2; the portable one
    // serves the rest. Both on dynamic, fixed and run-heavy Deflate and on
    // 7z's Deflate64 streams.
    struct Stream {
        QlInflateFormat format;
        Bytes stream;
        size_t size;
        uint32_t crc;
    };
    std::vector<Stream> streams;
    const struct {
        const char* kind;
        int level;
        int strategy;
    } deflate[] = {{"text", 9, Z_DEFAULT_STRATEGY}, {"mix", 1, Z_DEFAULT_STRATEGY},
                   {"mix", 6, Z_FIXED}, {"runs", 6, Z_RLE}};
    for (const auto& d : deflate) {
        const Bytes plain = make_data(d.kind, 300000, 3);
        streams.push_back({kQlDeflate, zlib_deflate(plain, d.level, d.strategy), plain.size(),
                           static_cast<uint32_t>(crc32(0, plain.data(), static_cast<uInt>(plain.size())))});
    }
    for (const Deflate64Fixture& f : kDeflate64Fixtures)
        streams.push_back({kQlDeflate64, Bytes(f.data, f.data + f.size), f.plain_size, f.crc});

    for (uint32_t features : {0u, ~0u}) {
        SCOPED_TRACE(features);
        ql_cpu_limit_features(features);
        for (const Stream& st : streams) {
            Inflater inflater;
            Bytes out;
            ASSERT_EQ(inflater.run(st.format, st.stream, &out), 0);
            EXPECT_EQ(out.size(), st.size);
            EXPECT_EQ(crc32(0, out.data(), static_cast<uInt>(out.size())), st.crc);
        }
    }
    ql_cpu_limit_features(~0u);
}

TEST(Inflate, FixedCodesFollowTheFormatOfEachStream)
{
    // One fixed block read in turn as Deflate64, Deflate and Deflate64 by the
    // same state: code 285 with 16 zero bits is a length of 3 in Deflate64;
    // plain Deflate takes 258 and reads the zeros as the end of the block.
    BitWriter w;
    const BlockCodes fixed = BlockCodes::fixed();
    fixed_header(w, true);
    fixed.symbol(w, 'q');
    fixed.match(w, {285, 16, 0}, {0, 0, 0});
    fixed.end(w);
    const Bytes stream = w.finish();

    Inflater inflater;
    for (QlInflateFormat format : {kQlDeflate64, kQlDeflate, kQlDeflate64}) {
        SCOPED_TRACE(format);
        Bytes out;
        ASSERT_EQ(inflater.run(format, stream, &out), 0);
        EXPECT_TRUE(out == Bytes(format == kQlDeflate64 ? 4 : 259, 'q'));
    }
}

TEST(Inflate, MatchesOfEveryShortDistanceAndLength)
{
    // The copy takes whole words where it can: periods of 1 to 7 bytes,
    // 8 to 15 and 16 on each have their own way, at every length class.
    BitWriter w;
    Expected expected;
    const BlockCodes fixed = BlockCodes::fixed();
    fixed_header(w, true);
    std::mt19937 rng(9);
    for (int i = 0; i < 64; ++i) {
        const uint8_t b = static_cast<uint8_t>(rng());
        fixed.symbol(w, b);
        expected.literal(b);
    }
    for (unsigned distance = 1; distance <= 40; ++distance) {
        for (unsigned length : {3u, 4u, 7u, 8u, 9u, 15u, 16u, 17u, 24u, 31u, 32u, 33u, 100u, 257u, 258u}) {
            fixed.match(w, length, distance);
            expected.copy(length, distance);
            const uint8_t b = static_cast<uint8_t>(rng());
            fixed.symbol(w, b);
            expected.literal(b);
        }
    }
    fixed.end(w);
    Inflater inflater;
    Bytes out;
    ASSERT_EQ(inflater.run(kQlDeflate, w.finish(), &out), 0);
    EXPECT_TRUE(out == expected.bytes);
}

// Code lengths for a random subset of `count` symbols (at least `least`
// of them, always those in `keep`): a random complete code, or with
// `incomplete` one code short of it.
std::vector<uint8_t> random_code(std::mt19937& rng, unsigned count, unsigned least, std::vector<unsigned> keep,
                                 bool incomplete)
{
    std::vector<unsigned> symbols(count);
    for (unsigned s = 0; s < count; ++s)
        symbols[s] = s;
    std::shuffle(symbols.begin(), symbols.end(), rng);
    symbols.resize(least + rng() % (count - least + 1));
    for (unsigned k : keep)
        if (std::find(symbols.begin(), symbols.end(), k) == symbols.end())
            symbols.push_back(k);
    std::vector<uint8_t> leaves = random_complete_lengths(rng, static_cast<unsigned>(symbols.size()) + incomplete, 15);
    std::vector<uint8_t> lengths(count, 0);
    for (size_t i = 0; i < symbols.size(); ++i)
        lengths[symbols[i]] = leaves[i];
    return lengths;
}

TEST(Inflate, DynamicBlocksWithRandomCodes)
{
    // Codes of every shape up to 15 bits (zlib seldom writes deep ones), all
    // table sizes HLIT 258..288 and HDIST 1..32, and incomplete distance codes.
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 50; ++trial) {
        SCOPED_TRACE(trial);
        const QlInflateFormat format = trial % 2 ? kQlDeflate64 : kQlDeflate;
        const unsigned hlit = 258 + rng() % 31;
        const unsigned hdist = 1 + rng() % 32;
        const BlockCodes codes(random_code(rng, hlit, 2, {256, 257 + static_cast<unsigned>(rng() % std::min(hlit - 257, 29u))}, false),
                               random_code(rng, hdist, 1, {}, trial % 4 == 1 && hdist > 2));
        std::vector<unsigned> literals, lengths, distances;
        for (unsigned s = 0; s < hlit; ++s) {
            if (codes.literal_lengths[s] != 0 && s < 256)
                literals.push_back(s);
            if (codes.literal_lengths[s] != 0 && s > 256 && s < 286)
                lengths.push_back(s);
        }
        for (unsigned s = 0; s < hdist; ++s)
            if (codes.distance_lengths[s] != 0)
                distances.push_back(s);

        BitWriter w;
        Expected expected;
        dynamic_header(w, true, codes, trial % 5 != 0);
        for (int item = 0; item < 2000; ++item) {
            if (!literals.empty() && (rng() % 3 == 0 || expected.bytes.size() < 10)) {
                const unsigned s = literals[rng() % literals.size()];
                codes.symbol(w, s);
                expected.literal(static_cast<uint8_t>(s));
                continue;
            }
            const unsigned ds = distances[rng() % distances.size()];
            const unsigned dbits = distance_extra_bits(ds);
            if (expected.bytes.empty() || distance_base(ds) > expected.bytes.size())
                continue;
            const unsigned room = static_cast<unsigned>(expected.bytes.size()) - distance_base(ds);
            const Coded d = {ds, dbits, static_cast<unsigned>(rng() % std::min<unsigned>(1u << dbits, room + 1))};
            const unsigned ls = lengths[rng() % lengths.size()];
            Coded l = {ls, length_extra_bits(ls), static_cast<unsigned>(rng() % (1u << length_extra_bits(ls)))};
            unsigned length = length_base(ls) + l.extra;
            if (ls == 285 && format == kQlDeflate64) {
                l = {285, 16, static_cast<unsigned>(rng() % 3000)};
                length = 3 + l.extra;
            }
            codes.match(w, l, d);
            expected.copy(length, distance_base(ds) + d.extra);
        }
        codes.end(w);
        Inflater inflater;
        Bytes out;
        ASSERT_EQ(inflater.run(format, w.finish(), &out, 1 + rng() % 5000), 0);
        EXPECT_TRUE(out == expected.bytes);
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

namespace {

// A dynamic block header from explicit code lengths (one item per length).
void dynamic_block(BitWriter& w, const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist)
{
    dynamic_header(w, true, BlockCodes(lit, dist), false);
}

std::vector<uint8_t> lengths_of(unsigned count, std::initializer_list<std::pair<unsigned, uint8_t>> set)
{
    std::vector<uint8_t> lengths(count, 0);
    for (const auto& p : set)
        lengths[p.first] = p.second;
    return lengths;
}

struct StreamCase {
    const char* why;
    QlInflateFormat format;
    Bytes (*make)();
    int result;
};

const BlockCodes& fixed_codes()
{
    static const BlockCodes codes = BlockCodes::fixed();
    return codes;
}

Bytes fixed_stream(std::initializer_list<unsigned> literals, unsigned length, unsigned distance)
{
    BitWriter w;
    fixed_header(w, true);
    for (unsigned b : literals)
        fixed_codes().symbol(w, b);
    if (length != 0)
        fixed_codes().match(w, length, distance);
    for (int i = 0; i < 20; ++i)   // enough input behind the match for the fast loop
        fixed_codes().symbol(w, 'z');
    fixed_codes().end(w);
    return w.finish();
}

// Literals 'a' and 'b' and an end of block under the given codes, with the
// code-length items as given.
Bytes dynamic_stream(const std::vector<uint8_t>& code_length_code, unsigned hlit, unsigned hdist,
                     const std::vector<LengthItem>& items)
{
    BitWriter w;
    dynamic_header(w, true, hlit, hdist, code_length_code, items);
    w.put(0, 16);
    return w.finish();
}

const StreamCase kBadStreams[] = {
    {"block type 3", kQlDeflate,
     [] { BitWriter w; w.put(1, 1); w.put(3, 2); return w.finish(); }, kQlDecodeInvalid},
    {"fixed code 286", kQlDeflate,
     [] { BitWriter w; fixed_header(w, true); fixed_codes().symbol(w, 286); fixed_codes().end(w); return w.finish(); },
     kQlDecodeBadData},
    {"fixed code 287 in Deflate64", kQlDeflate64,
     [] { BitWriter w; fixed_header(w, true); fixed_codes().symbol(w, 287); fixed_codes().end(w); return w.finish(); },
     kQlDecodeBadData},
    {"a distance before the first byte", kQlDeflate, [] { return fixed_stream({}, 3, 1); }, kQlDecodeBadData},
    {"a distance one past the bytes written", kQlDeflate, [] { return fixed_stream({'a', 'b'}, 3, 3); },
     kQlDecodeBadData},
    {"a distance past the bytes written, at the end of the input", kQlDeflate,
     [] {
         BitWriter w;
         fixed_header(w, true);
         fixed_codes().symbol(w, 'a');
         fixed_codes().match(w, 3, 2);
         fixed_codes().end(w);
         return w.finish();
     },
     kQlDecodeBadData},
    {"distance code 31 past 40000 bytes", kQlDeflate64,
     [] {
         const Bytes history = make_data("text", 40000);
         BitWriter w;
         stored_block(w, false, history, 0, history.size());
         fixed_header(w, true);
         fixed_codes().match(w, 3, 49153);
         for (int i = 0; i < 20; ++i)
             fixed_codes().symbol(w, 'z');
         fixed_codes().end(w);
         return w.finish();
     },
     kQlDecodeBadData},
    {"stored length whose complement is wrong", kQlDeflate,
     [] { BitWriter w; w.put(1, 1); w.put(0, 2); w.align(); w.put(5, 16); w.put(0xFFFB, 16); w.put(0, 40); return w.finish(); },
     kQlDecodeBadData},
    {"over-subscribed literal/length code", kQlDeflate,
     [] { BitWriter w; dynamic_block(w, lengths_of(257, {{'a', 1}, {'b', 1}, {256, 1}}), lengths_of(1, {{0, 1}})); w.put(0, 16); return w.finish(); },
     kQlDecodeInvalid},
    {"incomplete literal/length code", kQlDeflate,
     [] { BitWriter w; dynamic_block(w, lengths_of(257, {{'a', 1}, {256, 2}}), lengths_of(1, {{0, 1}})); w.put(0, 16); return w.finish(); },
     kQlDecodeBadData},
    {"no literal/length code at all", kQlDeflate,
     [] { BitWriter w; dynamic_block(w, lengths_of(257, {}), lengths_of(1, {{0, 1}})); w.put(0, 16); return w.finish(); },
     kQlDecodeBadData},
    {"over-subscribed distance code", kQlDeflate,
     [] { BitWriter w; dynamic_block(w, lengths_of(258, {{'a', 1}, {256, 2}, {257, 2}}), lengths_of(3, {{0, 1}, {1, 1}, {2, 1}})); w.put(0, 16); return w.finish(); },
     kQlDecodeInvalid},
    {"length codes but no distance code", kQlDeflate,
     [] { BitWriter w; dynamic_block(w, lengths_of(258, {{'a', 1}, {256, 2}, {257, 2}}), lengths_of(1, {})); w.put(0, 16); return w.finish(); },
     kQlDecodeBadData},
    {"over-subscribed code-length code", kQlDeflate,
     [] { return dynamic_stream(lengths_of(19, {{0, 1}, {1, 1}, {2, 1}}), 257, 1, {}); }, kQlDecodeInvalid},
    {"incomplete code-length code", kQlDeflate,
     [] { return dynamic_stream(lengths_of(19, {{0, 1}, {1, 2}}), 257, 1, {}); }, kQlDecodeBadData},
    {"code-length code without codes", kQlDeflate,
     [] { return dynamic_stream(lengths_of(19, {}), 257, 1, {}); }, kQlDecodeBadData},
    {"a zero run past HLIT + HDIST", kQlDeflate,
     [] {
         // 'a' and end of block of one bit each, then 11 zeros for the one distance length.
         return dynamic_stream(flat_code_length_code(), 257, 1,
                               {{18, 97 - 11}, {1, 0}, {18, 127}, {18, 9}, {1, 0}, {18, 0}});
     },
     kQlDecodeBadData},
    {"a repeat with no length before it", kQlDeflate,
     [] { return dynamic_stream(flat_code_length_code(), 257, 1, {{16, 0}, {18, 127}}); }, kQlDecodeBadData},
    {"an unused code of an incomplete distance code", kQlDeflate,
     [] {
         BitWriter w;
         const BlockCodes codes(lengths_of(258, {{'a', 1}, {256, 2}, {257, 2}}), lengths_of(2, {{0, 1}, {1, 12}}));
         dynamic_header(w, true, codes, false);
         codes.symbol(w, 'a');
         codes.symbol(w, 257);
         w.put_code(0xFFF, 12);   // no code starts with 11
         return w.finish();
     },
     kQlDecodeBadData},
    {"an unused code below a sub-table prefix", kQlDeflate,
     [] {
         BitWriter w;
         const BlockCodes codes(lengths_of(258, {{'a', 1}, {256, 2}, {257, 2}}), lengths_of(2, {{0, 1}, {1, 12}}));
         dynamic_header(w, true, codes, false);
         codes.symbol(w, 'a');
         codes.symbol(w, 257);
         w.put_code(0x801, 12);   // the prefix of code 1, then other bits
         for (int i = 0; i < 20; ++i)
             codes.symbol(w, 'a');
         return w.finish();
     },
     kQlDecodeBadData},
};

}  // namespace

TEST(Inflate, RefusesBadStreams)
{
    for (const StreamCase& c : kBadStreams) {
        SCOPED_TRACE(c.why);
        Inflater inflater;
        Bytes out;
        EXPECT_EQ(inflater.run(c.format, c.make(), &out), c.result);
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(Inflate, AcceptsTheEdgesOfTheFormat)
{
    struct Case {
        const char* why;
        Bytes stream;
        Bytes output;
    };
    std::vector<Case> cases;
    {
        // A single distance code of one bit (an incomplete code).
        BitWriter w;
        const BlockCodes codes(lengths_of(258, {{'a', 1}, {256, 2}, {257, 2}}), lengths_of(6, {{5, 1}}));
        dynamic_header(w, true, codes, false);
        codes.symbol(w, 'a');
        for (int i = 0; i < 6; ++i)
            codes.symbol(w, 'a');
        codes.match(w, {257, 0, 0}, {5, 1, 0});   // length 3, distance 7
        codes.end(w);
        cases.push_back({"a single distance code", w.finish(), Bytes(10, 'a')});
    }
    {
        BitWriter w;
        const BlockCodes codes(lengths_of(257, {{'x', 1}, {256, 1}}), lengths_of(1, {}));
        dynamic_header(w, true, codes, false);
        codes.symbol(w, 'x');
        codes.end(w);
        cases.push_back({"literals only, no distance code", w.finish(), Bytes(1, 'x')});
    }
    {
        BitWriter w;
        const BlockCodes codes(lengths_of(257, {{256, 1}}), lengths_of(1, {}));
        dynamic_header(w, true, codes, false);
        codes.end(w);
        cases.push_back({"a lone end-of-block code of one bit", w.finish(), Bytes()});
    }
    {
        // 17 and 18 leave zero as the length that 16 repeats.
        BitWriter w;
        const std::vector<uint8_t> lit = lengths_of(258, {{'c', 1}, {256, 2}, {257, 2}});
        std::vector<LengthItem> items = {{17, 0}, {16, 0}, {18, 'c' - 6 - 11}};
        for (unsigned s = 'c'; s < 258; ++s)
            items.push_back({lit[s], 0});
        items.push_back({1, 0});
        dynamic_header(w, true, 258, 1, flat_code_length_code(), items);
        const BlockCodes codes(lit, lengths_of(1, {{0, 1}}));
        codes.symbol(w, 'c');
        codes.match(w, {257, 0, 0}, {0, 0, 0});
        codes.end(w);
        cases.push_back({"a repeat after a zero run", w.finish(), Bytes(4, 'c')});
    }
    cases.push_back({"a distance back to the first byte", fixed_stream({'a', 'b', 'c'}, 5, 3),
                     Bytes{'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b'}});
    cases.back().output.insert(cases.back().output.end(), 20, 'z');

    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Inflater inflater;
        Bytes out;
        EXPECT_EQ(inflater.run(kQlDeflate, c.stream, &out), 0);
        EXPECT_TRUE(out == c.output);
    }
}

TEST(Inflate, CutInputEndsWithItsOwnResultAtEveryPoint)
{
    // Dynamic, stored, fixed and dynamic blocks in one stream.
    Bytes data = make_data("text", 3000, 11);
    for (const Bytes& part : {make_data("random", 2000, 12), make_data("text", 4000, 13)})
        data.insert(data.end(), part.begin(), part.end());
    z_stream zs = {};
    ASSERT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes stream(20000);
    zs.next_out = stream.data();
    zs.avail_out = static_cast<uInt>(stream.size());
    const int levels[3] = {0, 6, 6};
    const int strategies[3] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_DEFAULT_STRATEGY};
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = 3000;
    ASSERT_EQ(deflate(&zs, Z_NO_FLUSH), Z_OK);
    for (int part = 0; part < 3; ++part) {
        ASSERT_EQ(deflateParams(&zs, levels[part], strategies[part]), Z_OK);
        zs.avail_in = part < 2 ? 2000 : static_cast<uInt>(data.data() + data.size() - zs.next_in);
        ASSERT_EQ(deflate(&zs, part < 2 ? Z_NO_FLUSH : Z_FINISH), part < 2 ? Z_OK : Z_STREAM_END);
    }
    stream.resize(zs.total_out);
    deflateEnd(&zs);
    ASSERT_GT(stream.size(), 3000u);

    Inflater inflater(kQlInflateMinWindow, kQlInflateMinInput);
    size_t before[2] = {0, 0};
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        for (bool fails : {false, true}) {
            SCOPED_TRACE(testing::Message() << "cut " << cut << (fails ? ", read failure" : ""));
            ChunkSource source(stream, cut, cut % 3 == 0 ? 1 : SIZE_MAX, fails);
            RecordingSink sink;
            const int result = inflater.run(kQlDeflate, &source, &sink);
            if (cut == stream.size()) {
                EXPECT_EQ(result, 0);
            } else {
                EXPECT_EQ(result, fails ? kQlDecodeInvalid : kQlDecodeInputEnded);
            }
            // Everything decoded from the bytes before the cut arrives, and
            // nothing else.
            ASSERT_LE(sink.bytes.size(), data.size());
            ASSERT_TRUE(std::equal(sink.bytes.begin(), sink.bytes.end(), data.begin()));
            ASSERT_GE(sink.bytes.size(), before[fails]);
            before[fails] = sink.bytes.size();
        }
    }
    EXPECT_TRUE(qlTakeHookReports().empty());
}

TEST(Inflate, SinkRefusalEndsTheStream)
{
    const Bytes data = make_data("text", 200000);
    const Bytes stream = zlib_deflate(data, 6, Z_DEFAULT_STRATEGY);
    Inflater inflater(kQlInflateMinWindow);
    for (size_t refuse_at : {1, 3, 7}) {
        SCOPED_TRACE(refuse_at);
        ChunkSource source(stream, stream.size(), SIZE_MAX);
        RecordingSink sink;
        sink.refuse_at = refuse_at;
        sink.refusal = kQlDecodeAborted;
        EXPECT_EQ(inflater.run(kQlDeflate, &source, &sink), kQlDecodeAborted);
        EXPECT_EQ(sink.sizes.size(), refuse_at);
    }
}

TEST(Inflate, MemoryEntryPointStaysInsideItsBuffer)
{
    const Bytes text = make_data("text", 4000);
    const Bytes stream = zlib_deflate(text, 9, Z_DEFAULT_STRATEGY);
    BitWriter w;   // 65538 bytes from a few bits
    fixed_header(w, true);
    fixed_codes().symbol(w, 'q');
    fixed_codes().match(w, {285, 16, 0xFFFF}, {0, 0, 0});
    fixed_codes().end(w);
    const Bytes bomb = w.finish();

    struct Case {
        const char* why;
        QlInflateFormat format;
        const Bytes* stream;
        size_t stream_size;
        uint32_t room;
        int result;
    } const cases[] = {
        {"an exact fit", kQlDeflate, &stream, stream.size(), 4000, 0},
        {"one byte too many", kQlDeflate, &stream, stream.size(), 3999, kQlDecodeBadData},
        {"a cut stream", kQlDeflate, &stream, stream.size() - 1, 4000, kQlDecodeInputEnded},
        {"a long match from a few bits", kQlDeflate64, &bomb, bomb.size(), 4608, kQlDecodeBadData},
    };
    Inflater inflater;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes out(c.room + 64, 0xA5);
        uint32_t count = 12345;
        EXPECT_EQ(inflate_to_memory(inflater.state.get(), c.format, c.stream->data(),
                                    static_cast<uint32_t>(c.stream_size), out.data(), c.room, &count),
                  c.result);
        EXPECT_LE(count, c.room);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + count, text.begin()) || c.stream == &bomb);
        EXPECT_TRUE(std::all_of(out.begin() + c.room, out.end(), [](uint8_t b) { return b == 0xA5; }));
        if (c.result == 0) {
            EXPECT_EQ(count, text.size());
        }
    }
}

TEST(Inflate, StateWithoutUsableBuffersRefusesToRun)
{
    Bytes window(kQlInflateMinWindow - 1), input(kQlInflateMinInput);
    std::unique_ptr<QlInflateState> state(new QlInflateState);
    inflate_setup(state.get(), window.data(), static_cast<uint32_t>(window.size()), input.data(),
                  static_cast<uint32_t>(input.size()));
    uint8_t out[16];
    uint32_t count = 0;
    const uint8_t stream[] = {0x03, 0x00};
    EXPECT_EQ(inflate_to_memory(state.get(), kQlDeflate, stream, sizeof stream, out, sizeof out, &count),
              kQlDecodeInvalid);
    const std::vector<QlHookReport> reports = qlTakeHookReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].line, kInflateBadSetup);
    EXPECT_EQ(reports[1].line, kInflateNotSetUp);
}
