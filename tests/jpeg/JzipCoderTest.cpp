// The JPEG method's coder tables, its arithmetic coder and its coefficient
// model: the tables' properties exhaustively, random streams through the
// encoder and back, and the model's lists against the rules they follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "stub/engine/jzipcoder.h"
#include "stub/engine/jzipmodel.h"
#include "tools/jpeg/jzipencoder.h"

namespace {

// width(J) in units of 2^-16 of the first byte's: exact for J < 23 * 1024.
uint64_t scaled_width(int32_t j)
{
    return static_cast<uint64_t>(kJzipTables.width[j & 1023]) << (23 - (j >> 10));
}

TEST(JzipTables, WidthsFallThroughTheirFixedRows)
{
    const int rows[][2] = {{0, 8192},    {128, 7514}, {256, 6891}, {384, 6320}, {512, 5796},
                           {640, 5315},  {768, 4874}, {896, 4470}, {1023, 4100}};
    for (const auto& r : rows)
        EXPECT_EQ(r[1], kJzipTables.width[r[0]]) << r[0];
    for (int j = 1; j < 1024; ++j)
        EXPECT_LT(kJzipTables.width[j], kJzipTables.width[j - 1]) << j;
    // Above half of the octave's start, so that the next octave lies below.
    EXPECT_GT(kJzipTables.width[1023], 4096);

    const int ranks[][2] = {{0, 0},     {512, 173},  {1024, 328}, {1536, 469}, {2048, 598},
                            {2560, 716}, {3072, 826}, {3584, 928}, {4095, 1023}};
    for (const auto& r : ranks)
        EXPECT_EQ(r[1], kJzipTables.rank[r[0]]) << r[0];
}

TEST(JzipTables, ThresholdIsTheExactInverseOfTheWidths)
{
    // For every code value the decoder can hold, the threshold is the first
    // position whose width is not above it: J < H exactly when V < width(J).
    int failures = 0;
    for (uint32_t v = 0; v < (1u << 20) && failures < 5; ++v) {
        const int32_t h = jzip_threshold(v);
        ASSERT_GE(h, 0);
        ASSERT_LE(h, kJzipByte);
        if (h > 0 && !(jzip_width(h - 1) > v))
            ++failures, ADD_FAILURE() << "value " << v << " threshold " << h;
        if (h < kJzipByte && !(jzip_width(h) <= v))
            ++failures, ADD_FAILURE() << "value " << v << " threshold " << h;
    }
}

TEST(JzipTables, EveryStateSplitsItsIntervalWithoutOverlap)
{
    // The two parts of a decision fit in the interval it splits, at every
    // position: the decoder's subtraction never wraps and its choices stay
    // those of the encoder.
    for (int s = 0; s < kJzipStates; ++s) {
        const JzipState& st = kJzipStateTable[s];
        for (int32_t j = 0; j < kJzipByte; ++j) {
            const uint64_t parts = scaled_width(j + st.step) + scaled_width(j + st.step + st.lps_step);
            ASSERT_LE(parts, scaled_width(j)) << "state " << s << " position " << j;
        }
    }
}

struct Decision {
    int context;
    int bit;
};

// Segments of random decisions, each context with its own bias.
std::vector<std::vector<Decision>> random_segments(uint32_t seed, int segments, int length)
{
    std::mt19937 random(seed);
    std::vector<double> bias(kJzipContexts);
    for (double& b : bias)
        b = std::uniform_real_distribution<double>(0, 1)(random);
    const int spread = 1 + static_cast<int>(random() % 40);
    const int first = static_cast<int>(random() % (kJzipContexts - spread));
    std::vector<std::vector<Decision>> out(segments);
    for (auto& segment : out) {
        for (int i = 0; i < length; ++i) {
            int k = first + static_cast<int>(random() % spread);
            if (random() % 9 == 0)
                k = 0;  // the fixed context
            const double p = k == 0 ? 0.5 : std::pow(bias[k], 6.0);
            segment.push_back({k, std::uniform_real_distribution<double>(0, 1)(random) < p});
        }
    }
    return out;
}

struct ByteReader {
    const std::vector<uint8_t>* data;
    size_t at;
    static int read(void* self)
    {
        ByteReader* r = static_cast<ByteReader*>(self);
        if (r->at >= r->data->size())
            throw 1;
        return (*r->data)[r->at++];
    }
};

TEST(JzipCoder, RandomDecisionStreamsDecodeBack)
{
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        const int length = seed % 3 == 0 ? 20000 : static_cast<int>(1 + seed * 37 % 3000);
        const auto segments = random_segments(seed, 1 + seed % 4, length);
        std::vector<JzipContext> write_contexts(kJzipContexts);
        std::vector<uint8_t> stream;
        JzipEncoder encoder(write_contexts.data());
        encoder.set_output(&stream);
        for (const auto& segment : segments) {
            encoder.start_segment();
            for (const Decision& d : segment)
                ASSERT_EQ(d.bit, encoder.code(d.context, d.bit));
            encoder.end_segment();
        }

        std::vector<JzipContext> read_contexts(kJzipContexts);
        ByteReader reader{&stream, 0};
        JzipDecoder decoder(read_contexts.data());
        decoder.set_input(&ByteReader::read, &reader);
        for (size_t s = 0; s < segments.size(); ++s) {
            decoder.start_segment();
            for (size_t i = 0; i < segments[s].size(); ++i)
                ASSERT_EQ(segments[s][i].bit, decoder.code(segments[s][i].context, 0))
                    << "seed " << seed << " segment " << s << " decision " << i;
            decoder.end_segment();
        }
        // Each segment ends where the next begins.
        EXPECT_EQ(stream.size(), reader.at) << "seed " << seed;
    }
}

