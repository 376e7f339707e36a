// Arbitrary bytes as raw Deflate and as Deflate64, streamed in pieces and
// decoded into a small bounded buffer. The first byte chooses the piece size.
// Where zlib also decodes a Deflate stream, both must give the same bytes.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "stub/engine/inflate.h"
#include "tests/fuzz/FuzzPieceSource.h"

// An internal-error report is a fault here.
void qlHostAssert(const char*, int)
{
    abort();
}
void qlHostWin32Error(const char*, int)
{
    abort();
}

namespace {

const uint32_t kOutputBound = 4096;
const uint64_t kStreamBound = 1 << 18;

// Keeps the first bytes and stops the stream once it has had enough.
class BoundedSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        if (count == 0)
            abort();
        if (total < kOutputBound)
            memcpy(first + total, data, count < kOutputBound - total ? count : kOutputBound - total);
        total += count;
        return total > kStreamBound ? kQlDecodeAborted : 0;
    }
    uint8_t first[kOutputBound];
    uint64_t total = 0;
};

bool known_result(int r)
{
    return r == 0 || r == kQlDecodeInvalid || r == kQlDecodeBadData || r == kQlDecodeInputEnded ||
           r == kQlDecodeAborted;
}

struct Buffers {
    uint8_t window[kQlInflateMinWindow];
    uint8_t input[kQlInflateMinInput * 4];
    uint8_t staging[512];
    QlInflateState state;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Buffers* b = [] {
        Buffers* fresh = new Buffers;
        inflate_setup(&fresh->state, fresh->window, sizeof fresh->window, fresh->input, sizeof fresh->input);
        return fresh;
    }();
    if (size == 0)
        return 0;
    const size_t piece = 1 + data[0] * 3;
    ++data;
    --size;

    for (QlInflateFormat format : {kQlDeflate, kQlDeflate64}) {
        FuzzPieceSource source(data, size, piece);
        BoundedSink sink;
        QlOutputWindow out = {b->staging, sizeof b->staging, 0, &sink};
        int streamed = inflate_data(&b->state, format, &source, &out);
        if (streamed == 0)
            streamed = output_window_flush(&out);
        if (!known_result(streamed))
            abort();

        uint8_t bounded[kOutputBound + 16];
        memset(bounded, 0xA5, sizeof bounded);
        uint32_t count = 0;
        const int result = inflate_to_memory(&b->state, format, data, static_cast<uint32_t>(size), bounded,
                                             kOutputBound, &count);
        if (!known_result(result) || result == kQlDecodeAborted || count > kOutputBound)
            abort();
        for (uint32_t i = kOutputBound; i < sizeof bounded; ++i)
            if (bounded[i] != 0xA5)
                abort();
        // Both ways of feeding the decoder agree.
        if (result == 0 && (streamed != 0 || sink.total != count || memcmp(sink.first, bounded, count) != 0))
            abort();

        if (format == kQlDeflate && result == 0) {
            uint8_t theirs[kOutputBound + 1];
            z_stream zs = {};
            inflateInit2(&zs, -15);
            zs.next_in = const_cast<Bytef*>(data);
            zs.avail_in = static_cast<uInt>(size);
            zs.next_out = theirs;
            zs.avail_out = sizeof theirs;
            const int z = inflate(&zs, Z_FINISH);
            if (z == Z_STREAM_END && (zs.total_out != count || memcmp(theirs, bounded, count) != 0))
                abort();
            inflateEnd(&zs);
        }
    }
    return 0;
}
