// Memory source and sink for the JPEG method's tests.
#pragma once

#include <cstdint>
#include <vector>

#include "stub/engine/bytestream.h"
#include "stub/engine/junzip.h"

// Hands out the entry in pieces of `piece` bytes.
class MemorySource : public QlByteSource {
public:
    MemorySource(const std::vector<uint8_t>& data, uint32_t piece = 777) : data_(data), piece_(piece) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        uint32_t n = static_cast<uint32_t>(data_.size() - at_);
        if (n > capacity)
            n = capacity;
        if (n > piece_)
            n = piece_;
        for (uint32_t i = 0; i < n; ++i)
            buffer[i] = data_[at_ + i];
        at_ += n;
        return static_cast<int32_t>(n);
    }

private:
    const std::vector<uint8_t>& data_;
    uint32_t piece_;
    size_t at_ = 0;
};

// Keeps what it takes; answers `refusal` from the `refuse_at`-th call on.
class MemorySink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        ++calls;
        if (count == 0)
            zero_takes = true;
        if (count > largest)
            largest = count;
        if (refuse_at != 0 && calls >= refuse_at)
            return refusal;
        bytes.insert(bytes.end(), data, data + count);
        return 0;
    }
    std::vector<uint8_t> bytes;
    uint32_t calls = 0;
    uint32_t largest = 0;
    bool zero_takes = false;
    uint32_t refuse_at = 0;
    int refusal = kQlDecodeAborted;
};

struct DecodeRun {
    int result;
    MemorySink sink;
};

// Decodes an entry with a decode buffer of `buffer_size` bytes (guarded by a
// tail that must stay untouched); `recorded` is the entry's recorded size
// (none by default).
inline int decode_entry(const std::vector<uint8_t>& entry, MemorySink* sink,
                        uint32_t buffer_size = 0x100000, uint64_t recorded = ~uint64_t{0})
{
    std::vector<uint8_t> buffer(buffer_size + 64, 0xA5);
    MemorySource source(entry);
    SfxDecodeJob job;
    job.source = &source;
    job.sink = sink;
    job.compressed_size = entry.size();
    job.uncompressed_size = recorded;
    job.buffer = buffer.data();
    job.buffer_size = buffer_size;
    const int result = jpeg_decode_entry(job);
    for (uint32_t i = buffer_size; i < buffer.size(); ++i) {
        if (buffer[i] != 0xA5)
            return -1;  // the decoder wrote past its buffer
    }
    return result;
}
