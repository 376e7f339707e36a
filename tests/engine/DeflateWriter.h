// A tiny Deflate writer for hand-made streams: exact blocks, codes and extra
// bits that no real encoder would choose, and the bytes they must decode to.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace deflate_writer {

// Bits go least-significant first; Huffman codes most-significant first.
class BitWriter {
public:
    void put(uint32_t value, unsigned n)
    {
        for (unsigned i = 0; i < n; ++i)
            bit(i < 32 ? (value >> i) & 1 : 0);
    }
    void put_code(uint32_t code, unsigned length)
    {
        for (unsigned i = length; i-- > 0;)
            bit((code >> i) & 1);
    }
    void align()
    {
        while (used_ != 0)
            bit(0);
    }
    std::vector<uint8_t> finish()
    {
        align();
        return bytes_;
    }

private:
    void bit(unsigned b)
    {
        if (used_ == 0)
            bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(b << used_);
        used_ = (used_ + 1) & 7;
    }
    std::vector<uint8_t> bytes_;
    unsigned used_ = 0;
};

inline std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths)
{
    unsigned count[16] = {0};
    for (uint8_t len : lengths)
        if (len != 0)
            ++count[len];
    uint32_t next[16] = {0};
    uint32_t code = 0;
    for (unsigned bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t sym = 0; sym < lengths.size(); ++sym)
        if (lengths[sym] != 0)
            codes[sym] = next[lengths[sym]]++;
    return codes;
}

// Lengths 3..258 and distances 1..65536 as (code, extra bits, extra value).
struct Coded {
    unsigned symbol;
    unsigned extra_bits;
    unsigned extra;
};

// Base and extra bits of length codes 257..285 (285 as in plain Deflate)
// and of distance codes 0..31.
inline unsigned length_base(unsigned symbol)
{
    static const unsigned base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    return base[symbol - 257];
}
inline unsigned length_extra_bits(unsigned symbol)
{
    return symbol < 265 || symbol == 285 ? 0 : (symbol - 261) / 4;
}
inline unsigned distance_extra_bits(unsigned symbol)
{
    return symbol < 4 ? 0 : (symbol - 2) / 2;
}
inline unsigned distance_base(unsigned symbol)
{
    unsigned base = 1;
    for (unsigned i = 0; i < symbol; ++i)
        base += 1u << distance_extra_bits(i);
    return base;
}

inline Coded length_code(unsigned length)
{
    unsigned symbol = 285;
    while (length_base(symbol) > length)
        --symbol;
    return {symbol, length_extra_bits(symbol), length - length_base(symbol)};
}

inline Coded distance_code(unsigned distance)
{
    unsigned symbol = 31;
    while (distance_base(symbol) > distance)
        --symbol;
    return {symbol, distance_extra_bits(symbol), distance - distance_base(symbol)};
}

// A block's two codes and how to write its symbols.
struct BlockCodes {
    std::vector<uint8_t> literal_lengths;
    std::vector<uint8_t> distance_lengths;
    std::vector<uint32_t> literal_codes;
    std::vector<uint32_t> distance_codes;

    BlockCodes(std::vector<uint8_t> lit, std::vector<uint8_t> dist)
        : literal_lengths(std::move(lit)), distance_lengths(std::move(dist)),
          literal_codes(canonical_codes(literal_lengths)), distance_codes(canonical_codes(distance_lengths))
    {
    }
    static BlockCodes fixed()
    {
        std::vector<uint8_t> lit(288, 8);
        for (unsigned i = 144; i < 256; ++i)
            lit[i] = 9;
        for (unsigned i = 256; i < 280; ++i)
            lit[i] = 7;
        return BlockCodes(lit, std::vector<uint8_t>(32, 5));
    }
    void symbol(BitWriter& w, unsigned sym) const { w.put_code(literal_codes[sym], literal_lengths[sym]); }
    void end(BitWriter& w) const { symbol(w, 256); }
    // A length code with its extra bits as given, then a distance code likewise.
    void match(BitWriter& w, Coded length, Coded distance) const
    {
        symbol(w, length.symbol);
        w.put(length.extra, length.extra_bits);
        w.put_code(distance_codes[distance.symbol], distance_lengths[distance.symbol]);
        w.put(distance.extra, distance.extra_bits);
    }
    void match(BitWriter& w, unsigned length, unsigned distance) const
    {
        match(w, length_code(length), distance_code(distance));
    }
};

