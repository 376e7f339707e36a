// The configuration block: eight UTF-16LE strings, each ended by one NUL
// unit, with nothing before, between or after them, compressed with raw
// Deflate and stored directly behind the stub image. The builder packs and
// compresses it; the stub inflates it with its own decoder and splits it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "builder/sfxheader.h"
#include "common/QlTypes.h"

using SfxText = std::basic_string<QlChar>;

constexpr size_t kSfxConfigFieldCount = 8;
// The eight strings with their NULs, in UTF-16 units.
constexpr size_t kSfxConfigMaxUnits = 1285;
// compress_to_memory's output for the block: prefix and Deflate data.
constexpr size_t kSfxCompressCapacity = 1285;
// u16 method, u32 CRC-32 of the input; kept in memory, never written.
constexpr size_t kSfxCompressPrefixSize = 6;
constexpr uint16_t kSfxCompressMethod = 8;
// The longest block a builder writes, so the longest a stub has to read.
constexpr size_t kSfxConfigMaxBlockSize = kSfxCompressCapacity - kSfxCompressPrefixSize;

// Field order in the installation mode (-setup).
namespace SfxInstallField {
enum : size_t {
    About,       // empty when none
    Command,     // whole, trailing white space removed
    Arguments,   // empty in the block; the stub may append " -argv0 <path>"
    Reserved,    // empty
    DialogText,
    Title,       // only when a title was given
    Greeting,
    Options,     // the option string
};
}

// Field order in the standard mode.
namespace SfxStandardField {
enum : size_t {
    Folder,      // default "Unzip To" folder, blanks trimmed
    Program,     // first token of the command, unquoted
    Arguments,   // the rest of the command line
    Reserved,    // empty
    Greeting,
    Title,       // only when a title was given
    About,
    Options,     // the option string
};
}

struct SfxConfigBlock {
    SfxText field[kSfxConfigFieldCount];
};

enum class SfxConfigStatus {
    Ok,
    TooLong,      // more than kSfxConfigMaxUnits units
    EmbeddedNul,  // a field holds a NUL unit, which would end it early
    OddSize,      // not a whole number of UTF-16 units
    FieldCount,   // not exactly eight NUL-ended strings
};

// The uncompressed block: 2 x N bytes, UTF-16LE, every field with its NUL.
SfxConfigStatus pack_config_block(const SfxConfigBlock& block, std::vector<uint8_t>* bytes);

// One field of an inflated block, in place: `length` UTF-16LE units from
// `units` on, without its NUL.
struct SfxConfigField {
    const uint8_t* units;
    size_t length;
};

// Splits an inflated block into its eight fields, each taken by its own
// length, without copying (the stub's way: no standard containers); out is
// left alone unless the result is Ok.
SfxConfigStatus split_config_fields(const uint8_t* data, size_t size,
                                    SfxConfigField out[kSfxConfigFieldCount]);

// The same, into the builder's texts.
SfxConfigStatus split_config_block(const uint8_t* data, size_t size, SfxConfigBlock* out);

enum class SfxConfigSpan {
    None,   // stub length 0: no block, every string stays empty
    Block,  // [offset, offset + length) holds the block
    Bad,    // offsets out of order, or longer than any builder writes
};

// Where the header record puts the block: from the stub length up to the
// archive offset. A stub refuses Bad rather than read it.
SfxConfigSpan sfx_config_span(const SfxHeader& header, uint32_t* offset, uint32_t* length);

// Result codes of compress_to_memory; the builder shows the message of the
// same number.
enum SfxCompressResult : int {
    kSfxCompressOk = 0,
    kSfxCompressFailed = 1035,          // "Error compressing data"
    kSfxCompressOutputTooSmall = 1101,  // "Output buffer too small for in-memory compression"
    kSfxCompressTargetTooSmall = 1102,  // "Target buffer too small"
};

// Raw Deflate at level 9 of input into out[0, capacity): the 6-byte prefix
// (method 8, CRC-32 of the input, little-endian), then the Deflate data.
// *out_size gets the total length on success, 0 otherwise.
SfxCompressResult compress_to_memory(uint8_t* out, size_t capacity, const uint8_t* input,
                                     size_t input_size, size_t* out_size);