TEST(JzipCoder, LongRunsAndCarriesThroughFFBytes)
{
    // All-LPS and all-MPS runs drive the states to both ends and the base
    // through long runs of 0xFF that carries must cross.
    const int patterns[][2] = {{1, 0}, {0, 1}, {1, 1}};
    for (const auto& pattern : patterns) {
        std::vector<JzipContext> write_contexts(kJzipContexts);
        std::vector<uint8_t> stream;
        JzipEncoder encoder(write_contexts.data());
        encoder.set_output(&stream);
        std::vector<int> bits;
        encoder.start_segment();
        for (int i = 0; i < 200000; ++i) {
            const int bit = i % 1000 < 990 ? pattern[0] : pattern[1];
            bits.push_back(bit);
            encoder.code(5, bit);
        }
        encoder.end_segment();
        std::vector<JzipContext> read_contexts(kJzipContexts);
        ByteReader reader{&stream, 0};
        JzipDecoder decoder(read_contexts.data());
        decoder.set_input(&ByteReader::read, &reader);
        decoder.start_segment();
        for (size_t i = 0; i < bits.size(); ++i)
            ASSERT_EQ(bits[i], decoder.code(5, 0)) << i;
        decoder.end_segment();
        EXPECT_EQ(stream.size(), reader.at);
    }
}

// --- the model

int natural_row(int p) { return kJzipNatural[p] >> 3; }
int natural_column(int p) { return kJzipNatural[p] & 7; }

TEST(JzipModelLists, ZigzagWalksTheAntiDiagonals)
{
    std::vector<bool> seen(64);
    for (int p = 0; p < 64; ++p) {
        seen[kJzipNatural[p]] = true;
        if (p > 0) {
            const int d0 = natural_row(p - 1) + natural_column(p - 1);
            const int d1 = natural_row(p) + natural_column(p);
            EXPECT_TRUE(d1 == d0 || d1 == d0 + 1) << p;
        }
    }
    EXPECT_EQ(64, std::count(seen.begin(), seen.end(), true));
}

// The positions strictly below and right of p (same row or column included).
std::vector<int> quadrant(int p)
{
    std::vector<int> q;
    for (int i = 1; i < 64; ++i) {
        if (i != p && natural_row(i) >= natural_row(p) && natural_column(i) >= natural_column(p))
            q.push_back(i);
    }
    return q;
}