// The bytes a stream must decode to, built alongside it.
struct Expected {
    std::vector<uint8_t> bytes;
    void literal(uint8_t b) { bytes.push_back(b); }
    void copy(size_t length, size_t distance)
    {
        for (size_t i = 0; i < length; ++i)
            bytes.push_back(bytes[bytes.size() - distance]);
    }
};

const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// One symbol of the code-length alphabet with its extra value.
struct LengthItem {
    unsigned symbol;
    unsigned extra;
};

// The code lengths one by one, or run-length coded with symbols 16, 17, 18.
inline std::vector<LengthItem> length_items(const std::vector<uint8_t>& lengths, bool runs)
{
    std::vector<LengthItem> items;
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 1;
        while (i + run < lengths.size() && lengths[i + run] == lengths[i])
            ++run;
        if (runs && lengths[i] == 0 && run >= 11) {
            run = run > 138 ? 138 : run;
            items.push_back({18, static_cast<unsigned>(run - 11)});
        } else if (runs && lengths[i] == 0 && run >= 3) {
            run = run > 10 ? 10 : run;
            items.push_back({17, static_cast<unsigned>(run - 3)});
        } else if (runs && run >= 4) {
            items.push_back({lengths[i], 0});
            run = run - 1 > 6 ? 6 : run - 1;
            items.push_back({16, static_cast<unsigned>(run - 3)});
            ++run;
        } else {
            run = 1;
            items.push_back({lengths[i], 0});
        }
        i += run;
    }
    return items;
}

// The header of a dynamic block: the code-length code (19 lengths in symbol
// order) and the items that it codes.
inline void dynamic_header(BitWriter& w, bool final, unsigned hlit, unsigned hdist,
                           const std::vector<uint8_t>& code_length_lengths, const std::vector<LengthItem>& items)
{
    w.put(final ? 1 : 0, 1);
    w.put(2, 2);
    w.put(hlit - 257, 5);
    w.put(hdist - 1, 5);
    unsigned hclen = 19;
    while (hclen > 4 && code_length_lengths[kCodeLengthOrder[hclen - 1]] == 0)
        --hclen;
    w.put(hclen - 4, 4);
    for (unsigned i = 0; i < hclen; ++i)
        w.put(code_length_lengths[kCodeLengthOrder[i]], 3);
    const std::vector<uint32_t> codes = canonical_codes(code_length_lengths);
    for (const LengthItem& item : items) {
        w.put_code(codes[item.symbol], code_length_lengths[item.symbol]);
        if (item.symbol == 16)
            w.put(item.extra, 2);
        else if (item.symbol == 17)
            w.put(item.extra, 3);
        else if (item.symbol == 18)
            w.put(item.extra, 7);
    }
}

// A code-length code in which every symbol has 4 or 5 bits (complete).
inline std::vector<uint8_t> flat_code_length_code()
{
    std::vector<uint8_t> lengths(19, 4);
    for (unsigned sym = 13; sym < 19; ++sym)
        lengths[sym] = 5;
    return lengths;
}

// The header of a dynamic block for the codes of `codes`.
inline void dynamic_header(BitWriter& w, bool final, const BlockCodes& codes, bool runs = true)
{
    std::vector<uint8_t> all = codes.literal_lengths;
    all.insert(all.end(), codes.distance_lengths.begin(), codes.distance_lengths.end());
    dynamic_header(w, final, static_cast<unsigned>(codes.literal_lengths.size()),
                   static_cast<unsigned>(codes.distance_lengths.size()), flat_code_length_code(),
                   length_items(all, runs));
}

// Lengths of a random complete prefix code of `count` symbols, no code longer
// than `max_bits`: leaves split at random, the deepest first half of the time.
inline std::vector<uint8_t> random_complete_lengths(std::mt19937& rng, unsigned count, unsigned max_bits)
{
    std::vector<uint8_t> leaves(1, 0);
    while (leaves.size() < count) {
        size_t pick = rng() % leaves.size();
        if (rng() % 2 == 0) {
            for (size_t i = 0; i < leaves.size(); ++i)
                if (leaves[i] < max_bits && (leaves[pick] >= max_bits || leaves[i] > leaves[pick]))
                    pick = i;
        }
        if (leaves[pick] >= max_bits)
            continue;
        ++leaves[pick];
        leaves.push_back(leaves[pick]);
    }
    if (count == 1)
        leaves[0] = 1;
    return leaves;
}

}  // namespace deflate_writer
