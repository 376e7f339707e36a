// The JPEG method's coefficient model of one scan component: it codes each
// 8x8 block's quantised coefficients (zigzag order) with contexts predicted
// from the block's own coded coefficients and from the blocks to its left
// and above. The same code decodes (Coder = JzipDecoder) and, in the test
// encoder, encodes: every decision goes through Coder::code(context, bit),
// and the model only ever reads what both sides already hold.
//
// Pure code: no Windows headers.
#pragma once

#include <cstdint>
#include <cstring>

#include "stub/engine/jziptables.h"

// A block as its neighbours see it.
struct JzipRecord {
    int32_t activity;
    int16_t c[64];
};

enum JzipBlockResult {
    kJzipBlockOk = 0,
    kJzipBlockBadData = 1,  // a DC beyond 16 bits (decoding), a value the code cannot hold (encoding)
};

// Context bases.
enum {
    kJzipDcUnary = 1,
    kJzipDcSign = 313,
    kJzipAcCount = 321,
    kJzipAcNonZero = 1140,
    kJzipAcAboveOne = 2256,
    kJzipAcFirstRow = 4461,
    kJzipAcFirstColumn = 5281,
    kJzipAcOther = 6101,
    kJzipAcSign = 6921,
};

// The sign class of a natural position (0-26), or -1 for none.
inline int jzip_sign_class(int row, int column)
{
    if (row == 0 && column > 0)
        return column - 1;
    if (column == 0 && row > 0)
        return 7 + row - 1;
    if (row == 1)
        return 14 + column - 1;
    if (column == 1)
        return 21 + row - 2;
    return -1;
}

// The zigzag position of a natural one.
inline int jzip_zigzag(int row, int column)
{
    const int natural = row * 8 + column;
    for (int p = 0; p < 64; ++p) {
        if (kJzipNatural[p] == natural)
            return p;
    }
    return 0;
}

inline int jzip_sign(int64_t v)
{
    return (v > 0) - (v < 0);
}

inline int64_t jzip_abs(int64_t v)
{
    return v < 0 ? -v : v;
}

// (n + d / 2) / d rounded half away from zero, for d > 0.
inline int64_t jzip_round_div(int64_t n, int64_t d)
{
    return n < 0 ? -((-n + d / 2) / d) : (n + d / 2) / d;
}

inline int64_t jzip_clamp_dc(int64_t v)
{
    return v < -16384 ? -16384 : (v > 16383 ? 16383 : v);
}

// The DC prediction from one neighbour: its DC corrected by the first AC
// coefficient (at `p`) of the two blocks. 64-bit: quantisers may be 16-bit.
inline int64_t jzip_dc_from(const JzipRecord& neighbour, const int16_t* current, int p,
                            const uint16_t* quant)
{
    const int64_t slope = 11038 * static_cast<int64_t>(quant[p]) *
                          (static_cast<int64_t>(neighbour.c[p]) + current[p]) / quant[0];
    return jzip_clamp_dc(jzip_round_div(10000 * static_cast<int64_t>(neighbour.c[0]) - slope, 10000));
}

template <class Coder>
class JzipModel {
public:
    // `rows` holds 2 * blocks_per_row records, `quant` 64 values (zigzag,
    // none 0).
    JzipModel(Coder& coder, JzipRecord* rows, uint32_t blocks_per_row, const uint16_t* quant)
        : coder_(coder), blocks_per_row_(blocks_per_row), quant_(quant)
    {
        rows_[0] = rows;
        rows_[1] = rows + blocks_per_row;
        std::memset(&zero_, 0, sizeof zero_);
    }

    void start_segment() { coder_.start_segment(); }
    void end_segment() { coder_.end_segment(); }

    // The next block in row order: decodes into `block`, or encodes it.
    int code_block(int16_t block[64])
    {
        if (column_ == blocks_per_row_) {
            JzipRecord* t = rows_[0];
            rows_[0] = rows_[1];
            rows_[1] = t;
            column_ = 0;
            have_above_ = true;
        }
        JzipRecord& cur = rows_[0][column_];
        const bool has_left = column_ > 0;
        const JzipRecord& left = has_left ? rows_[0][column_ - 1] : zero_;
        const JzipRecord& above = have_above_ ? rows_[1][column_] : zero_;
        ++column_;
        const int result = code_coefficients(block, cur, left, above, has_left, have_above_);
        if (Coder::kDecoding)
            std::memcpy(block, cur.c, sizeof cur.c);
        return result;
    }

private:
    // A value by its bits, most significant first, each in a tree node's context.
    int tree_value(int bits, int base, int selector, int want)
    {
        int node = 0;
        int value = 0;
        for (int i = bits - 1; i >= 0; --i) {
            const int bit = coder_.code(base + selector * ((1 << bits) - 1) + node, (want >> i) & 1);
            node = 2 * node + bit + 1;
            value = 2 * value + bit;
        }
        return value;
    }

