// Inflate: Deflate and Deflate64 streams (the bit format is RFC 1951's;
// Deflate64 widens the window to 64 KiB, gives length code 285 a base of 3
// with 16 extra bits and adds distance codes 30 and 31).
#include "stub/engine/inflate.h"

#include <cstring>

#include "common/QlHooks.h"

namespace {

const char kSource[] = "inflate";

// A mode handler answers kStepOn when the stream goes on in the (possibly
// new) mode, else the result the stream ends with.
const int kStepOn = -1;

enum : uint8_t {
    kOpEndOfBlock = 17,
    kOpLiteral = 18,
    kOpInvalid = 99,
};

enum TableKind { kCodeLengthTable, kLiteralTable, kDistanceTable };

// Results of the table builder.
enum { kTableComplete, kTableIncomplete, kTableOversubscribed, kTableEmpty };

const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Codes 30 and 31 belong to Deflate64, but plain Deflate streams are read
// with the same table.
const uint16_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,   3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

const unsigned kMaxCodeBits = 15;

// The fast loop runs while this much input is buffered (the up to three
// refills of one round never load past it) and this much room is left in
// the window (two literals, a Deflate match and the slack of the 16-byte
// copy).
const ptrdiff_t kFastInput = 32;
const uint32_t kMaxDeflateLength = 258;
const ptrdiff_t kFastOutput = 2 + kMaxDeflateLength + 16;

// ---------------------------------------------------------------- tables

QlInflateCode make_code(unsigned op, unsigned bits, unsigned value)
{
    QlInflateCode code;
    code.op = static_cast<uint8_t>(op);
    code.bits = static_cast<uint8_t>(bits);
    code.value = static_cast<uint16_t>(value);
    return code;
}

QlInflateCode symbol_code(TableKind kind, QlInflateFormat format, unsigned symbol, unsigned bits)
{
    switch (kind) {
    case kCodeLengthTable:
        return make_code(kOpLiteral, bits, symbol);
    case kLiteralTable:
        if (symbol < 256)
            return make_code(kOpLiteral, bits, symbol);
        if (symbol == 256)
            return make_code(kOpEndOfBlock, bits, 0);
        if (symbol >= 286)
            return make_code(kOpInvalid, bits, 0);
        if (symbol == 285 && format == kQlDeflate64)
            return make_code(16, bits, 3);
        return make_code(kLengthExtra[symbol - 257], bits, kLengthBase[symbol - 257]);
    case kDistanceTable:
        break;
    }
    return make_code(kDistanceExtra[symbol], bits, kDistanceBase[symbol]);
}

// Builds the lookup table of a canonical code from its code lengths (0 = not
// used, at most 15). The primary table decodes *root_bits bits (lowered to
// the longest length); longer codes go through sub-tables behind it, each no
// wider than the codes below its prefix need. Entries that no code reaches
// are invalid. Returns kTableOversubscribed before writing anything;
// otherwise the table is built and the result says whether the code space is
// used up (a single code of length 1 counts as complete).
int build_table(TableKind kind, QlInflateFormat format, const uint8_t* lengths, unsigned n,
                QlInflateCode* table, unsigned capacity, unsigned* root_bits)
{
    unsigned count[kMaxCodeBits + 1] = {0};
    for (unsigned symbol = 0; symbol < n; ++symbol)
        ++count[lengths[symbol]];
    unsigned max = kMaxCodeBits;
    while (max > 0 && count[max] == 0)
        --max;
    if (max == 0) {
        table[0] = table[1] = make_code(kOpInvalid, 1, 0);
        *root_bits = 1;
        return kTableEmpty;
    }
    int left = 1;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        left = (left << 1) - static_cast<int>(count[len]);
        if (left < 0)
            return kTableOversubscribed;
    }

    unsigned root = *root_bits < max ? *root_bits : max;
    *root_bits = root;
    const unsigned size = 1u << root;
    if (!qlCheck(size <= capacity, kSource, kInflateTableRoom))
        return kTableOversubscribed;

