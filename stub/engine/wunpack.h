// The glue between the engine and the WavPack library: an entry of method 97
// holds a WavPack stream that carries the original file's header and trailer
// as wrapper data, and the driver writes header, samples and trailer back
// byte for byte.
//
// Pure code: no Windows headers.
#pragma once

#include <cstdint>

#include "stub/engine/bytestream.h"
#include "stub/engine/unzip.h"

// The entry driver of method 97 (SfxDecodeFunction): a QlDecodeResult.
// kQlDecodeInvalid when the stream cannot be opened or read, kQlDecodeBadData
// for a stream it cannot restore byte for byte (big-endian, signed 8-bit or
// unsigned wider samples, reordered channels, DSD, a file type other than
// WAV), for damaged blocks and for a sample count other than the recorded one.
int wavpack_decode_entry(const SfxDecodeJob& job);

// The library's view of the entry: its compressed bytes in order, with room
// for one pushed-back byte; it cannot seek.
class WavPackEntryReader {
public:
    WavPackEntryReader(QlByteSource* source, uint64_t compressed_size)
        : source_(source), length_(compressed_size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(compressed_size)) {}

    // Up to `count` bytes, the pushed-back one first; fewer at the end.
    int32_t read(uint8_t* data, int32_t count);
    // Bytes the library has taken and kept: a pushed-back byte is not among them.
    uint32_t position() const { return position_; }
    // -1 when a byte is held already, else `c`.
    int push_back(int c);
    uint32_t length() const { return length_; }
    bool failed() const { return failed_; }

private:
    QlByteSource* source_;
    uint32_t length_;
    uint32_t position_ = 0;
    bool held_ = false;
    uint8_t held_byte_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    uint8_t block_[0x1000];
    uint32_t next_ = 0;
    uint32_t end_ = 0;
};
