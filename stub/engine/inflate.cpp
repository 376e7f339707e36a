// Inflate: Deflate and Deflate64 streams (the bit format is RFC 1951's;
// Deflate64 widens the window to 64 KiB, gives length code 285 a base of 3
// with 16 extra bits and adds distance codes 30 and 31).
#include "stub/engine/inflate.h"

#include <cstring>

#include "common/QlHooks.h"
#include "stub/engine/cpufeatures.h"

namespace {

const char kSource[] = "inflate";

// A mode handler answers kStepOn when the stream goes on in the (possibly
// new) mode, else the result the stream ends with.
const int kStepOn = -1;

// The flags of a table entry (QlInflateCode).
const uint32_t kEntryLiteral = 0x80000000u;
const uint32_t kEntrySpecial = 0x8000;        // end of block, link or invalid
const uint32_t kEntryLink = 0x4000 | kEntrySpecial;
const uint32_t kEntryEnd = 0x2000 | kEntrySpecial;
const uint32_t kEntryInvalid = kEntrySpecial | 1u << 8 | 1;

inline unsigned entry_drop(QlInflateCode e)
{
    return e & 0xFF;
}
inline unsigned entry_code_bits(QlInflateCode e)
{
    return (e >> 8) & 0x1F;
}
inline unsigned entry_value(QlInflateCode e)
{
    return e >> 16;
}
// The value of a literal entry, without its flag.
inline unsigned entry_symbol(QlInflateCode e)
{
    return (e >> 16) & 0x7FFF;
}
inline bool entry_is_link(QlInflateCode e)
{
    return (e & kEntryLink) == kEntryLink;
}
// Neither a literal, a length nor a distance, nor the end of block: no code.
inline bool entry_is_invalid(QlInflateCode e)
{
    return (e & (kEntryLink | kEntryEnd)) == kEntrySpecial;
}

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

// ---------------------------------------------------------------- tables

QlInflateCode literal_entry(unsigned value, unsigned bits)
{
    return kEntryLiteral | value << 16 | bits << 8 | bits;
}

QlInflateCode match_entry(unsigned base, unsigned bits, unsigned extra)
{
    return base << 16 | bits << 8 | (bits + extra);
}

QlInflateCode symbol_code(TableKind kind, QlInflateFormat format, unsigned symbol, unsigned bits)
{
    switch (kind) {
    case kCodeLengthTable:
        return literal_entry(symbol, bits);
    case kLiteralTable:
        if (symbol < 256)
            return literal_entry(symbol, bits);
        if (symbol == 256)
            return kEntryEnd | bits << 8 | bits;
        if (symbol >= 286)
            return kEntryInvalid;
        if (symbol == 285 && format == kQlDeflate64)
            return match_entry(3, bits, 16);
        return match_entry(kLengthBase[symbol - 257], bits, kLengthExtra[symbol - 257]);
    case kDistanceTable:
        break;
    }
    return match_entry(kDistanceBase[symbol], bits, kDistanceExtra[symbol]);
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
        table[0] = table[1] = kEntryInvalid;
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

    for (unsigned i = 0; i < size; ++i)
        table[i] = kEntryInvalid;

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
                    table[i] = kEntryInvalid;
                table[prefix] = kEntryLink | sub << 16 | sub_bits << 8 | root;
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

// Decodes one symbol bit by bit and drops its code (not its extra bits);
// false for a code that the table does not have.
bool decode_symbol(QlInflateState* s, const QlInflateCode* table, unsigned root, QlInflateCode* out)
{
    need_bits(s, root);
    QlInflateCode code = table[s->hold & ((size_t(1) << root) - 1)];
    if (entry_is_link(code)) {
        drop_bits(s, entry_drop(code));
        const unsigned sub_bits = entry_code_bits(code);
        need_bits(s, sub_bits);
        code = table[entry_value(code) + (s->hold & ((size_t(1) << sub_bits) - 1))];
    }
    if (entry_is_invalid(code))
        return false;
    drop_bits(s, entry_code_bits(code));
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

// The accumulator of the fast loop is the machine's word.
typedef size_t Hold;
const unsigned kHoldBits = sizeof(Hold) * 8;
const unsigned kShiftMask = kHoldBits - 1;

// Bits guaranteed after a refill of the fast loop: whole bytes are loaded
// up to one byte short of the accumulator's width. The bits loaded above that
// count are those of the next input byte, which a later refill loads again
// in the same places, so an entry looked up before a refill stays right.
const unsigned kRefillBits = kHoldBits - 8;
// The most bits one length entry drops (Deflate64's code 285 has 16 extra
// bits), and one distance entry with the link before it.
const unsigned kMaxLengthDrop = kMaxCodeBits + 16;
const unsigned kMaxDistanceDrop = kMaxCodeBits + 14;
// Literals of the primary table (no longer than its width) decoded on one
// refill, with the bits for the next lookup still there; more than three
// measured no faster.
const unsigned kLiteralsFit = (kRefillBits - kQlInflateLiteralRoot) / kQlInflateLiteralRoot;
const unsigned kLiteralsPerRefill = kLiteralsFit < 3 ? kLiteralsFit : 3;
// A 32-bit accumulator may lack the bits of a long entry after one refill.
const bool kShortHold = kRefillBits < kMaxCodeBits + kMaxLengthDrop;

// The fast loop's count of bits is exact in its low byte only: it drops a
// whole entry (QlInflateCode) from it, whose low byte is the bits dropped.
inline unsigned held(unsigned bits)
{
    return bits & 0xFF;
}

inline void refill_fast(const uint8_t*& in, Hold& hold, unsigned& bits)
{
    if (kHoldBits == 64) {
        hold |= static_cast<Hold>(load_le64(in)) << (bits & 63);
        in += (~bits >> 3) & 7;
        bits |= 56;
    } else {
        hold |= static_cast<Hold>(load_le32(in)) << (bits & 31);
        in += (~bits >> 3) & 3;
        bits |= 24;
    }
}

// Drops a length or distance entry's code and extra bits with one shift and
// answers its base plus the extra bits, taken from the accumulator as it was.
// With a 32-bit accumulator an entry longer than the bits held takes a
// refill, and the code and its extra bits in two steps when even that is
// short.
inline uint32_t take_entry(const uint8_t*& in, Hold& hold, unsigned& bits, QlInflateCode e)
{
    const unsigned drop = entry_drop(e);
    if (kShortHold && held(bits) < drop) {
        refill_fast(in, hold, bits);
        if (held(bits) < drop) {
            const unsigned code = entry_code_bits(e);
            hold >>= code;
            bits -= code;
            refill_fast(in, hold, bits);
            const unsigned extra = drop - code;
            const uint32_t value = entry_value(e) + static_cast<uint32_t>(hold & ((Hold(1) << extra) - 1));
            hold >>= extra;
            bits -= extra;
            return value;
        }
    }
    const Hold saved = hold;
    hold >>= e & kShiftMask;
    bits -= e;
    const Hold field = saved & ((Hold(1) << (e & kShiftMask)) - 1);
    return entry_value(e) + static_cast<uint32_t>(field >> ((e >> 8) & kShiftMask));
}

inline void copy_word(uint8_t* to, const uint8_t* from)
{
    uint64_t v;
    memcpy(&v, from, 8);
    memcpy(to, &v, 8);
}

// Multipliers that repeat a pattern of 1..7 bytes across a 64-bit word, and
// the bytes by which 8 exceeds a whole number of periods.
const uint64_t kRepeat[8] = {0,
                             0x0101010101010101ull,
                             0x0001000100010001ull,
                             0x0001000001000001ull,
                             0x0000000100000001ull,
                             0x0000010000000001ull,
                             0x0001000000000001ull,
                             0x0100000000000001ull};
const uint8_t kPhase[8] = {0, 0, 0, 2, 0, 3, 2, 1};

// The bytes a match may write past its end in the fast loop: whole words,
// at least five of them.
const ptrdiff_t kCopySlack = 40;

// The fast loop runs while this much input is buffered (one round consumes
// at most 12 bytes, and a refill loads 8 bytes from at most 8 ahead of what
// it consumed) and this much room is left in the window (four literals, or
// three and a Deflate match with the words written past its end).
const ptrdiff_t kFastInput = 48;
const uint32_t kMaxDeflateLength = 258;
const ptrdiff_t kFastOutput = 8 + kMaxDeflateLength + kCopySlack;

// Decodes codes while the input and the window have room for a whole round
// without checks. Each round starts from a refill with the next entry
// already looked up, and looks the following one up before it copies its
// match. Answers kStepOn when that room runs out or the block has ended
// (mode kInflateBlockEnd), else the failure. Compiled twice: for every
// processor, and with BMI2's shifts and bit fields where it has them.
__attribute__((always_inline)) inline int decode_fast_body(QlInflateState* s)
{
    const uint8_t* in = s->next;
    const uint8_t* const in_last = s->end - kFastInput;
    uint8_t* const window = s->window;
    uint8_t* out = window + s->index;
    uint8_t* const out_end = window + s->window_size;
    uint8_t* const out_last = out_end - kFastOutput;
    Hold hold = s->hold;
    unsigned bits = s->bits;
    const QlInflateCode* const literals = s->literal_table;
    const QlInflateCode* const distances = s->distance_table;
    const Hold literal_mask = (Hold(1) << s->literal_bits) - 1;
    const Hold distance_mask = (Hold(1) << s->distance_bits) - 1;
    int result = kStepOn;

    refill_fast(in, hold, bits);
    QlInflateCode e = literals[hold & literal_mask];
    for (;;) {
        refill_fast(in, hold, bits);
    refilled:
        if (e & kEntryLiteral) {
            // Runs of literals are the common case.
            hold >>= e & kShiftMask;
            bits -= e;
            *out++ = static_cast<uint8_t>(e >> 16);
            e = literals[hold & literal_mask];
            if (kLiteralsPerRefill >= 2 && (e & kEntryLiteral)) {
                hold >>= e & kShiftMask;
                bits -= e;
                *out++ = static_cast<uint8_t>(e >> 16);
                e = literals[hold & literal_mask];
                if (kLiteralsPerRefill >= 3 && (e & kEntryLiteral)) {
                    hold >>= e & kShiftMask;
                    bits -= e;
                    *out++ = static_cast<uint8_t>(e >> 16);
                    e = literals[hold & literal_mask];
                }
            }
            if (e & kEntryLiteral)
                goto next_round;
            refill_fast(in, hold, bits);
        }
        if (e & kEntrySpecial) {
            // A sub-table, the block's end, or no code.
            if (e & (kEntryLink & ~kEntrySpecial)) {
                hold >>= e & kShiftMask;
                bits -= e;
                e = literals[entry_value(e) + (hold & ((Hold(1) << entry_code_bits(e)) - 1))];
                if (e & kEntryLiteral) {
                    hold >>= e & kShiftMask;
                    bits -= e;
                    *out++ = static_cast<uint8_t>(e >> 16);
                    if (kShortHold)
                        refill_fast(in, hold, bits);
                    e = literals[hold & literal_mask];
                    goto next_round;
                }
            }
            if (e & kEntrySpecial) {
                if ((e & kEntryEnd) == kEntryEnd) {
                    hold >>= e & kShiftMask;
                    bits -= e;
                    s->mode = kInflateBlockEnd;
                } else {
                    result = kQlDecodeBadData;
                }
                break;
            }
        }
        {
            // A length, then its distance.
            const uint32_t length = take_entry(in, hold, bits, e);
            if (kShortHold || held(bits) < kMaxDistanceDrop)
                refill_fast(in, hold, bits);
            QlInflateCode d = distances[hold & distance_mask];
            if (d & kEntrySpecial) {
                if (!entry_is_link(d)) {
                    result = kQlDecodeBadData;
                    break;
                }
                hold >>= d & kShiftMask;
                bits -= d;
                d = distances[entry_value(d) + (hold & ((Hold(1) << entry_code_bits(d)) - 1))];
                if (d & kEntrySpecial) {
                    result = kQlDecodeBadData;
                    break;
                }
            }
            const uint32_t distance = take_entry(in, hold, bits, d);
            refill_fast(in, hold, bits);
            e = literals[hold & literal_mask];

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
                s->bits = held(bits);
                s->index = static_cast<uint32_t>(written);
                result = copy_match(s, length, distance);
                if (result != kStepOn)
                    return result;
                out = window + s->index;
                goto next_round;
            }
            // Whole words at a time, never reading a byte before it is
            // written; the bytes written past the match lie further back
            // than any distance once the window moves on.
            const uint8_t* from = out - distance;
            uint8_t* const stop = out + length;
            if (distance >= 8) {
                copy_word(out, from);
                copy_word(out + 8, from + 8);
                copy_word(out + 16, from + 16);
                copy_word(out + 24, from + 24);
                copy_word(out + 32, from + 32);
                if (length > kCopySlack) {
                    out += kCopySlack;
                    from += kCopySlack;
                    do {
                        copy_word(out, from);
                        copy_word(out + 8, from + 8);
                        out += 16;
                        from += 16;
                    } while (out < stop);
                }
            } else {
                // A short period: its bytes repeated across a word; each
                // next word starts (8 mod period) bytes further into it.
                uint64_t pattern = load_le64(from) & (~0ull >> (64 - 8 * distance));
                pattern *= kRepeat[distance];
                const unsigned right = 8 * kPhase[distance], left = 8 * distance - right;
                for (int i = 0; i < kCopySlack / 8; ++i) {
                    memcpy(out, &pattern, 8);
                    out += 8;
                    pattern = pattern >> right | pattern << left;
                }
                while (out < stop) {
                    memcpy(out, &pattern, 8);
                    out += 8;
                    pattern = pattern >> right | pattern << left;
                }
            }
            out = stop;
            // The refill after the distance serves the next round.
            if (in > in_last || out > out_last)
                break;
            goto refilled;
        }
    next_round:
        if (in > in_last || out > out_last)
            break;
    }

    s->next = in;
    s->hold = hold;
    s->bits = held(bits);
    s->index = static_cast<uint32_t>(out - window);
    return result;
}

__attribute__((noinline)) int decode_fast(QlInflateState* s)
{
    return decode_fast_body(s);
}

#if QL_X86_PATHS
__attribute__((noinline, target("bmi2"))) int decode_fast_bmi2(QlInflateState* s)
{
    return decode_fast_body(s);
}
#endif

// Decodes one code bit by bit: near the end of the input or of the window.
int decode_slow(QlInflateState* s)
{
    QlInflateCode code;
    if (!decode_symbol(s, s->literal_table, s->literal_bits, &code))
        return fail(s, kQlDecodeBadData);
    if (code & kEntryLiteral) {
        if (ran_out(s))
            return input_ended(s);
        return put_literal(s, entry_symbol(code));
    }
    if (code & kEntrySpecial) {
        // The end of block: decode_symbol refuses no code.
        if (ran_out(s))
            return input_ended(s);
        s->mode = kInflateBlockEnd;
        return kStepOn;
    }
    const uint32_t length = entry_value(code) + take_bits(s, entry_drop(code) - entry_code_bits(code));
    if (!decode_symbol(s, s->distance_table, s->distance_bits, &code) || (code & kEntrySpecial))
        return fail(s, kQlDecodeBadData);
    const uint32_t distance = entry_value(code) + take_bits(s, entry_drop(code) - entry_code_bits(code));
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
#if QL_X86_PATHS
            result = s->bmi2 ? decode_fast_bmi2(s) : decode_fast(s);
#else
            result = decode_fast(s);
#endif
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
        s->fixed_literal_bits = kQlInflateFixedLiteralBits;
        build_table(kLiteralTable, s->format, lengths, 288, s->fixed_literal_codes,
                    1u << kQlInflateFixedLiteralBits, &s->fixed_literal_bits);
        memset(lengths, 5, 32);
        s->fixed_distance_bits = kQlInflateFixedDistanceBits;
        build_table(kDistanceTable, s->format, lengths, 32, s->fixed_distance_codes,
                    1u << kQlInflateFixedDistanceBits, &s->fixed_distance_bits);
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
        const unsigned symbol = entry_symbol(code);
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
    s->bmi2 = (ql_cpu_features() & kQlCpuBmi2) != 0;

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