    // Symbols in canonical order: by length, then by value.
    unsigned offset[kMaxCodeBits + 2];
    offset[1] = 0;
    for (unsigned len = 1; len <= kMaxCodeBits; ++len)
        offset[len + 1] = offset[len] + count[len];
    uint16_t sorted[288 + 32];
    for (unsigned symbol = 0; symbol < n; ++symbol) {
        if (lengths[symbol] != 0)
            sorted[offset[lengths[symbol]]++] = static_cast<uint16_t>(symbol);
    }
    const unsigned total = offset[kMaxCodeBits];

    const QlInflateCode invalid = make_code(kOpInvalid, 1, 0);
    for (unsigned i = 0; i < size; ++i)
        table[i] = invalid;

    unsigned next = size;      // first free entry for a sub-table
    unsigned prefix = size;    // primary index of the current sub-table (none yet)
    unsigned sub = 0;          // its first entry
    unsigned sub_bits = 0;     // its width
    unsigned code = 0;         // canonical code of the symbol, bit-reversed
    for (unsigned k = 0; k < total; ++k) {
        const unsigned symbol = sorted[k];
        const unsigned len = lengths[symbol];
        if (len <= root) {
            const QlInflateCode entry = symbol_code(kind, format, symbol, len);
            for (unsigned i = code; i < size; i += 1u << len)
                table[i] = entry;
        } else {
            if ((code & (size - 1)) != prefix) {
                prefix = code & (size - 1);
                // Widen while the codes still to come would not fill it.
                sub_bits = len - root;
                int room = 1 << sub_bits;
                while (sub_bits + root < max) {
                    room -= static_cast<int>(count[sub_bits + root]);
                    if (room <= 0)
                        break;
                    ++sub_bits;
                    room <<= 1;
                }
                if (!qlCheck(next + (1u << sub_bits) <= capacity, kSource, kInflateTableRoom))
                    return kTableOversubscribed;
                sub = next;
                next += 1u << sub_bits;
                for (unsigned i = sub; i < next; ++i)
                    table[i] = invalid;
                table[prefix] = make_code(kOpLiteral + sub_bits, root, sub);
            }
            const QlInflateCode entry = symbol_code(kind, format, symbol, len - root);
            for (unsigned i = code >> root; i < (1u << sub_bits); i += 1u << (len - root))
                table[sub + i] = entry;
        }
        --count[len];
        // Next canonical code: add one to the bit-reversed value.
        unsigned step = 1u << (len - 1);
        while (code & step)
            step >>= 1;
        code = step != 0 ? (code & (step - 1)) + step : 0;
    }
    return left == 0 || (max == 1 && total == 1) ? kTableComplete : kTableIncomplete;
}

// ---------------------------------------------------------------- input

// The result of a stream that needed bits past the end of its input.
int input_ended(const QlInflateState* s)
{
    return s->read_failed ? kQlDecodeInvalid : kQlDecodeInputEnded;
}

bool ran_out(const QlInflateState* s)
{
    return s->bits < s->pad_bits;
}

// A failure found in bits that may lie past the end of the input counts as
// the end of the input.
int fail(const QlInflateState* s, int result)
{
    return s->pad_bits > 0 ? input_ended(s) : result;
}

// Keeps the unread bytes and fills the rest of the input buffer from the
// source. False when no byte is left to read.
bool refill_input(QlInflateState* s)
{
    const size_t kept = static_cast<size_t>(s->end - s->next);
    if (s->input_ended)
        return kept > 0;
    memmove(s->input, s->next, kept);
    s->next = s->input;
    s->end = s->input + kept;
    const uint32_t room = s->input_size - static_cast<uint32_t>(kept);
    int32_t got = s->source->fill(s->input + kept, room);
    if (got <= 0) {
        s->input_ended = true;
        s->read_failed = got < 0;
        return kept > 0;
    }
    if (!qlCheck(static_cast<uint32_t>(got) <= room, kSource, kInflateOverfill))
        got = static_cast<int32_t>(room);
    s->end += got;
    return true;
}

