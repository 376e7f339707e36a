#include "stub/engine/wunpack.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include <wavpack/wavpack.h>

#include "common/QlHooks.h"
#include "stub/engine/decodermemory.h"

namespace {

const char kSource[] = "wunpack";
enum : int {
    kLineSeekAbsolute = 79,   // the library tried to seek a stream that cannot
    kLineSeekRelative = 89,
    kLineNoBuffer = 120,      // an entry handed over without its decode buffer
    kLineOverfill = 130,      // the source stored more than it was asked for
    kLineSampleCount = 348,   // the library returned more samples than asked for
};

enum : uint32_t {
    kOpenWrapper = OPEN_WRAPPER,  // keep the original file's header and trailer
    // Samples (of all channels) per unpack call: 1 MiB of 32-bit samples,
    // whatever the channel count (up to 4096 channels, which would otherwise
    // ask for 2 GiB).
    kBufferSamples = 0x40000,
};

// Kinds of stream whose samples the library hands back in another layout
// than the original file's: restoring them would need conversions the glue
// does not do, so they are refused rather than written wrongly.
const int kUnsupportedQualify = QMODE_BIG_ENDIAN | QMODE_SIGNED_BYTES | QMODE_UNSIGNED_WORDS |
                                QMODE_REORDERED_CHANS | QMODE_DSD_AUDIO | QMODE_DSD_IN_BLOCKS;

WavPackEntryReader* reader_of(void* id)
{
    return static_cast<WavPackEntryReader*>(id);
}

int32_t read_bytes(void* id, void* data, int32_t count)
{
    return reader_of(id)->read(static_cast<uint8_t*>(data), count);
}
uint32_t get_pos(void* id)
{
    return reader_of(id)->position();
}
int set_pos_abs(void*, uint32_t)
{
    qlHostAssert(kSource, kLineSeekAbsolute);
    return -1;
}
int set_pos_rel(void*, int32_t, int)
{
    qlHostAssert(kSource, kLineSeekRelative);
    return -1;
}
int push_back_byte(void* id, int c)
{
    return reader_of(id)->push_back(c);
}
uint32_t get_length(void* id)
{
    return reader_of(id)->length();
}
int can_seek(void*)
{
    return 0;
}

WavpackStreamReader g_reader = {read_bytes, get_pos, set_pos_abs, set_pos_rel,
                                push_back_byte, get_length, can_seek, nullptr};

// Turns `count` 32-bit samples into `width`-byte little-endian samples in
// the same memory (each sample's bytes land at or before its own slot, so
// nothing unread is overwritten). 8-bit samples are unsigned in the file.
void pack_samples(int32_t* samples, uint32_t count, int width)
{
    uint8_t* out = reinterpret_cast<uint8_t*>(samples);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = static_cast<uint32_t>(samples[i]);
        if (width == 1)
            v += 128;
        for (int b = 0; b < width; ++b)
            *out++ = static_cast<uint8_t>(v >> (8 * b));
    }
}

// The wrapper bytes the library holds now (the header after opening, the
// trailer after the last block), handed on and freed.
int put_wrapper(WavpackContext* wpc, QlOutputWindow* out)
{
    const uint32_t size = WavpackGetWrapperBytes(wpc);
    const int answer = size > 0 ? output_window_put(out, WavpackGetWrapperData(wpc), size) : 0;
    WavpackFreeWrapper(wpc);
    return answer;
}

struct Stream {
    WavpackContext* wpc = nullptr;
    int32_t* samples = nullptr;
    ~Stream()
    {
        std::free(samples);
        if (wpc != nullptr)
            WavpackCloseFile(wpc);
    }
};

