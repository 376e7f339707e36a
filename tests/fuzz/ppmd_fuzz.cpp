// Arbitrary bytes as a PPMd stream. The first two bytes choose the order,
// the restoration method and a small model (2 KiB to 66 KiB), so that the
// model runs out of memory and restores itself within a short input; the
// rest is the stream. Read in pieces, decoded into a small buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stub/engine/ppmddec.h"
#include "tests/fuzz/FuzzPieceSource.h"

namespace {

const uint32_t kBuffer = 4096;
const uint64_t kOutputBound = 1 << 18;

class CheckingSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        if (count == 0 || count > kBuffer || (count != kBuffer && ended))
            abort();
        ended = count != kBuffer;
        total += count;
        return 0;
    }
    uint64_t total = 0;
    bool ended = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    PpmdParameters p;
    p.order = 2 + (data[0] & 0x0F) % 15;
    p.restoration = (data[0] >> 4) % 3;
    p.memory_size = kPpmdMinMemory + data[1] * 256u;
    // Exactly the block the decoder asks for, so that any access past it
    // is seen.
    std::vector<uint8_t> memory(p.memory_size + 4);
    std::vector<uint8_t> buffer(kBuffer);
    FuzzPieceSource source(data + 2, size - 2, 1 + data[1] % 61);
    CheckingSink sink;
    const int result = ppmd_decode_stream(p, memory.data(), &source, &sink, buffer.data(), kBuffer, kOutputBound);
    if (result != kQlDecodeOk && result != kQlDecodeBadData)
        abort();
    if (sink.total > kOutputBound)
        abort();
    return 0;
}