// Makes at least n (<= 16) bits available; past the end of the input the
// accumulator takes zero bytes that ran_out later tells apart.
void need_bits(QlInflateState* s, unsigned n)
{
    while (s->bits < n) {
        if (s->next == s->end && !refill_input(s)) {
            s->pad_bits += 8;
        } else {
            s->hold |= static_cast<size_t>(*s->next++) << s->bits;
        }
        s->bits += 8;
    }
}

void drop_bits(QlInflateState* s, unsigned n)
{
    s->hold >>= n;
    s->bits -= n;
}

unsigned take_bits(QlInflateState* s, unsigned n)
{
    need_bits(s, n);
    const unsigned value = static_cast<unsigned>(s->hold) & ((1u << n) - 1);
    drop_bits(s, n);
    return value;
}

// Decodes one symbol bit by bit; false for a code that the table does not have.
bool decode_symbol(QlInflateState* s, const QlInflateCode* table, unsigned root, QlInflateCode* out)
{
    need_bits(s, root);
    QlInflateCode code = table[s->hold & ((size_t(1) << root) - 1)];
    if (code.op > kOpLiteral && code.op != kOpInvalid) {
        drop_bits(s, code.bits);
        const unsigned sub_bits = code.op - kOpLiteral;
        need_bits(s, sub_bits);
        code = table[code.value + (s->hold & ((size_t(1) << sub_bits) - 1))];
    }
    if (code.op == kOpInvalid)
        return false;
    drop_bits(s, code.bits);
    *out = code;
    return true;
}

// ---------------------------------------------------------------- window

// Hands the full window on and starts it again at its beginning. Any
// answer but 0 from the sink stops the stream.
int drain_full_window(QlInflateState* s)
{
    const int result = output_window_put(s->output, s->window, s->index);
    s->index = 0;
    s->wrapped = true;
    return result < 0 ? kQlDecodeInvalid : result;
}

int put_literal(QlInflateState* s, unsigned byte)
{
    if (s->index == s->window_size) {
        const int result = drain_full_window(s);
        if (result != 0)
            return result;
    }
    s->window[s->index++] = static_cast<uint8_t>(byte);
    return kStepOn;
}

// Copies `length` bytes from `distance` back (already checked against what
// the window holds), in runs bounded by the window's end on both sides.
int copy_match(QlInflateState* s, uint32_t length, uint32_t distance)
{
    while (length > 0) {
        if (s->index == s->window_size) {
            const int result = drain_full_window(s);
            if (result != 0)
                return result;
        }
        const uint32_t from = s->index >= distance ? s->index - distance
                                                   : s->index + s->window_size - distance;
        uint32_t run = length;
        if (run > s->window_size - s->index)
            run = s->window_size - s->index;
        if (run > s->window_size - from)
            run = s->window_size - from;
        uint8_t* to = s->window + s->index;
        const uint8_t* src = s->window + from;
        if (from < s->index && s->index - from < run) {
            // The run repeats bytes that it writes itself.
            for (uint32_t i = 0; i < run; ++i)
                to[i] = src[i];
        } else {
            // A source ahead of the write position lies a lap back, more than
            // a match length away, since the window is at least twice the
            // longest distance.
            memcpy(to, src, run);
        }
        s->index += run;
        length -= run;
    }
    return kStepOn;
}

// ---------------------------------------------------------------- codes

