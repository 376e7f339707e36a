// The glue between the engine and the LZMA SDK's decoder: entries of method
// 14 (a 4-byte header of version and property length, then the five
// property bytes and the stream) and raw LZMA blocks in memory.
//
// Pure code: no Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stub/engine/bytestream.h"
#include "stub/engine/unzip.h"

// The entry driver of method 14 (SfxDecodeFunction): a QlDecodeResult.
// General-purpose flag bit 1: the stream ends with its end marker, whatever
// the recorded size says. Either way the dictionary is cut to the recorded
// size (at least 4 KiB), past which the engine takes no output.
int lzma_decode_entry(const SfxDecodeJob& job);

// Decodes one raw LZMA block (five property bytes, then the stream) from
// memory into `out`, which must come out exactly `out_size` bytes long:
// kQlDecodeOk, else kQlDecodeBadData (also for any other length),
// kQlDecodeNoMemory or kQlDecodeUnknownHeader (properties it cannot take).
int lzma_decode_memory(const uint8_t properties[5], const uint8_t* in, size_t in_size,
                       uint8_t* out, size_t out_size);

// The same for a block that carries no properties (the side blocks of the
// JPEG method): it takes those its writer used for `out_size` bytes, from
// lzma_memory_properties.
int lzma_decode_memory(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size);

// lc 3, lp 0, pb 2 and a dictionary of `out_size` rounded up to a multiple of
// 512, at least 1024, and 0x80000 when that would be larger.
void lzma_memory_properties(size_t out_size, uint8_t properties[5]);
