// The builder's side of the configuration block: packing the eight strings
// and compressing them.
#include "builder/sfxconfig.h"

#include <climits>

#include <zlib.h>

#include "builder/crc32.h"

SfxConfigStatus pack_config_block(const SfxConfigBlock& block, std::vector<uint8_t>* bytes)
{
    size_t units = 0;
    for (const SfxText& text : block.field) {
        // A NUL inside a field would end it early and shift every later one.
        if (text.find(QlChar(0)) != SfxText::npos)
            return SfxConfigStatus::EmbeddedNul;
        units += text.size() + 1;
    }
    if (units > kSfxConfigMaxUnits)
        return SfxConfigStatus::TooLong;

    bytes->clear();
    bytes->reserve(2 * units);
    for (const SfxText& text : block.field) {
        for (QlChar c : text) {
            const uint16_t unit = static_cast<uint16_t>(c);
            bytes->push_back(static_cast<uint8_t>(unit));
            bytes->push_back(static_cast<uint8_t>(unit >> 8));
        }
        bytes->push_back(0);
        bytes->push_back(0);
    }
    return SfxConfigStatus::Ok;
}

SfxConfigStatus split_config_block(const uint8_t* data, size_t size, SfxConfigBlock* out)
{
    SfxConfigField fields[kSfxConfigFieldCount];
    const SfxConfigStatus status = split_config_fields(data, size, fields);
    if (status != SfxConfigStatus::Ok)
        return status;
    for (size_t i = 0; i < kSfxConfigFieldCount; ++i) {
        SfxText& text = out->field[i];
        text.clear();
        const uint8_t* units = fields[i].units;
        for (size_t unit = 0; unit < fields[i].length; ++unit)
            text.push_back(static_cast<QlChar>(units[2 * unit] | units[2 * unit + 1] << 8));
    }
    return SfxConfigStatus::Ok;
}

SfxCompressResult compress_to_memory(uint8_t* out, size_t capacity, const uint8_t* input,
                                     size_t input_size, size_t* out_size)
{
    *out_size = 0;
    if (out == nullptr || capacity <= kSfxCompressPrefixSize)
        return kSfxCompressTargetTooSmall;

    z_stream zs{};
    // Negative window bits: raw Deflate, no zlib wrapper, no checksum.
    if (deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return kSfxCompressFailed;

    const size_t room = capacity - kSfxCompressPrefixSize;
    zs.next_out = out + kSfxCompressPrefixSize;
    zs.avail_out = room > UINT_MAX ? UINT_MAX : static_cast<uInt>(room);
    const uInt out_room = zs.avail_out;

    // The input goes in pieces, so no size has to fit zlib's 32-bit counts.
    const size_t kPiece = 0x4000;
    size_t fed = 0;
    // zlib cannot report the end of a stream that fills the output exactly:
    // once the caller's room is full, one more call into a spill area tells
    // whether anything was left.
    uint8_t spill[16];
    bool spilling = false;
    SfxCompressResult result = kSfxCompressOk;
    for (;;) {
        if (zs.avail_in == 0 && fed < input_size) {
            const size_t piece = input_size - fed < kPiece ? input_size - fed : kPiece;
            zs.next_in = const_cast<Bytef*>(input + fed);
            zs.avail_in = static_cast<uInt>(piece);
            fed += piece;
        }
        const int flush = fed == input_size ? Z_FINISH : Z_NO_FLUSH;
        const int rc = deflate(&zs, flush);
        if (rc == Z_STREAM_END)
            break;
        if (zs.avail_out == 0) {
            if (spilling) {
                result = kSfxCompressOutputTooSmall;
                break;
            }
            spilling = true;
            zs.next_out = spill;
            zs.avail_out = sizeof spill;
            continue;
        }
        if (rc == Z_OK || (rc == Z_BUF_ERROR && flush == Z_NO_FLUSH))
            continue;
        result = kSfxCompressFailed;
        break;
    }
    if (result == kSfxCompressOk && spilling && zs.avail_out != sizeof spill)
        result = kSfxCompressOutputTooSmall;
    const size_t written = spilling ? out_room : out_room - zs.avail_out;
    deflateEnd(&zs);
    if (result != kSfxCompressOk)
        return result;

    const uint32_t crc = crc32_update(0, input, input_size);
    out[0] = static_cast<uint8_t>(kSfxCompressMethod);
    out[1] = static_cast<uint8_t>(kSfxCompressMethod >> 8);
    for (int i = 0; i < 4; ++i)
        out[2 + i] = static_cast<uint8_t>(crc >> (8 * i));
    *out_size = kSfxCompressPrefixSize + written;
    return kSfxCompressOk;
}