inline uint64_t load_le64(const uint8_t* p)
{
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t load_le32(const uint8_t* p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the fast refill loads the input as little-endian words"
#endif

// Bits guaranteed after a refill of the fast loop: whole bytes are loaded
// up to one byte short of the accumulator's width. The bits loaded above that
// count are those of the next input byte, which a later refill loads again
// in the same places.
const unsigned kRefillBits = sizeof(size_t) == 8 ? 56 : 24;
// Bits to have before a distance: its code and extra bits when one refill
// gives that many, else its code only.
const unsigned kDistanceBits = kRefillBits >= kMaxCodeBits + 14 ? kMaxCodeBits + 14 : kMaxCodeBits;

inline void refill_fast(const uint8_t*& in, size_t& hold, unsigned& bits)
{
    if (sizeof(size_t) == 8) {
        hold |= static_cast<size_t>(load_le64(in)) << bits;
        in += (63 - bits) >> 3;
        bits |= 56;
    } else {
        hold |= static_cast<size_t>(load_le32(in)) << bits;
        in += (31 - bits) >> 3;
        bits |= 24;
    }
}

// Decodes codes while the input and the window have room for a whole code
// and its match without checks. Answers kStepOn when that room runs out or
// the block has ended (mode kInflateBlockEnd), else the failure.
int decode_fast(QlInflateState* s)
{
    const uint8_t* in = s->next;
    const uint8_t* const in_last = s->end - kFastInput;
    uint8_t* const window = s->window;
    uint8_t* out = window + s->index;
    uint8_t* const out_end = window + s->window_size;
    uint8_t* const out_last = out_end - kFastOutput;
    size_t hold = s->hold;
    unsigned bits = s->bits;
    const QlInflateCode* const literals = s->literal_table;
    const QlInflateCode* const distances = s->distance_table;
    const size_t literal_mask = (size_t(1) << s->literal_bits) - 1;
    const size_t distance_mask = (size_t(1) << s->distance_bits) - 1;
    int result = kStepOn;

    while (in <= in_last && out <= out_last) {
        refill_fast(in, hold, bits);
        QlInflateCode code = literals[hold & literal_mask];
        if (code.op == kOpLiteral) {
            // Runs of literals are the common case: with a 64-bit
            // accumulator one refill holds three literal codes.
            hold >>= code.bits;
            bits -= code.bits;
            *out++ = static_cast<uint8_t>(code.value);
            if (kRefillBits < 3 * kMaxCodeBits)
                continue;
            code = literals[hold & literal_mask];
            if (code.op == kOpLiteral) {
                hold >>= code.bits;
                bits -= code.bits;
                *out++ = static_cast<uint8_t>(code.value);
                code = literals[hold & literal_mask];
                if (code.op == kOpLiteral) {
                    hold >>= code.bits;
                    bits -= code.bits;
                    *out++ = static_cast<uint8_t>(code.value);
                    continue;
                }
            }
            // The entry looked up stays right: a refill only adds bits above.
            refill_fast(in, hold, bits);
        }
        if (code.op > 16) {
            // Not a length: a sub-table, the block's end, or no code.
            if (code.op > kOpLiteral) {
                if (code.op == kOpInvalid) {
                    result = kQlDecodeBadData;
                    break;
                }
                hold >>= code.bits;
                bits -= code.bits;
                code = literals[code.value + (hold & ((size_t(1) << (code.op - kOpLiteral)) - 1))];
            }
            if (code.op == kOpLiteral) {
                hold >>= code.bits;
                bits -= code.bits;
                *out++ = static_cast<uint8_t>(code.value);
                continue;
            }
            if (code.op > 16) {
                hold >>= code.bits;
                bits -= code.bits;
                if (code.op == kOpEndOfBlock)
                    s->mode = kInflateBlockEnd;
                else
                    result = kQlDecodeBadData;
                break;
            }
        }
        hold >>= code.bits;
        bits -= code.bits;
        // A length: its base and extra bits (a count of 0 adds nothing).
        if (kRefillBits < kMaxCodeBits + 16 && bits < code.op)
            refill_fast(in, hold, bits);
        const uint32_t length = code.value + static_cast<uint32_t>(hold & ((size_t(1) << code.op) - 1));
        hold >>= code.op;
        bits -= code.op;

        if (bits < kDistanceBits)
            refill_fast(in, hold, bits);
        code = distances[hold & distance_mask];
        if (code.op > 16) {
            if (code.op <= kOpLiteral || code.op == kOpInvalid) {
                result = kQlDecodeBadData;
                break;
            }
            hold >>= code.bits;
            bits -= code.bits;
            code = distances[code.value + (hold & ((size_t(1) << (code.op - kOpLiteral)) - 1))];
            if (code.op > 16) {
                result = kQlDecodeBadData;
                break;
            }
        }
        hold >>= code.bits;
        bits -= code.bits;
        if (kRefillBits < kMaxCodeBits + 14 && bits < code.op)
            refill_fast(in, hold, bits);
        const uint32_t distance = code.value + static_cast<uint32_t>(hold & ((size_t(1) << code.op) - 1));
        hold >>= code.op;
        bits -= code.op;

        const size_t written = static_cast<size_t>(out - window);
        if (distance > written || length > kMaxDeflateLength) {
            if (distance > written && !s->wrapped) {
                result = kQlDecodeBadData;   // further back than the stream's start
                break;
            }
            // Across the window's start, or a long Deflate64 match: the
            // general copy, which may drain.
            s->next = in;
            s->hold = hold;
            s->bits = bits;
            s->index = static_cast<uint32_t>(written);
            result = copy_match(s, length, distance);
            if (result != kStepOn)
                return result;
            out = window + s->index;
            continue;
        }
        // Whole words at a time, never reading a byte before it is written;
        // the up to 15 bytes written past the match lie further back than
        // any distance once the window moves on.
        const uint8_t* from = out - distance;
        uint8_t* const stop = out + length;
        if (distance >= 16) {
            do {
                memcpy(out, from, 16);
                out += 16;
                from += 16;
            } while (out < stop);
        } else if (distance == 1) {
            const uint64_t run = 0x0101010101010101ull * out[-1];
            do {
                memcpy(out, &run, 8);
                out += 8;
            } while (out < stop);
        } else {
            if (distance < 8) {
                // A short period: its first 8 bytes one at a time, then 8 at
                // a time from a multiple of the period of at least 8 bytes
                // back, which lies in the match or in the period before it.
                static const uint8_t kPeriod[8] = {0, 0, 8, 9, 8, 10, 12, 14};
                for (int i = 0; i < 8; ++i)
                    out[i] = from[i];
                out += 8;
                from = out - kPeriod[distance];
            }
            while (out < stop) {
                memcpy(out, from, 8);
                out += 8;
                from += 8;
            }
        }
        out = stop;
    }

    s->next = in;
    s->hold = hold;
    s->bits = bits;
    s->index = static_cast<uint32_t>(out - window);
    return result;
}

// Decodes one code bit by bit: near the end of the input or of the window.
int decode_slow(QlInflateState* s)
{
    QlInflateCode code;
    if (!decode_symbol(s, s->literal_table, s->literal_bits, &code))
        return fail(s, kQlDecodeBadData);
    if (code.op == kOpLiteral) {
        if (ran_out(s))
            return input_ended(s);
        return put_literal(s, code.value);
    }
    if (code.op == kOpEndOfBlock) {
        if (ran_out(s))
            return input_ended(s);
        s->mode = kInflateBlockEnd;
        return kStepOn;
    }
    const uint32_t length = code.value + take_bits(s, code.op);
    if (!decode_symbol(s, s->distance_table, s->distance_bits, &code) || code.op > 16)
        return fail(s, kQlDecodeBadData);
    const uint32_t distance = code.value + take_bits(s, code.op);
    if (ran_out(s))
        return input_ended(s);
    if (distance > s->index && !s->wrapped)
        return kQlDecodeBadData;
    return copy_match(s, length, distance);
}

int decode_codes(QlInflateState* s)
{
    while (s->mode == kInflateCodes) {
        if (s->end - s->next < kFastInput && !s->input_ended)
            refill_input(s);
        int result;
        if (s->pad_bits == 0 && s->end - s->next >= kFastInput &&
            static_cast<ptrdiff_t>(s->window_size - s->index) >= kFastOutput) {
            result = decode_fast(s);
        } else {
            result = decode_slow(s);
        }
        if (result != kStepOn)
            return result;
    }
    return kStepOn;
}

// ---------------------------------------------------------------- blocks

int read_block_header(QlInflateState* s)
{
    s->final_block = take_bits(s, 1) != 0;
    const unsigned type = take_bits(s, 2);
    if (ran_out(s))
        return input_ended(s);
    switch (type) {
    case 0:
        s->mode = kInflateStoredLengths;
        break;
    case 1:
        s->mode = kInflateFixedTables;
        break;
    case 2:
        s->mode = kInflateTableSizes;
        break;
    default:
        return kQlDecodeInvalid;
    }
    return kStepOn;
}

int read_stored_lengths(QlInflateState* s)
{
    drop_bits(s, s->bits & 7);
    const unsigned length = take_bits(s, 16);
    const unsigned complement = take_bits(s, 16);
    if (ran_out(s))
        return input_ended(s);
    if ((length ^ 0xFFFFu) != complement)
        return kQlDecodeBadData;
    s->stored_left = length;
    s->mode = kInflateStoredCopy;
    return kStepOn;
}

int copy_stored(QlInflateState* s)
{
    // Whole bytes still in the accumulator come first.
    while (s->stored_left > 0 && s->bits >= 8) {
        const unsigned byte = static_cast<unsigned>(s->hold) & 0xFF;
        drop_bits(s, 8);
        if (ran_out(s))
            return input_ended(s);
        const int result = put_literal(s, byte);
        if (result != kStepOn)
            return result;
        --s->stored_left;
    }
    if (s->stored_left > 0)
        s->hold = 0;   // no bits left; drop those loaded ahead of the bytes copied below
    while (s->stored_left > 0) {
        if (s->next == s->end && !refill_input(s))
            return input_ended(s);
        if (s->index == s->window_size) {
            const int result = drain_full_window(s);
            if (result != 0)
                return result;
        }
        uint32_t run = s->stored_left;
        if (run > static_cast<uint32_t>(s->end - s->next))
            run = static_cast<uint32_t>(s->end - s->next);
        if (run > s->window_size - s->index)
            run = s->window_size - s->index;
        memcpy(s->window + s->index, s->next, run);
        s->next += run;
        s->index += run;
        s->stored_left -= run;
    }
    s->mode = kInflateBlockEnd;
    return kStepOn;
}

int use_fixed_tables(QlInflateState* s)
{
    // Both codes are complete and no longer than their primary widths, so
    // the tables are single-level: 9 and 5 bits wide.
    if (s->fixed_format != s->format) {
        uint8_t lengths[288];
        memset(lengths, 8, 144);
        memset(lengths + 144, 9, 112);
        memset(lengths + 256, 7, 24);
        memset(lengths + 280, 8, 8);
        s->fixed_literal_bits = kQlInflateLiteralRoot;
        build_table(kLiteralTable, s->format, lengths, 288, s->fixed_literal_codes,
                    1u << kQlInflateLiteralRoot, &s->fixed_literal_bits);
        memset(lengths, 5, 32);
        s->fixed_distance_bits = kQlInflateDistanceRoot;
        build_table(kDistanceTable, s->format, lengths, 32, s->fixed_distance_codes,
                    1u << kQlInflateDistanceRoot, &s->fixed_distance_bits);
        s->fixed_format = s->format;
    }
    s->literal_table = s->fixed_literal_codes;
    s->distance_table = s->fixed_distance_codes;
    s->literal_bits = s->fixed_literal_bits;
    s->distance_bits = s->fixed_distance_bits;
    s->mode = kInflateCodes;
    return kStepOn;
}

int read_table_sizes(QlInflateState* s)
{
    s->literal_count = take_bits(s, 5) + 257;
    s->distance_count = take_bits(s, 5) + 1;
    s->code_length_count = take_bits(s, 4) + 4;
    if (ran_out(s))
        return input_ended(s);
    s->mode = kInflateCodeLengthCode;
    return kStepOn;
}

int read_code_length_code(QlInflateState* s)
{
    uint8_t lengths[19] = {0};
    for (unsigned i = 0; i < s->code_length_count; ++i)
        lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(take_bits(s, 3));
    if (ran_out(s))
        return input_ended(s);
    s->code_length_bits = kQlInflateCodeLengthRoot;
    const int built = build_table(kCodeLengthTable, s->format, lengths, 19, s->code_length_codes,
                                  1u << kQlInflateCodeLengthRoot, &s->code_length_bits);
    if (built == kTableOversubscribed)
        return kQlDecodeInvalid;
    if (built != kTableComplete)
        return kQlDecodeBadData;
    s->mode = kInflateCodeLengths;
    return kStepOn;
}

int read_code_lengths(QlInflateState* s)
{
    const unsigned total = s->literal_count + s->distance_count;
    unsigned previous = 0;
    unsigned i = 0;
    while (i < total) {
        QlInflateCode code;
        if (!decode_symbol(s, s->code_length_codes, s->code_length_bits, &code))
            return fail(s, kQlDecodeBadData);
        const unsigned symbol = code.value;
        if (symbol < 16) {
            s->lengths[i++] = static_cast<uint8_t>(symbol);
            previous = symbol;
            continue;
        }
        unsigned repeat;
        unsigned value = 0;
        if (symbol == 16) {
            if (i == 0)
                return fail(s, kQlDecodeBadData);   // no length to repeat yet
            repeat = 3 + take_bits(s, 2);
            value = previous;
        } else if (symbol == 17) {
            repeat = 3 + take_bits(s, 3);
        } else {
            repeat = 11 + take_bits(s, 7);
        }
        previous = value;
        if (ran_out(s))
            return input_ended(s);
        if (repeat > total - i)
            return kQlDecodeBadData;
        memset(s->lengths + i, static_cast<int>(value), repeat);
        i += repeat;
    }
    if (ran_out(s))
        return input_ended(s);

    s->literal_bits = kQlInflateLiteralRoot;
    int built = build_table(kLiteralTable, s->format, s->lengths, s->literal_count, s->literal_codes,
                            kQlInflateLiteralCodes, &s->literal_bits);
    if (built == kTableOversubscribed)
        return kQlDecodeInvalid;
    if (built != kTableComplete)
        return kQlDecodeBadData;
    s->distance_bits = kQlInflateDistanceRoot;
    built = build_table(kDistanceTable, s->format, s->lengths + s->literal_count, s->distance_count,
                        s->distance_codes, kQlInflateDistanceCodes, &s->distance_bits);
    if (built == kTableOversubscribed)
        return kQlDecodeInvalid;
    // An incomplete distance code is accepted (its unused codes are invalid);
    // none at all only when the block has no length codes either.
    if (built == kTableEmpty && s->literal_count > 257)
        return kQlDecodeBadData;
    s->literal_table = s->literal_codes;
    s->distance_table = s->distance_codes;
    s->mode = kInflateCodes;
    return kStepOn;
}

// Runs the modes until the stream ends or fails.
int run_stream(QlInflateState* s)
{
    for (;;) {
        int result;
        switch (s->mode) {
        case kInflateBlockHeader:
            result = read_block_header(s);
            break;
        case kInflateStoredLengths:
            result = read_stored_lengths(s);
            break;
        case kInflateStoredCopy:
            result = copy_stored(s);
            break;
        case kInflateFixedTables:
            result = use_fixed_tables(s);
            break;
        case kInflateTableSizes:
            result = read_table_sizes(s);
            break;
        case kInflateCodeLengthCode:
            result = read_code_length_code(s);
            break;
        case kInflateCodeLengths:
            result = read_code_lengths(s);
            break;
        case kInflateCodes:
            result = decode_codes(s);
            break;
        case kInflateBlockEnd:
            s->mode = s->final_block ? kInflateDone : kInflateBlockHeader;
            result = kStepOn;
            break;
        case kInflateDone:
        default:
            return 0;
        }
        if (result != kStepOn)
            return result;
    }
}

// The memory entry point's source and sink.
class MemorySource : public QlByteSource {
public:
    MemorySource(const uint8_t* data, uint32_t size) : data_(data), left_(size) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        const uint32_t n = left_ < capacity ? left_ : capacity;
        if (n > 0)
            memcpy(buffer, data_, n);
        data_ += n;
        left_ -= n;
        return static_cast<int32_t>(n);
    }

private:
    const uint8_t* data_;
    uint32_t left_;
};

class BoundedSink : public QlByteSink {
public:
    BoundedSink(uint8_t* out, uint32_t size) : out_(out), size_(size) {}
    int take(const uint8_t* data, uint32_t count) override
    {
        if (count > size_ - count_)
            return kQlDecodeBadData;   // more than the caller's buffer holds
        memcpy(out_ + count_, data, count);
        count_ += count;
        return 0;
    }
    uint32_t count() const { return count_; }

private:
    uint8_t* out_;
    uint32_t size_;
    uint32_t count_ = 0;
};

}  // namespace

