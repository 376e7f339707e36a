// Inflate: the decoder of Deflate (Zip method 8) and Deflate64 (method 9)
// streams, and of the raw-Deflate configuration block.
//
// Pure code: no Windows headers, no global state, no allocation. The caller
// owns the state, the sliding window and the input buffer; one state serves
// one stream at a time and may be reused for the next.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stub/engine/bytestream.h"

enum QlInflateFormat {
    kQlDeflate = 0,
    kQlDeflate64 = 1,
};

// One entry of a code table, packed so that the hot path tests its kind
// with one AND and drops a code and its extra bits with one shift:
//   bits 0..7    the bits to drop: the code and its extra bits (a link: the
//                primary width)
//   bits 8..12   the code's own length, where its extra bits start (a link:
//                the width of its sub-table)
//   bit 13       end of block         } only with bit 15
//   bit 14       a link to a sub-table }
//   bit 15       not a literal, length or distance: end of block, a link, or
//                no code (invalid data) when neither 13 nor 14 is set
//   bits 16..31  the literal (or code-length symbol), the base of a length
//                or distance, or the first entry of the sub-table; bit 31
//                also marks a literal in the literal/length table
typedef uint32_t QlInflateCode;

// The sliding window must hold every distance (64 KiB in Deflate64) plus the
// slack that the fast copy writes ahead of itself; the stub passes 1 MiB.
enum {
    kQlInflateMinWindow = 0x20000,
    kQlInflateMinInput = 64,
};

// Primary widths and table sizes. A sub-table is never wider than the
// codes below its prefix need, so a complete code of n symbols cannot take
// more than 2^root + n / (16 - root) * 2^(15 - root) entries; an incomplete
// distance code adds one more sub-table at most.
enum {
    kQlInflateLiteralRoot = 11,
    kQlInflateDistanceRoot = 8,
    kQlInflateCodeLengthRoot = 7,
    kQlInflateLiteralCodes = (1 << 11) + (288 / 5 + 1) * (1 << 4),
    kQlInflateDistanceCodes = (1 << 8) + (32 / 8 + 1) * (1 << 7),
    // The fixed codes are no longer than 9 and 5 bits: single-level tables.
    kQlInflateFixedLiteralBits = 9,
    kQlInflateFixedDistanceBits = 5,
};

// The modes of one stream, each with what it waits for:
//
//   kInflateBlockHeader -> kInflateStoredLengths -> kInflateStoredCopy -> kInflateBlockEnd
//                       -> kInflateFixedTables -> kInflateCodes -> kInflateBlockEnd
//                       -> kInflateTableSizes -> kInflateCodeLengthCode
//                              -> kInflateCodeLengths -> kInflateCodes
//   kInflateBlockEnd -> kInflateBlockHeader, or kInflateDone after the final block
enum QlInflateMode {
    kInflateBlockHeader,     // final-block bit and the 2-bit block type
    kInflateStoredLengths,   // byte boundary, LEN and its complement NLEN
    kInflateStoredCopy,      // the LEN bytes of a stored block
    kInflateFixedTables,     // nothing: the fixed codes, built once per format
    kInflateTableSizes,      // HLIT, HDIST and HCLEN
    kInflateCodeLengthCode,  // HCLEN 3-bit lengths of the code-length code
    kInflateCodeLengths,     // HLIT + HDIST code lengths, run-length coded
    kInflateCodes,           // literals, lengths and distances up to end of block
    kInflateBlockEnd,        // nothing: the final-block bit decides
    kInflateDone,            // the final block has ended
};

struct QlInflateState {
    QlInflateMode mode;
    QlInflateFormat format;
    bool final_block;

    // Input: the caller's buffer, filled from the source.
    QlByteSource* source;
    uint8_t* input;
    uint32_t input_size;
    const uint8_t* next;         // first unread byte
    const uint8_t* end;          // end of the bytes read
    bool input_ended;            // the source has no more (or failed)
    bool read_failed;

    // Bit accumulator, filled least-significant bit first. Past the end of
    // the input it is padded with zero bytes; taking any of those bits means
    // the stream was cut short.
    size_t hold;
    unsigned bits;
    unsigned pad_bits;

    // Sliding window: the caller's buffer, drained into the output window
    // each time it is full and once at the end of the stream.
    uint8_t* window;
    uint32_t window_size;
    uint32_t index;              // write position
    bool wrapped;                // the window has been filled once
    QlOutputWindow* output;

    bool bmi2;                   // the fast loop's BMI2 copy serves this stream

    // Current block.
    uint32_t stored_left;
    unsigned literal_count;      // HLIT
    unsigned distance_count;     // HDIST
    unsigned code_length_count;  // HCLEN
    uint8_t lengths[288 + 32];

    // Code tables of the current block.
    const QlInflateCode* literal_table;
    const QlInflateCode* distance_table;
    unsigned literal_bits;
    unsigned distance_bits;
    unsigned code_length_bits;

    QlInflateCode code_length_codes[1 << kQlInflateCodeLengthRoot];
    QlInflateCode literal_codes[kQlInflateLiteralCodes];
    QlInflateCode distance_codes[kQlInflateDistanceCodes];

    // Fixed codes, kept across blocks and streams of the same format.
    int fixed_format;            // -1 until built
    unsigned fixed_literal_bits;
    unsigned fixed_distance_bits;
    QlInflateCode fixed_literal_codes[1 << kQlInflateFixedLiteralBits];
    QlInflateCode fixed_distance_codes[1 << kQlInflateFixedDistanceBits];
};

// Lines named in the internal-error reports of the inflate source.
enum QlInflateLine {
    kInflateBadSetup = 101,     // a window or input buffer too small, or none
    kInflateNotSetUp = 102,     // a stream started without buffers, source or sink
    kInflateOverfill = 103,     // the source stored more than it was asked for
    kInflateTableRoom = 104,    // a code table would not fit its array
};

// Gives the state its buffers: a window of at least kQlInflateMinWindow
// bytes and an input buffer of at least kQlInflateMinInput. Call once; the
// buffers must live as long as the state is used.
void inflate_setup(QlInflateState* state, uint8_t* window, uint32_t window_size,
                   uint8_t* input, uint32_t input_size);

// Decodes one stream from `source` into `output`. Returns 0 when the final
// block has ended (the output window may still hold bytes for the caller to
// hand on), or the first failure: kQlDecodeBadData, kQlDecodeInvalid (block
// type 3, an over-subscribed code, a read failure), kQlDecodeInputEnded (the
// bytes produced until then have reached the output window), or the sink's
// answer. Reads ahead: bytes behind the stream's end may be taken from the
// source.
int inflate_data(QlInflateState* state, QlInflateFormat format, QlByteSource* source,
                 QlOutputWindow* output);

// Decodes one whole stream held in memory into `out`. Output that would pass
// `out_size` bytes is refused with kQlDecodeBadData; nothing is ever written
// past the buffer. `*out_count` receives the bytes stored.
int inflate_to_memory(QlInflateState* state, QlInflateFormat format, const uint8_t* data,
                      uint32_t size, uint8_t* out, uint32_t out_size, uint32_t* out_count);
