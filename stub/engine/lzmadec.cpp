#include "stub/engine/lzmadec.h"

#include <cstdlib>
#include <cstring>

#include "common/QlHooks.h"
#include "stub/engine/decodermemory.h"
#include "stub/engine/lzmasdk.h"

namespace {

const char kSource[] = "lzmadec";
enum : int {
    kLineNoBuffer = 61,  // an entry handed over without its decode buffer
};

enum : uint32_t {
    kInputSize = 0x7000,    // the engine's input blocks
    kHeaderSize = 4,        // u16 SDK version, u16 properties size
    kEntryBitEndMarker = 0x0002,
    kMemoryDictionaryMax = 0x80000,
    kDictionaryMin = 1 << 12,  // the SDK's own floor
};

void* sdk_alloc(void*, size_t size)
{
    return std::malloc(size);
}
void sdk_free(void*, void* block)
{
    std::free(block);
}
ISzAlloc g_alloc = {sdk_alloc, sdk_free};

uint32_t read_le32(const uint8_t* p)
{
    return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void write_le32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The entry's compressed bytes: the engine's source read in its own blocks.
struct EntryInput {
    QlByteSource* source;
    const uint8_t* next;
    const uint8_t* end;
    bool ended;    // the source has given everything (or failed)
    bool failed;
    uint8_t data[kInputSize];

    // Makes bytes available when none are; false when the input is over.
    bool refill()
    {
        if (next != end)
            return true;
        if (ended)
            return false;
        const int32_t n = source->fill(data, sizeof data);
        if (n <= 0 || static_cast<uint32_t>(n) > sizeof data) {
            ended = true;
            failed = n != 0;
            return false;
        }
        next = data;
        end = data + n;
        return true;
    }

    // Exactly `count` bytes of the entry header; false when fewer are left.
    bool read(uint8_t* out, size_t count)
    {
        while (count > 0) {
            if (!refill())
                return false;
            size_t part = static_cast<size_t>(end - next);
            part = part < count ? part : count;
            std::memcpy(out, next, part);
            next += part;
            out += part;
            count -= part;
        }
        return true;
    }
};

// The decoder state and its input block live on the heap: the stub's stack is
// the default 1 MiB and the input block alone is 28 KiB.
struct EntryDecoder {
    CLzmaDec lzma;
    EntryInput input;
};

// A legitimate stream never reaches back further than the bytes it has
// produced, and the engine refuses every byte past the recorded size, also
// for an entry that ends at its end marker: a dictionary larger than the
// recorded size only costs memory (7-Zip's levels name up to 64 MiB, also
// for tiny files; a hostile header names 4 GiB).
void fit_dictionary(uint8_t properties[5], uint64_t uncompressed_size)
{
    const uint64_t least = kDictionaryMin;
    const uint64_t need = uncompressed_size > least ? uncompressed_size : least;
    if (read_le32(properties + 1) > need)
        write_le32(properties + 1, static_cast<uint32_t>(need));
}

int sdk_result(SRes result)
{
    switch (result) {
    case SZ_OK: return kQlDecodeOk;
    case SZ_ERROR_MEM: return kQlDecodeNoMemory;
    default: return kQlDecodeInvalid;
    }
}

// Decodes the stream after the entry header. With `end_marker` it runs until
// the marker; otherwise until `left` bytes are out (or an earlier marker, which
// the engine's size check then reports).
int decode_stream(EntryDecoder* d, bool end_marker, uint64_t left, QlOutputWindow* out)
{
    CLzmaDec* lzma = &d->lzma;
    LzmaDec_Init(lzma);
    for (;;) {
        if (!end_marker && left == 0)
            return kQlDecodeOk;
        d->input.refill();
        if (d->input.failed)
            return kQlDecodeInvalid;

        if (lzma->dicPos == lzma->dicBufSize)
            lzma->dicPos = 0;
        const SizeT start = lzma->dicPos;
        SizeT limit = lzma->dicBufSize;
        if (!end_marker && left < limit - start)
            limit = start + static_cast<SizeT>(left);

        SizeT in_count = static_cast<SizeT>(d->input.end - d->input.next);
        ELzmaStatus status;
        const SRes result =
            LzmaDec_DecodeToDic(lzma, limit, d->input.next, &in_count, LZMA_FINISH_ANY, &status);
        d->input.next += in_count;

        const SizeT produced = lzma->dicPos - start;
        if (produced > 0) {
            left -= produced < left ? produced : left;
            const int answer = output_window_put(out, lzma->dic + start, produced);
            if (answer != 0)
                return answer;
        }
        if (result != SZ_OK)
            return kQlDecodeInvalid;
        if (status == LZMA_STATUS_FINISHED_WITH_MARK || (!end_marker && left == 0))
            return kQlDecodeOk;
        // Everything taken, nothing more to come and nothing pending: the
        // stream was cut short.
        if (status == LZMA_STATUS_NEEDS_MORE_INPUT && d->input.ended && produced == 0)
            return kQlDecodeInvalid;
    }
}

}  // namespace

int lzma_decode_entry(const SfxDecodeJob& job)
{
    if (!qlCheck(job.source != nullptr && job.sink != nullptr && job.buffer != nullptr &&
                     job.buffer_size > 0,
                 kSource, kLineNoBuffer))
        return kQlDecodeInvalid;

    QlDecoderMemoryScope memory;
    EntryDecoder* d = static_cast<EntryDecoder*>(std::malloc(sizeof(EntryDecoder)));
    if (d == nullptr)
        return kQlDecodeNoMemory;
    LzmaDec_Construct(&d->lzma);
    d->input.source = job.source;
    d->input.next = d->input.end = d->input.data;
    d->input.ended = d->input.failed = false;

    int result;
    uint8_t header[kHeaderSize];
    uint8_t properties[LZMA_PROPS_SIZE];
    if (!d->input.read(header, sizeof header)) {
        result = kQlDecodeInvalid;
    } else if ((header[2] | (header[3] << 8)) != LZMA_PROPS_SIZE) {
        result = kQlDecodeUnknownHeader;
    } else if (!d->input.read(properties, sizeof properties)) {
        result = kQlDecodeInvalid;
    } else {
        const bool end_marker = (job.flags & kEntryBitEndMarker) != 0;
        fit_dictionary(properties, job.uncompressed_size);
        result = sdk_result(LzmaDec_Allocate(&d->lzma, properties, LZMA_PROPS_SIZE, &g_alloc));
        if (result == kQlDecodeOk) {
            QlOutputWindow out = {job.buffer, job.buffer_size, 0, job.sink};
            result = decode_stream(d, end_marker, job.uncompressed_size, &out);
            if (result == kQlDecodeOk)
                result = output_window_flush(&out);
        }
    }
    LzmaDec_Free(&d->lzma, &g_alloc);
    std::free(d);
    return result;
}

void lzma_memory_properties(size_t out_size, uint8_t properties[5])
{
    uint64_t dictionary = (static_cast<uint64_t>(out_size) + 511) & ~uint64_t(511);
    if (dictionary < 1024)
        dictionary = 1024;
    if (dictionary > kMemoryDictionaryMax)
        dictionary = kMemoryDictionaryMax;
    properties[0] = (2 * 5 + 0) * 9 + 3;  // (pb * 5 + lp) * 9 + lc
    write_le32(properties + 1, static_cast<uint32_t>(dictionary));
}

int lzma_decode_memory(const uint8_t properties[5], const uint8_t* in, size_t in_size, uint8_t* out,
                       size_t out_size)
{
    // The output buffer is the dictionary: no copy, no window of its own.
    // LZMA_FINISH_END: at `out_size` the stream must end (with its marker or
    // cleanly without one); a stream that goes on is longer than the block.
    QlDecoderMemoryScope memory;
    SizeT produced = out_size;
    SizeT consumed = in_size;
    ELzmaStatus status;
    const SRes result = LzmaDecode(out, &produced, in, &consumed, properties, LZMA_PROPS_SIZE,
                                   LZMA_FINISH_END, &status, &g_alloc);
    switch (result) {
    case SZ_OK:
        break;
    case SZ_ERROR_MEM: return kQlDecodeNoMemory;
    case SZ_ERROR_UNSUPPORTED: return kQlDecodeUnknownHeader;
    default: return kQlDecodeBadData;
    }
    const bool ended =
        status == LZMA_STATUS_FINISHED_WITH_MARK || status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK;
    return ended && produced == out_size ? kQlDecodeOk : kQlDecodeBadData;
}

int lzma_decode_memory(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size)
{
    uint8_t properties[LZMA_PROPS_SIZE];
    lzma_memory_properties(out_size, properties);
    return lzma_decode_memory(properties, in, in_size, out, out_size);
}