    // A magnitude: its bit length in unary (at most `limit`), then the bits
    // below the leading one.
    int magnitude(int limit, int stride, int base, int selector, int mantissa_base, int mantissa,
                  int want)
    {
        const int want_length = jzip_bit_length(static_cast<uint32_t>(want));
        int i = 0;
        for (;;) {
            const int bit = coder_.code(base + stride * selector + (i < stride - 1 ? i : stride - 1),
                                        i < want_length);
            if (bit == 0 || i == limit)
                break;
            ++i;
        }
        if (i == 0)
            return 0;
        int value = 1;
        for (int j = i - 2; j >= 0; --j) {
            const int ctx = base + stride * mantissa_base + mantissa * (limit - 1) + j;
            value = 2 * value + coder_.code(ctx, (want >> j) & 1);
        }
        return value;
    }

    int update_sum(int p, const int16_t* c) const
    {
        int sum = 0;
        for (int i = kJzipUpdateStart[p]; i < kJzipUpdateStart[p + 1]; ++i) {
            const int q = kJzipUpdate[i];
            sum += q > 0 ? (c[q] < 0 ? -c[q] : c[q]) : -(c[-q] < 0 ? -c[-q] : c[-q]);
        }
        return sum;
    }

    int code_coefficients(const int16_t* want, JzipRecord& cur, const JzipRecord& left,
                          const JzipRecord& above, bool has_left, bool has_above)
    {
        int16_t* c = cur.c;
        std::memset(c, 0, sizeof cur.c);
        const bool encoding = !Coder::kDecoding;

        uint32_t predicted = 0;
        if (has_left && has_above)
            predicted = (static_cast<uint32_t>(above.activity) + static_cast<uint32_t>(left.activity) + 1) / 2;
        else if (has_left)
            predicted = static_cast<uint32_t>(left.activity);
        else if (has_above)
            predicted = static_cast<uint32_t>(above.activity);
        int activity_class = jzip_bit_length(predicted);
        if (activity_class > 12)
            activity_class = 12;

        int want_count = 0;
        if (encoding) {
            for (int p = 63; p > 0 && want_count == 0; --p) {
                if (want[p] != 0)
                    want_count = p;
            }
        }
        const int count = tree_value(6, kJzipAcCount, activity_class, want_count);

        int32_t sum = 0;
        for (int p = count; p >= 1; --p) {
            sum += update_sum(p, c);
            const int g = jzip_bit_length(static_cast<uint32_t>(sum));
            const int natural = kJzipNatural[p];
            const int row = natural >> 3;
            const int column = natural & 7;

            int64_t prediction = 0;  // the first row's and column's signed prediction
            int64_t level;
            if (row == 0 || column == 0) {
                const JzipRecord& n = row == 0 ? above : left;
                const int q = row == 0 ? jzip_zigzag(1, column) : jzip_zigzag(row, 1);
                prediction = n.c[p] - static_cast<int64_t>(quant_[q]) *
                                          (static_cast<int64_t>(n.c[q]) + c[q]) / quant_[p];
                level = jzip_abs(prediction);
            } else {
                int64_t total = jzip_abs(left.c[p]) + jzip_abs(above.c[p]);
                int f = 1;
                for (int i = 0; i < 4 && kJzipPrediction[p][i] >= 0; ++i) {
                    const int q = kJzipPrediction[p][i];
                    total += (jzip_abs(left.c[q]) + jzip_abs(above.c[q])) * quant_[q] / quant_[p];
                    ++f;
                }
                level = (total + f) / (2 * f);
            }
            const int l = jzip_bit_length(static_cast<uint64_t>(level));

            const int value = encoding ? want[p] : 0;
            const int want_magnitude = value < 0 ? -value : value;
            const bool nonzero =
                p == count ||
                coder_.code(kJzipAcNonZero + (g < 5 ? g : 5) + 6 * (3 * p + (l < 2 ? l : 2) - 3),
                            value != 0);
            if (!nonzero)
                continue;
            int m = 1 + coder_.code(kJzipAcAboveOne + 7 * (5 * p + (l < 4 ? l : 4) - 5) + (g < 6 ? g : 6),
                                    want_magnitude > 1);
            if (m == 2) {
                int base;
                int t;
                if (row == 0) {
                    base = kJzipAcFirstRow;
                    t = column - 1;
                } else if (column == 0) {
                    base = kJzipAcFirstColumn;
                    t = row - 1;
                } else {
                    base = kJzipAcOther;
                    t = jzip_bit_length(static_cast<uint32_t>(p - 4));
                }
                if (encoding && want_magnitude - 2 >= (1 << 14))
                    return kJzipBlockBadData;
                m = 2 + magnitude(14, 9, base, (g < 8 ? g : 8) + 9 * (l < 8 ? l : 8), 81, t,
                                  want_magnitude - 2);
            }

            int sign_class = jzip_sign_class(row, column);
            int predicted_sign = 0;
            if (sign_class >= 0) {
                if (row == 1 && column == 1)
                    predicted_sign = jzip_sign(left.c[p]) + jzip_sign(above.c[p]);
                else if (row == 0 || column == 0)
                    predicted_sign = jzip_sign(prediction);
                else if (column == 1)
                    predicted_sign = jzip_sign(left.c[p]);
                else
                    predicted_sign = jzip_sign(above.c[p]);
                if (predicted_sign == 0)
                    sign_class = -1;
            }
            int ctx = 0;
            if (sign_class >= 0) {
                const int r = 2 * sign_class + (predicted_sign < 0 ? 1 : 0);
                const int half = jzip_bit_length(static_cast<uint32_t>(m)) / 2;
                ctx = kJzipAcSign + (half < 2 ? half : 2) + 3 * r;
            }
            const int negative = coder_.code(ctx, value < 0);
            c[p] = static_cast<int16_t>(negative ? -m : m);
        }
        const int32_t activity = count == 0 ? 0 : sum + update_sum(0, c);
        cur.activity = activity;

        int dc_class = jzip_bit_length(static_cast<uint32_t>(activity));
        if (dc_class > 12)
            dc_class = 12;
        int64_t p_dc = 0;
        if (has_left && has_above) {
            static const uint8_t kRow[7] = {1, 5, 6, 14, 15, 27, 28};
            static const uint8_t kColumn[7] = {2, 3, 9, 10, 20, 21, 35};
            int64_t jl = 0;
            int64_t ju = 0;
            for (int i = 0; i < 7; ++i) {
                jl += jzip_abs(static_cast<int64_t>(left.c[kRow[i]]) - c[kRow[i]]);
                ju += jzip_abs(static_cast<int64_t>(above.c[kColumn[i]]) - c[kColumn[i]]);
            }
            const int64_t pl = jzip_dc_from(left, c, 1, quant_);
            const int64_t pu = jzip_dc_from(above, c, 2, quant_);
            // Lean towards the neighbour whose edge matches the block better.
            if (ju >= jl) {
                const int k = static_cast<int>(ju - jl < 31 ? ju - jl : 31);
                p_dc = (pl * (int64_t{1} << k) + pu) / ((int64_t{1} << k) + 1);
            } else {
                const int k = static_cast<int>(jl - ju < 31 ? jl - ju : 31);
                p_dc = (pu * (int64_t{1} << k) + pl) / ((int64_t{1} << k) + 1);
            }
            p_dc = jzip_clamp_dc(p_dc);
        } else if (has_left) {
            p_dc = jzip_dc_from(left, c, 1, quant_);
        } else if (has_above) {
            p_dc = jzip_dc_from(above, c, 2, quant_);
        }

        const int64_t want_residual = encoding ? want[0] - p_dc : 0;
        if (encoding && jzip_abs(want_residual) >= (1 << 15))
            return kJzipBlockBadData;
        const int u = magnitude(15, 10, kJzipDcUnary, dc_class, 13, dc_class,
                                static_cast<int>(jzip_abs(want_residual)));
        int64_t dc = p_dc;
        if (u != 0) {
            const int x = (p_dc < 0) + 2 * (above.c[0] < p_dc) + 4 * (left.c[0] < p_dc);
            dc = coder_.code(kJzipDcSign + x, want_residual < 0) ? p_dc - u : p_dc + u;
        }
        if (dc < -32768 || dc > 32767)
            return kJzipBlockBadData;
        c[0] = static_cast<int16_t>(dc);
        return kJzipBlockOk;
    }

    Coder& coder_;
    JzipRecord* rows_[2];
    uint32_t blocks_per_row_;
    uint32_t column_ = 0;
    bool have_above_ = false;
    const uint16_t* quant_;
    JzipRecord zero_;
};
