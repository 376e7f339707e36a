// The JPEG method (Zip method 96): a JPEG file kept as its marker segments
// (side blocks, raw or LZMA) and an arithmetic-coded model of its DCT
// coefficients; decoding rebuilds the original file byte for byte.
//
// Pure code: no Windows headers.
#pragma once

#include <cstdint>

#include "stub/engine/unzip.h"

// The entry driver of method 96 (SfxDecodeFunction): a QlDecodeResult.
int jpeg_decode_entry(const SfxDecodeJob& job);

// Entry header: length 4, a byte nobody reads, format version 1, then the
// band exponent k in the low 5 bits.
enum {
    kJpegHeaderLength = 4,
    kJpegFormatVersion = 1,
    kJpegSideBlockLimit = 0x1000000,  // 16 MiB
};