TEST(JzipModelLists, UpdateListsKeepTheSumOverTheQuadrantBelowAndRight)
{
    // Walking p from 63 down, the running sum after p's list is the sum over
    // p's quadrant: the list adds what p's quadrant has and p + 1's lacks,
    // and takes away the reverse.
    for (int p = 0; p < 64; ++p) {
        std::vector<int> expected_add;
        std::vector<int> expected_sub;
        const std::vector<int> now = quadrant(p);
        const std::vector<int> before = p == 63 ? std::vector<int>() : quadrant(p + 1);
        for (int q : now)
            if (std::find(before.begin(), before.end(), q) == before.end())
                expected_add.push_back(q);
        for (int q : before)
            if (std::find(now.begin(), now.end(), q) == now.end())
                expected_sub.push_back(q);
        if (p == 0) {
            // The block's activity: every AC position.
            expected_add.clear();
            for (int q = 1; q < 64; ++q)
                if (std::find(before.begin(), before.end(), q) == before.end())
                    expected_add.push_back(q);
            expected_sub.clear();
        }
        std::vector<int> add;
        std::vector<int> sub;
        for (int i = kJzipUpdateStart[p]; i < kJzipUpdateStart[p + 1]; ++i)
            (kJzipUpdate[i] > 0 ? add : sub).push_back(std::abs(kJzipUpdate[i]));
        std::sort(add.begin(), add.end());
        std::sort(sub.begin(), sub.end());
        std::sort(expected_add.begin(), expected_add.end());
        std::sort(expected_sub.begin(), expected_sub.end());
        EXPECT_EQ(expected_add, add) << "position " << p;
        EXPECT_EQ(expected_sub, sub) << "position " << p;
        // Only positions coded before p (above it in zigzag order).
        for (int q : add)
            EXPECT_GT(q, p);
        for (int q : sub)
            EXPECT_GT(q, p);
    }
}

TEST(JzipModelLists, PredictionListsAreTheInBlockNeighbours)
{
    for (int p = 1; p < 64; ++p) {
        const int r = natural_row(p);
        const int c = natural_column(p);
        std::vector<int> expected;
        if (r > 0)
            expected.push_back(jzip_zigzag(r - 1, c));
        if (c > 0)
            expected.push_back(jzip_zigzag(r, c - 1));
        if (r > 0 && c > 0)
            expected.push_back(jzip_zigzag(r - 1, c - 1));
        expected.erase(std::remove(expected.begin(), expected.end(), 0), expected.end());
        std::vector<int> list;
        for (int i = 0; i < 4 && kJzipPrediction[p][i] >= 0; ++i)
            list.push_back(kJzipPrediction[p][i]);
        std::sort(expected.begin(), expected.end());
        std::sort(list.begin(), list.end());
        EXPECT_EQ(expected, list) << "position " << p;
    }
}


// Random blocks: sparse, mostly small, with some extremes.
void random_block(std::mt19937& random, int16_t block[64])
{
    std::fill(block, block + 64, 0);
    const int last = static_cast<int>(random() % 64);
    for (int p = 1; p <= last; ++p) {
        if (random() % 3 != 0)
            continue;
        int v = static_cast<int>(random() % 5) - 2;
        if (random() % 50 == 0)
            v = static_cast<int>(random() % 32767) - 16383;
        block[p] = static_cast<int16_t>(v);
    }
    block[0] = static_cast<int16_t>(static_cast<int>(random() % 4000) - 2000);
    if (random() % 40 == 0)
        block[0] = static_cast<int16_t>(random() % 2 ? 16000 : -16000);
}

