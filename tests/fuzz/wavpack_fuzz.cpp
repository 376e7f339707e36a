// Arbitrary bytes as the data of a method 97 entry, streamed in pieces whose
// size the first byte chooses. The driver must end with a known result, hand
// over no empty or oversized block, and never ask the stream to seek.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stub/engine/wunpack.h"
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

const uint32_t kBuffer = 1 << 16;
const uint64_t kOutputBound = 1 << 24;

class CountingSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        if (count == 0 || count > kBuffer)
            abort();
        total += count;
        return total > kOutputBound ? kQlDecodeAborted : 0;
    }
    uint64_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static std::vector<uint8_t> buffer(kBuffer);
    const size_t piece = 1 + data[0] * 131;
    FuzzPieceSource source(data + 1, size - 1, piece);
    CountingSink sink;
    SfxDecodeJob job;
    job.source = &source;
    job.sink = &sink;
    job.compressed_size = size - 1;
    job.uncompressed_size = size * 4;
    job.buffer = buffer.data();
    job.buffer_size = kBuffer;
    const int r = wavpack_decode_entry(job);
    if (r != kQlDecodeOk && r != kQlDecodeInvalid && r != kQlDecodeBadData && r != kQlDecodeNoMemory &&
        r != kQlDecodeAborted)
        abort();
    return 0;
}