int decode(const SfxDecodeJob& job, WavPackEntryReader* reader)
{
    Stream stream;
    char error[2048] = "";
    stream.wpc = WavpackOpenFileInputEx(&g_reader, reader, nullptr, error, kOpenWrapper, 0);
    if (stream.wpc == nullptr)
        return kQlDecodeInvalid;
    WavpackContext* wpc = stream.wpc;

    const int channels = WavpackGetNumChannels(wpc);
    const int width = WavpackGetBytesPerSample(wpc);
    if ((WavpackGetQualifyMode(wpc) & kUnsupportedQualify) != 0 ||
        WavpackGetFileFormat(wpc) != WP_FORMAT_WAV || channels < 1 ||
        static_cast<uint32_t>(channels) > kBufferSamples || width < 1 || width > 4)
        return kQlDecodeBadData;

    const uint32_t frames = kBufferSamples / static_cast<uint32_t>(channels);
    stream.samples = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * frames * channels));
    if (stream.samples == nullptr)
        return kQlDecodeNoMemory;

    QlOutputWindow out = {job.buffer, job.buffer_size, 0, job.sink};
    const uint64_t header_bytes = WavpackGetWrapperBytes(wpc);
    int answer = put_wrapper(wpc, &out);
    if (answer != 0)
        return answer;

    int64_t unpacked = 0;
    for (;;) {
        const uint32_t got = WavpackUnpackSamples(wpc, stream.samples, frames);
        if (got == 0)
            break;
        if (!qlCheck(got <= frames, kSource, kLineSampleCount))
            return kQlDecodeBadData;
        unpacked += got;
        const uint32_t count = got * static_cast<uint32_t>(channels);
        pack_samples(stream.samples, count, width);
        answer = output_window_put(&out, reinterpret_cast<uint8_t*>(stream.samples),
                                   static_cast<size_t>(count) * width);
        if (answer != 0)
            return answer;
    }
    if (reader->failed())
        return kQlDecodeInvalid;
    // Damaged or missing blocks come out as silence: refuse them here rather
    // than write a file of the right size with wrong samples.
    const int64_t recorded = WavpackGetNumSamples64(wpc);
    if (WavpackGetNumErrors(wpc) != 0 || (recorded >= 0 && recorded != unpacked))
        return kQlDecodeBadData;

    // RIFF pads an odd data chunk to an even length. The encoder keeps the
    // pad byte out of the trailer (older ones kept it in), so it is written
    // here when the recorded size says the original file had it.
    const uint64_t data_bytes = static_cast<uint64_t>(unpacked) * channels * width;
    if (data_bytes % 2 != 0 &&
        header_bytes + data_bytes + WavpackGetWrapperBytes(wpc) + 1 == job.uncompressed_size) {
        const uint8_t pad = 0;
        answer = output_window_put(&out, &pad, 1);
        if (answer != 0)
            return answer;
    }
    answer = put_wrapper(wpc, &out);
    return answer != 0 ? answer : output_window_flush(&out);
}

}  // namespace

int32_t WavPackEntryReader::read(uint8_t* data, int32_t count)
{
    int32_t done = 0;
    if (count > 0 && held_) {
        *data = held_byte_;
        held_ = false;
        done = 1;
    }
    while (done < count) {
        if (next_ < end_) {
            uint32_t part = end_ - next_;
            if (part > static_cast<uint32_t>(count - done))
                part = static_cast<uint32_t>(count - done);
            std::memcpy(data + done, block_ + next_, part);
            next_ += part;
            done += static_cast<int32_t>(part);
            continue;
        }
        if (ended_)
            break;
        // Large reads go straight to the library's buffer.
        const uint32_t want = static_cast<uint32_t>(count - done);
        uint8_t* target = want >= sizeof block_ ? data + done : block_;
        const uint32_t room = want >= sizeof block_ ? want : sizeof block_;
        const int32_t n = source_->fill(target, room);
        if (n <= 0 || !qlCheck(static_cast<uint32_t>(n) <= room, kSource, kLineOverfill)) {
            ended_ = true;
            failed_ = n != 0;
            break;
        }
        if (target == block_) {
            next_ = 0;
            end_ = static_cast<uint32_t>(n);
        } else {
            done += n;
        }
    }
    position_ += static_cast<uint32_t>(done);
    return done;
}

int WavPackEntryReader::push_back(int c)
{
    if (held_ || position_ == 0)
        return -1;
    held_ = true;
    held_byte_ = static_cast<uint8_t>(c);
    --position_;
    return c;
}

int wavpack_decode_entry(const SfxDecodeJob& job)
{
    if (!qlCheck(job.source != nullptr && job.sink != nullptr && job.buffer != nullptr &&
                     job.buffer_size > 0,
                 kSource, kLineNoBuffer))
        return kQlDecodeInvalid;
    QlDecoderMemoryScope memory;
    WavPackEntryReader* reader = new (std::nothrow) WavPackEntryReader(job.source, job.compressed_size);
    if (reader == nullptr)
        return kQlDecodeNoMemory;
    const int result = decode(job, reader);
    delete reader;
    return result;
}
