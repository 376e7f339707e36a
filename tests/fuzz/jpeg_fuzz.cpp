// Arbitrary bytes as the data of a method 96 (JPEG method) entry, handed
// over in pieces; the first byte chooses the piece size and the decode
// buffer. The decoder must answer one of its codes, hand on only non-empty
// runs that fit its buffer, and never write past it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stub/engine/junzip.h"
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

const uint64_t kOutputBound = 8 << 20;  // the sink stops an entry after this

class BoundedSink : public QlByteSink {
public:
    explicit BoundedSink(uint32_t run) : run_(run) {}
    int take(const uint8_t*, uint32_t count) override
    {
        if (count == 0 || count > run_)
            abort();
        total_ += count;
        return total_ > kOutputBound ? kQlDecodeAborted : 0;
    }

private:
    uint32_t run_;
    uint64_t total_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t piece = 1 + (data[0] & 0x3F) * 97;
    const uint32_t buffer_size = (data[0] & 0x40) ? 1024 : 0x100000;
    static std::vector<uint8_t> buffer(0x100000 + 16);
    memset(buffer.data() + buffer_size, 0x5A, 16);
    FuzzPieceSource source(data + 1, size - 1, piece);
    BoundedSink sink(buffer_size < 0x80000 ? buffer_size : 0x80000);
    SfxDecodeJob job;
    job.source = &source;
    job.sink = &sink;
    job.compressed_size = size - 1;
    job.uncompressed_size = kOutputBound;
    job.buffer = buffer.data();
    job.buffer_size = buffer_size;
    const int result = jpeg_decode_entry(job);
    switch (result) {
    case kQlDecodeOk:
    case kQlDecodeInvalid:
    case kQlDecodeNoMemory:
    case kQlDecodeBadData:
    case kQlDecodeInputEnded:
    case kQlDecodeUnknownHeader:
    case kQlDecodeAborted:
        break;
    default:
        abort();
    }
    for (int i = 0; i < 16; ++i) {
        if (buffer[buffer_size + i] != 0x5A)
            abort();
    }
    return 0;
}