TEST(JzipModel, RandomBlocksDecodeBackThroughBandsAndRows)
{
    const struct {
        uint32_t across;
        uint32_t rows;
        uint32_t segments;
        bool wide_quant;
    } cases[] = {{1, 1, 1, false}, {1, 30, 3, false}, {7, 5, 2, true}, {40, 9, 4, false}};
    std::mt19937 random(99);
    for (const auto& c : cases) {
        uint16_t quant[64];
        for (int i = 0; i < 64; ++i)
            quant[i] = static_cast<uint16_t>(c.wide_quant ? 1 + random() % 65535 : 1 + random() % 40);
        const uint32_t blocks = c.across * c.rows * c.segments;
        std::vector<int16_t> data(64 * static_cast<size_t>(blocks));
        for (uint32_t b = 0; b < blocks; ++b)
            random_block(random, &data[64 * b]);

        std::vector<uint8_t> stream;
        {
            std::vector<JzipContext> contexts(kJzipContexts);
            std::vector<JzipRecord> rows(2 * c.across);
            JzipEncoder encoder(contexts.data());
            encoder.set_output(&stream);
            JzipModel<JzipEncoder> model(encoder, rows.data(), c.across, quant);
            uint32_t b = 0;
            for (uint32_t s = 0; s < c.segments; ++s) {
                model.start_segment();
                for (uint32_t i = 0; i < c.across * c.rows; ++i, ++b) {
                    const int result = model.code_block(&data[64 * b]);
                    if (result != kJzipBlockOk) {
                        // The residual to the prediction passed 15 bits: the
                        // encoder refuses the block; keep it in range.
                        data[64 * b] = 0;
                        FAIL() << "block " << b << " refused";
                    }
                }
                model.end_segment();
            }
        }
        std::vector<JzipContext> contexts(kJzipContexts);
        std::vector<JzipRecord> rows(2 * c.across);
        ByteReader reader{&stream, 0};
        JzipDecoder decoder(contexts.data());
        decoder.set_input(&ByteReader::read, &reader);
        JzipModel<JzipDecoder> model(decoder, rows.data(), c.across, quant);
        uint32_t b = 0;
        for (uint32_t s = 0; s < c.segments; ++s) {
            model.start_segment();
            for (uint32_t i = 0; i < c.across * c.rows; ++i, ++b) {
                int16_t out[64];
                ASSERT_EQ(kJzipBlockOk, model.code_block(out));
                ASSERT_TRUE(std::equal(out, out + 64, &data[64 * b])) << "block " << b;
            }
            model.end_segment();
        }
        EXPECT_EQ(stream.size(), reader.at);
    }
}

// An encoder that codes every DC mantissa bit as 1 while `force` is set.
class ForcingEncoder : public JzipEncoder {
public:
    explicit ForcingEncoder(JzipContext* contexts) : JzipEncoder(contexts) {}
    int code(int k, int bit)
    {
        if (force && k >= 131 && k <= 312)
            bit = 1;
        return JzipEncoder::code(k, bit);
    }
    bool force = false;
};

// Two blocks side by side with DCs only; the second's DC mantissa bits
// forced to 1 when `force`. The second block's result.
int write_two_dcs(int16_t first, int16_t second, bool force, const uint16_t* quant,
                  std::vector<uint8_t>* stream)
{
    int16_t blocks[2][64] = {};
    blocks[0][0] = first;
    blocks[1][0] = second;
    std::vector<JzipContext> contexts(kJzipContexts);
    std::vector<JzipRecord> rows(4);
    ForcingEncoder encoder(contexts.data());
    encoder.set_output(stream);
    JzipModel<ForcingEncoder> writer(encoder, rows.data(), 2, quant);
    writer.start_segment();
    EXPECT_EQ(kJzipBlockOk, writer.code_block(blocks[0]));
    encoder.force = force;
    const int result = writer.code_block(blocks[1]);
    writer.end_segment();
    return result;
}

TEST(JzipModel, DcBeyondSixteenBitsIsBadData)
{
    // The second block's left neighbour predicts 16383; a residual whose
    // mantissa is all ones then lands at 49150.
    uint16_t quant[64];
    std::fill(quant, quant + 64, 1);
    std::vector<uint8_t> stream;
    // Residual 16384: fifteen bits, mantissa 0. The writer runs the same
    // model and so reaches the same DC.
    ASSERT_EQ(kJzipBlockBadData, write_two_dcs(16383, 32767, true, quant, &stream));

    std::vector<JzipContext> contexts(kJzipContexts);
    std::vector<JzipRecord> rows(4);
    ByteReader reader{&stream, 0};
    JzipDecoder decoder(contexts.data());
    decoder.set_input(&ByteReader::read, &reader);
    JzipModel<JzipDecoder> model(decoder, rows.data(), 2, quant);
    model.start_segment();
    int16_t out[64];
    ASSERT_EQ(kJzipBlockOk, model.code_block(out));
    EXPECT_EQ(16383, out[0]);
    EXPECT_EQ(kJzipBlockBadData, model.code_block(out));
}

TEST(JzipModel, EncoderRefusesResidualsBeyondFifteenBits)
{
    uint16_t quant[64];
    std::fill(quant, quant + 64, 1);
    std::vector<uint8_t> stream;
    // 49151 above the left prediction.
    EXPECT_EQ(kJzipBlockBadData, write_two_dcs(-16384, 32767, false, quant, &stream));
}

}  // namespace