void inflate_setup(QlInflateState* state, uint8_t* window, uint32_t window_size, uint8_t* input,
                   uint32_t input_size)
{
    memset(state, 0, sizeof *state);
    state->fixed_format = -1;
    if (!qlCheck(window != nullptr && window_size >= kQlInflateMinWindow && input != nullptr &&
                     input_size >= kQlInflateMinInput,
                 kSource, kInflateBadSetup))
        return;   // left without buffers: every stream is refused
    state->window = window;
    state->window_size = window_size;
    state->input = input;
    state->input_size = input_size;
}

int inflate_data(QlInflateState* state, QlInflateFormat format, QlByteSource* source,
                 QlOutputWindow* output)
{
    if (!qlCheck(state->window != nullptr && source != nullptr && output != nullptr &&
                     output->sink != nullptr && output->count < output->size,
                 kSource, kInflateNotSetUp))
        return kQlDecodeInvalid;
    QlInflateState* s = state;
    s->mode = kInflateBlockHeader;
    s->format = format == kQlDeflate64 ? kQlDeflate64 : kQlDeflate;
    s->final_block = false;
    s->source = source;
    s->next = s->end = s->input;
    s->input_ended = false;
    s->read_failed = false;
    s->hold = 0;
    s->bits = 0;
    s->pad_bits = 0;
    s->index = 0;
    s->wrapped = false;
    s->output = output;

    const int result = run_stream(s);
    if (result == 0 || result == kQlDecodeInputEnded || (result == kQlDecodeInvalid && s->read_failed)) {
        // Done, or cut short: what was decoded goes on either way.
        const int drained = output_window_put(output, s->window, s->index);
        if (drained != 0)
            return drained < 0 ? kQlDecodeInvalid : drained;
    }
    return result;
}

int inflate_to_memory(QlInflateState* state, QlInflateFormat format, const uint8_t* data,
                      uint32_t size, uint8_t* out, uint32_t out_size, uint32_t* out_count)
{
    MemorySource source(data, size);
    BoundedSink sink(out, out_size);
    uint8_t staging[1024];
    QlOutputWindow output = {staging, sizeof staging, 0, &sink};
    int result = inflate_data(state, format, &source, &output);
    if (result == 0)
        result = output_window_flush(&output);
    *out_count = sink.count();
    return result;
}
