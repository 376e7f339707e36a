// The JPEG method's entry driver: header, side blocks, and the scans decoded
// through the coefficient models and Huffman-encoded again.
#include "stub/engine/junzip.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "common/QlRaise.h"
#include "stub/engine/decodermemory.h"
#include "stub/engine/jzip.h"
#include "stub/engine/jzipcoder.h"
#include "stub/engine/jzipmodel.h"
#include "stub/engine/lzmadec.h"

namespace {

// Compressed bytes of the entry, one at a time.
class JpegInput {
public:
    explicit JpegInput(QlByteSource* source) : source_(source) {}

    int next()
    {
        if (position_ == fill_) {
            if (ended_)
                qlRaise(static_cast<int>(kJzipThrowEnded));
            const int32_t got = source_->fill(buffer_, sizeof buffer_);
            if (got == QlByteSource::kReadFailed)
                qlRaise(static_cast<int>(kJzipThrowInvalid));
            if (got <= 0) {
                ended_ = true;
                qlRaise(static_cast<int>(kJzipThrowEnded));
            }
            position_ = 0;
            fill_ = static_cast<uint32_t>(got);
        }
        return buffer_[position_++];
    }

    void read(uint8_t* out, uint32_t n)
    {
        while (n > 0) {
            if (position_ == fill_)
                next(), --position_;
            uint32_t part = fill_ - position_;
            if (part > n)
                part = n;
            std::memcpy(out, buffer_ + position_, part);
            position_ += part;
            out += part;
            n -= part;
        }
    }

    static int read_byte(void* self) { return static_cast<JpegInput*>(self)->next(); }

private:
    QlByteSource* source_;
    uint8_t buffer_[4096];
    uint32_t position_ = 0;
    uint32_t fill_ = 0;
    bool ended_ = false;
};

// What one scan component needs while its scan is decoded.
struct JpegComponentModel {
    JzipContext* contexts = nullptr;
    JzipRecord* rows = nullptr;
    JzipDecoder* coder = nullptr;
    JzipModel<JzipDecoder>* model = nullptr;
};

// The memory of one scan, freed however the scan ends.
struct JpegScanMemory {
    JpegComponentModel models[4];
    int16_t* band = nullptr;

    ~JpegScanMemory() { release(); }

    void release()
    {
        for (JpegComponentModel& m : models) {
            delete m.model;
            delete m.coder;
            delete[] m.rows;
            delete[] m.contexts;
            m = JpegComponentModel();
        }
        std::free(band);
        band = nullptr;
    }
};

class JpegEntryDecoder {
public:
    explicit JpegEntryDecoder(const SfxDecodeJob& job)
        : input_(job.source), file_(job.buffer, job.buffer_size, job.sink),
          parser_(side_, file_), recorded_size_(job.uncompressed_size)
    {
    }

    int Decode();

private:
    int DecodeAll();
    int ResultOf(int code) const;
    int read_side_block();
    int decode_scan(uint32_t band_exponent);
    int output_failure() const
    {
        return file_.sink_answer() == kQlDecodeAborted ? kQlDecodeAborted : kQlDecodeBadData;
    }

