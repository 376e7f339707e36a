// The one byte source and the sinks through which every decoder of the
// archive engine takes its input and hands on its output, and the result
// codes that every decoder answers with.
//
// Pure code: no Windows headers. The engine implements the source (file
// reads, spanning, decryption) and the sink (meter, CRC-32, file write); the
// decoders know nothing of either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Decoder results; the engine turns every non-zero one into its message.
enum QlDecodeResult {
    kQlDecodeOk = 0,
    kQlDecodeInvalid = 2,         // invalid data, or the input could not be read
    kQlDecodeNoMemory = 4,
    kQlDecodeBadData = 50,
    kQlDecodeInputEnded = 51,     // the compressed data stopped before the stream did
    kQlDecodeUnknownHeader = 54,
    kQlDecodeAborted = 60,
};

// Where a decoder's compressed bytes come from.
class QlByteSource {
public:
    enum { kReadFailed = -1 };

    // Fills `buffer` with up to `capacity` (> 0) bytes. Returns how many were
    // stored (at least one), 0 at the end of the input, or kReadFailed.
    virtual int32_t fill(uint8_t* buffer, uint32_t capacity) = 0;

protected:
    ~QlByteSource() = default;
};

// Where decoded bytes go.
class QlByteSink {
public:
    // Takes `count` (> 0) bytes. Returns 0 to go on, or the result the decoder
    // stops with (kQlDecodeAborted when the user asked to abort).
    virtual int take(const uint8_t* data, uint32_t count) = 0;

protected:
    ~QlByteSink() = default;
};

// The engine's output window: bytes gather here and the whole window goes to
// the sink each time it holds exactly `size` bytes; whatever is left at the
// end the caller hands on with output_window_flush.
struct QlOutputWindow {
    uint8_t* data;
    uint32_t size;
    uint32_t count;
    QlByteSink* sink;
};

// Appends `n` bytes. Returns 0, or the sink's answer at the first refusal.
inline int output_window_put(QlOutputWindow* out, const uint8_t* bytes, size_t n)
{
    while (n > 0) {
        size_t room = out->size - out->count;
        size_t part = n < room ? n : room;
        memcpy(out->data + out->count, bytes, part);
        out->count += static_cast<uint32_t>(part);
        bytes += part;
        n -= part;
        if (out->count == out->size) {
            out->count = 0;
            int result = out->sink->take(out->data, out->size);
            if (result != 0)
                return result;
        }
    }
    return 0;
}

// Hands on what the window holds; an empty window reaches no sink.
inline int output_window_flush(QlOutputWindow* out)
{
    uint32_t count = out->count;
    out->count = 0;
    return count > 0 ? out->sink->take(out->data, count) : 0;
}
