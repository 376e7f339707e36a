// Arbitrary bytes as the data of a method 14 entry (streamed in pieces, with
// and without end-marker flag) and as a memory block decoded into a small
// buffer. The first byte chooses the piece size and the flags, the next two
// the memory block's size (below 4 KiB). Where the memory driver accepts a
// block, the entry driver must give the same bytes for it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stub/engine/lzmadec.h"
#include "tests/fuzz/FuzzPieceSource.h"

void qlHostAssert(const char*, int)
{
    abort();
}
void qlHostWin32Error(const char*, int)
{
    abort();
}

namespace {

const uint32_t kBuffer = 1 << 16;           // decode buffer of the entry driver
const uint64_t kOutputBound = 1 << 15;      // the sink stops a stream after this

class KeepingSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        if (count == 0 || count > kBuffer)
            abort();
        if (bytes.size() < kOutputBound)
            bytes.insert(bytes.end(), data, data + count);
        total += count;
        return total > kOutputBound ? kQlDecodeAborted : 0;
    }
    std::vector<uint8_t> bytes;
    uint64_t total = 0;
};

int decode_entry(const uint8_t* data, size_t size, size_t piece, uint16_t flags, uint64_t recorded,
                 KeepingSink* sink)
{
    static std::vector<uint8_t> buffer(kBuffer);
    FuzzPieceSource source(data, size, piece);
    SfxDecodeJob job;
    job.source = &source;
    job.sink = sink;
    job.compressed_size = size;
    job.uncompressed_size = recorded;
    job.flags = flags;
    job.buffer = buffer.data();
    job.buffer_size = kBuffer;
    return lzma_decode_entry(job);
}

bool known(int r)
{
    return r == kQlDecodeOk || r == kQlDecodeInvalid || r == kQlDecodeNoMemory ||
           r == kQlDecodeUnknownHeader || r == kQlDecodeAborted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const size_t piece = 1 + (data[0] >> 2) * 97;
    const uint16_t flags = (data[0] & 1) ? 0x0002 : 0;
    const size_t out_size = data[1] | ((data[2] & 0x0F) << 8);  // small blocks: many runs
    data += 3;
    size -= 3;

    // The properties stand as the input gives them, gigabyte dictionaries
    // included, with and without the end-marker flag: the driver must fit the
    // dictionary to the recorded size either way.
    KeepingSink sink;
    const int streamed = decode_entry(data, size, piece, flags, out_size, &sink);
    if (!known(streamed))
        abort();
    if (streamed == kQlDecodeOk && flags == 0 && sink.total > out_size)
        abort();  // a known size is never passed

    // The memory driver, both ways of giving it properties.
    std::vector<uint8_t> out(out_size + 32, 0xA5);
    const int memory = lzma_decode_memory(data, size, out.data(), out_size);
    if (memory != kQlDecodeOk && memory != kQlDecodeBadData && memory != kQlDecodeNoMemory &&
        memory != kQlDecodeUnknownHeader)
        abort();
    if (size >= 5) {
        const int own = lzma_decode_memory(data, data + 5, size - 5, out.data(), out_size);
        if (own != kQlDecodeOk && own != kQlDecodeBadData && own != kQlDecodeNoMemory &&
            own != kQlDecodeUnknownHeader)
            abort();
        for (size_t i = out_size; i < out.size(); ++i)
            if (out[i] != 0xA5)
                abort();
        if (own == kQlDecodeOk) {
            // The same stream as an entry of that size.
            std::vector<uint8_t> whole = {9, 22, 5, 0};
            whole.insert(whole.end(), data, data + size);
            KeepingSink again;
            if (decode_entry(whole.data(), whole.size(), piece, 0, out_size, &again) != kQlDecodeOk ||
                again.bytes.size() != out_size ||
                (out_size > 0 && memcmp(again.bytes.data(), out.data(), out_size) != 0))
                abort();
        }
    }
    return 0;
}