    JpegInput input_;
    QlMIO side_;
    QlJIO file_;
    JzipParser parser_;
    uint64_t recorded_size_;
};

int JpegEntryDecoder::read_side_block()
{
    uint8_t sizes[8];
    input_.read(sizes, 4);
    uint32_t size = sizes[0] | (sizes[1] << 8);
    uint32_t stored = sizes[2] | (sizes[3] << 8);
    if (size == 0xFFFF && stored == 0xFFFF) {
        input_.read(sizes, 8);
        size = sizes[0] | (sizes[1] << 8) | (sizes[2] << 16) | (static_cast<uint32_t>(sizes[3]) << 24);
        stored = sizes[4] | (sizes[5] << 8) | (sizes[6] << 16) | (static_cast<uint32_t>(sizes[7]) << 24);
    }
    if (size > kJpegSideBlockLimit || stored > kJpegSideBlockLimit)
        return kQlDecodeUnknownHeader;
    side_.clear();
    if (side_.grow(size) != size)
        return kQlDecodeNoMemory;
    if (stored == 0) {
        input_.read(side_.data(), size);
    } else {
        uint8_t* packed;
        {
            QlDecoderMemoryScope scope;
            packed = static_cast<uint8_t*>(std::malloc(stored));
        }
        if (packed == nullptr)
            return kQlDecodeNoMemory;
        int result = kQlDecodeInvalid;
        qlUnwinding(
            [&] {
                input_.read(packed, stored);
                // The block must come out exactly as long as stated.
                result = lzma_decode_memory(packed, stored, side_.data(), size);
            },
            [&] { std::free(packed); });
        std::free(packed);
        if (result == kQlDecodeNoMemory)
            return kQlDecodeNoMemory;
        if (result != kQlDecodeOk)
            return kQlDecodeInvalid;
    }
    return side_.reset() == 0 ? kQlDecodeOk : kQlDecodeInvalid;
}

int JpegEntryDecoder::decode_scan(uint32_t band_exponent)
{
    JzipScanLayout layout;
    jzip_scan_layout(parser_, band_exponent, &layout);
    const uint16_t* quant[4];
    for (uint32_t i = 0; i < layout.count; ++i) {
        quant[i] = parser_.quant(parser_.frame().components[parser_.scan()[i].index].quant);
        if (quant[i] == nullptr)
            qlRaise(static_cast<int>(kJzipThrowInvalid));
    }
    // Every block costs the scan's coded data at least two bits (a DC and an
    // AC code of at least one bit each): a frame of more blocks than four per
    // byte of the recorded size cannot come out of this entry. A hostile frame
    // header is refused here, before its band is taken.
    uint64_t scan_blocks = 0;
    for (uint32_t i = 0; i < layout.count; ++i)
        scan_blocks += static_cast<uint64_t>(layout.mcu_rows) * layout.c[i].v * layout.c[i].blocks_per_row;
    if (scan_blocks / 4 > recorded_size_)
        qlRaise(static_cast<int>(kJzipThrowBadData));
    // 128 bytes a block; on a 32-bit system a large frame would wrap.
    const uint64_t band_bytes = layout.band_blocks * 128;
    if (band_bytes > 0x7FFFFFFF)
        qlRaise(static_cast<int>(kJzipThrowNoMemory));

    JpegScanMemory memory;
    JpegComponentModel* models = memory.models;
    {
        QlDecoderMemoryScope scope;
        memory.band = static_cast<int16_t*>(std::malloc(static_cast<size_t>(band_bytes)));
        for (uint32_t i = 0; i < layout.count && memory.band != nullptr; ++i) {
            JpegComponentModel& m = models[i];
            m.contexts = new (std::nothrow) JzipContext[kJzipContexts];
            m.rows = new (std::nothrow) JzipRecord[2 * static_cast<size_t>(layout.c[i].blocks_per_row)];
            if (m.contexts == nullptr || m.rows == nullptr)
                break;
            m.coder = new (std::nothrow) JzipDecoder(m.contexts);
            if (m.coder == nullptr)
                break;
            m.coder->set_input(&JpegInput::read_byte, &input_);
            m.model = new (std::nothrow) JzipModel<JzipDecoder>(*m.coder, m.rows,
                                                               layout.c[i].blocks_per_row, quant[i]);
            if (m.model == nullptr)
                break;
        }
    }
    int16_t* const band = memory.band;
    bool complete = band != nullptr;
    for (uint32_t i = 0; i < layout.count; ++i)
        complete = complete && models[i].model != nullptr;

    if (!complete)
        qlRaise(static_cast<int>(kJzipThrowNoMemory));
    JzipHuffmanWriter writer(file_, parser_);
    // Without exceptions nothing unwinds this frame: the scan's memory goes
    // back here when a raise leaves the loop.
    qlUnwinding(
        [&] {
            for (uint32_t first = 0; first < layout.mcu_rows; first += layout.band_rows) {
                uint32_t rows = layout.mcu_rows - first;
                if (rows > layout.band_rows)
                    rows = layout.band_rows;
                int16_t* blocks[4];
                int16_t* next = band;
                for (uint32_t i = 0; i < layout.count; ++i) {
                    blocks[i] = next;
                    const uint32_t count = rows * layout.c[i].v * layout.c[i].blocks_per_row;
                    models[i].model->start_segment();
                    for (uint32_t b = 0; b < count; ++b) {
                        int16_t* block = next + 64 * static_cast<size_t>(b);
                        if (models[i].model->code_block(block) != kJzipBlockOk)
                            qlRaise(static_cast<int>(kJzipThrowBadData));
                    }
                    models[i].model->end_segment();
                    next += 64 * static_cast<size_t>(count);
                }
                for (uint32_t row = 0; row < rows; ++row) {
                    for (uint32_t column = 0; column < layout.mcus_per_row; ++column) {
                        writer.start_mcu();
                        for (uint32_t i = 0; i < layout.count; ++i) {
                            const uint32_t across = layout.c[i].blocks_per_row;
                            for (uint32_t v = 0; v < layout.c[i].v; ++v) {
                                for (uint32_t h = 0; h < layout.c[i].h; ++h) {
                                    const size_t at =
                                        static_cast<size_t>(row * layout.c[i].v + v) * across +
                                        column * layout.c[i].h + h;
                                    writer.put_block(i, blocks[i] + 64 * at);
                                }
                            }
                        }
                    }
                }
            }
        },
        [&] { memory.release(); });
    writer.end_scan();
    return kQlDecodeOk;
}

int JpegEntryDecoder::Decode()
{
    int result = kQlDecodeInvalid;
    qlCatch<std::bad_alloc>(
        [&] {
            qlCatch<int>([&] { result = DecodeAll(); }, [&](int code) { result = ResultOf(code); });
        },
        [&](const std::bad_alloc&) { result = kQlDecodeNoMemory; });
    return result;
}

int JpegEntryDecoder::DecodeAll()
{
    uint8_t header[kJpegHeaderLength];
    input_.read(header, sizeof header);
    if (header[0] != kJpegHeaderLength || header[2] != kJpegFormatVersion || header[3] > 31)
        return kQlDecodeUnknownHeader;
    const uint32_t band_exponent = header[3] & 31;
    if (side_.data() == nullptr)
        return kQlDecodeNoMemory;
    for (;;) {
        const int side = read_side_block();
        if (side != kQlDecodeOk)
            return side;
        if (parser_.parse() != JzipParser::kOk)
            return kQlDecodeBadData;
        if (parser_.flags() & JzipParser::kEoi) {
            parser_.copy_rest();
            break;
        }
        decode_scan(band_exponent);
    }
    if (file_.flush() != 0 || file_.hand_on() != 0)
        return output_failure();
    return kQlDecodeOk;
}

// The result of a decode that ended with a raised code.
int JpegEntryDecoder::ResultOf(int code) const
{
    switch (code) {
    case kJzipThrowNoMemory:
        return kQlDecodeNoMemory;
    case kJzipThrowShortWrite:
    case kJzipThrowBadData:
        return kQlDecodeBadData;
    case kJzipThrowEnded:
        return kQlDecodeInputEnded;
    case kJzipThrowWriteFailed:
        return output_failure() == kQlDecodeAborted ? kQlDecodeAborted : kQlDecodeBadData;
    default:
        return kQlDecodeInvalid;
    }
}

}  // namespace

int jpeg_decode_entry(const SfxDecodeJob& job)
{
    JpegEntryDecoder decoder(job);
    return decoder.Decode();
}
