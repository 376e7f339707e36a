// The PPMd decoder of Zip method 98: PPMd variant I, revision 1, with its
// carry-less range decoder. The entry's compressed data begin with a 2-byte
// parameter word (model order, model memory, restoration method).
//
// Pure code: no Windows headers. The model lives in one block taken for the
// entry; every reference inside it is a 32-bit offset from the block's start,
// so the model is the same natively and on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stub/engine/bytestream.h"
#include "stub/engine/unzip.h"

// What to do when the model memory is full.
enum PpmdRestoration {
    kPpmdRestart = 0,  // start a fresh model in the same memory
    kPpmdCutOff = 1,   // cut off old and deep contexts
    kPpmdFreeze = 2,   // stop creating contexts
};

struct PpmdParameters {
    unsigned order;        // 2..16
    uint32_t memory_size;  // bytes of model memory
    unsigned restoration;  // a PpmdRestoration
};

// The parameter word: bits 0-3 order - 1, bits 4-11 memory in MiB - 1,
// bits 12-15 the restoration method. False for a word this decoder refuses
// (order 1, a method above 2).
bool ppmd_read_parameters(uint16_t word, PpmdParameters* parameters);

// The smallest model memory the decoder works in (the order-0 context must
// fit, with room to grow).
enum { kPpmdMinMemory = 2048 };

// Decodes one entry: the parameter word, then the stream.
class PpmdEntryDecoder {
public:
    explicit PpmdEntryDecoder(const SfxDecodeJob& job) : job_(job) {}

    // A QlDecodeResult: kQlDecodeOk at the stream's end marker with every
    // byte handed on; kQlDecodeBadData for a refused parameter word, for data
    // that decode to nothing, for output that would pass the recorded size
    // and for input that ran out before the end marker; kQlDecodeNoMemory when
    // the model block cannot be had; kQlDecodeInvalid when the input could
    // not be read; else the sink's refusal.
    int Decode();

private:
    const SfxDecodeJob& job_;
};

// The entry driver of method 98 (SfxDecodeFunction).
int ppmd_decode_entry(const SfxDecodeJob& job);

// Decodes the stream that follows the parameter word, with the model in
// `memory` (at least parameters.memory_size + 4 bytes, any alignment). The
// output goes through `buffer` to `sink`, which is handed `buffer_size`
// bytes whenever the buffer is full and the rest at the end, never zero
// bytes. Output that would pass `size_limit` bytes is bad data. Results as
// PpmdEntryDecoder::Decode.
int ppmd_decode_stream(const PpmdParameters& parameters, uint8_t* memory, QlByteSource* source,
                       QlByteSink* sink, uint8_t* buffer, uint32_t buffer_size, uint64_t size_limit);
