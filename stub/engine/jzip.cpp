// The JPEG method's byte and bit I/O, marker parser and Huffman re-encoder.
#include "stub/engine/jzip.h"

#include <cstdlib>
#include <cstring>

#include "common/QlRaise.h"
#include "stub/engine/decodermemory.h"
#include "stub/engine/jziptables.h"

// --- QlBIO

int QlBIO::read_byte()
{
    if (position_ == fill_) {
        passed_ += fill_;
        position_ = 0;
        fill_ = 0;
        const int32_t got = Read(buffer_, sizeof buffer_);
        if (got < -1)
            return -2;
        if (got <= 0)
            return -1;
        fill_ = static_cast<uint32_t>(got);
    }
    return buffer_[position_++];
}

int QlBIO::put_byte(uint8_t byte)
{
    if (position_ == sizeof buffer_) {
        const int result = flush();
        if (result != 0)
            return result;
    }
    buffer_[position_++] = byte;
    return 0;
}

int QlBIO::put_bits(uint32_t value, int n)
{
    bits_ = (bits_ << n) | (value & ((1u << n) - 1));
    bit_count_ += n;
    while (bit_count_ >= 8) {
        bit_count_ -= 8;
        const uint8_t byte = static_cast<uint8_t>(bits_ >> bit_count_);
        int result = put_byte(byte);
        if (result == 0 && byte == 0xFF)
            result = put_byte(0);
        if (result != 0)
            return result;
    }
    return 0;
}

int QlBIO::align()
{
    int result = 0;
    if (mode_ == kWrite) {
        if (bit_count_ > 0)
            result = put_bits(0xFF, 8 - bit_count_);
    } else if (bit_count_ > 0 && (bits_ & ((1u << bit_count_) - 1)) != ((1u << bit_count_) - 1)) {
        result = -5;
    }
    bits_ = 0;
    bit_count_ = 0;
    return result;
}

int QlBIO::flush()
{
    if (mode_ != kWrite || position_ == 0)
        return 0;
    const int32_t n = static_cast<int32_t>(position_);
    passed_ += position_;
    position_ = 0;
    const int32_t written = Write(buffer_, n);
    if (written < 0)
        return -6;
    return written < n ? -3 : 0;
}

int QlBIO::reset()
{
    const int result = flush();
    if (result != 0)
        return result;
    if (Rewind() != 0)
        return -4;
    passed_ = 0;
    bits_ = 0;
    bit_count_ = 0;
    position_ = 0;
    fill_ = 0;
    return 0;
}

// --- QlMIO

QlMIO::QlMIO(uint32_t capacity) : QlBIO(kRead)
{
    QlDecoderMemoryScope scope;
    data_ = static_cast<uint8_t*>(std::malloc(capacity));
    capacity_ = data_ != nullptr ? capacity : 0;
}

QlMIO::~QlMIO()
{
    std::free(data_);
}

uint32_t QlMIO::grow(uint32_t size)
{
    if (size > capacity_) {
        uint64_t capacity = static_cast<uint64_t>(capacity_) + capacity_ / 2;
        if (capacity < size)
            capacity = size;
        capacity = (capacity + 1023) & ~uint64_t{1023};
        if (capacity > 0xFFFFFC00u)
            return size_;
        QlDecoderMemoryScope scope;
        uint8_t* bigger = static_cast<uint8_t*>(std::realloc(data_, static_cast<size_t>(capacity)));
        if (bigger == nullptr)
            return size_;
        data_ = bigger;
        capacity_ = static_cast<uint32_t>(capacity);
    }
    size_ = size;
    return size_;
}

int32_t QlMIO::Read(uint8_t* data, int32_t n)
{
    if (n <= 0)
        return n;
    if (position_ >= size_)
        return -1;
    uint32_t part = size_ - position_;
    if (part > static_cast<uint32_t>(n))
        part = static_cast<uint32_t>(n);
    std::memcpy(data, data_ + position_, part);
    position_ += part;
    return static_cast<int32_t>(part);
}

int32_t QlMIO::Write(const uint8_t* data, int32_t n)
{
    if (n <= 0)
        return n;
    const uint64_t end = static_cast<uint64_t>(position_) + static_cast<uint32_t>(n);
    if (end > 0xFFFFFFFFu)
        return -1;
    const uint32_t old_size = size_;
    if (end > size_ && grow(static_cast<uint32_t>(end)) != end)
        return -1;
    if (size_ < old_size)
        size_ = old_size;
    std::memcpy(data_ + position_, data, static_cast<size_t>(n));
    position_ = static_cast<uint32_t>(end);
    return n;
}

int QlMIO::Rewind()
{
    position_ = 0;
    return 0;
}

// --- QlJIO

QlJIO::QlJIO(uint8_t* buffer, uint32_t buffer_size, QlByteSink* sink)
    : QlBIO(kWrite), buffer_(buffer), run_(buffer_size < 0x80000 ? buffer_size : 0x80000), sink_(sink)
{
}

int QlJIO::hand_on()
{
    if (held_ == 0 || sink_answer_ != 0)
        return sink_answer_;
    const uint32_t n = held_;
    held_ = 0;
    sink_answer_ = sink_->take(buffer_, n);
    return sink_answer_;
}

int32_t QlJIO::Write(const uint8_t* data, int32_t n)
{
    if (n <= 0)
        return n;
    // Pieces of at most a run, so that no write passes the buffer's end.
    uint32_t left = static_cast<uint32_t>(n);
    while (left > 0) {
        const uint32_t part = left < run_ ? left : run_;
        if (held_ + part > run_ && hand_on() != 0)
            return -3;
        if (sink_answer_ != 0)
            return -3;
        std::memcpy(buffer_ + held_, data, part);
        held_ += part;
        data += part;
        left -= part;
    }
    return n;
}

// --- the marker parser

void jzip_check_put(int result)
{
    if (result == -6)
        qlRaise(static_cast<int>(kJzipThrowWriteFailed));
    if (result != 0)
        qlRaise(static_cast<int>(kJzipThrowShortWrite));
}

int JzipParser::next()
{
    const int c = in_.read_byte();
    if (c < 0)
        qlRaise(static_cast<int>(kJzipThrowEnded));
    jzip_check_put(out_.put_byte(static_cast<uint8_t>(c)));
    return c;
}

uint32_t JzipParser::next16()
{
    const uint32_t high = static_cast<uint32_t>(next());
    return (high << 8) | static_cast<uint32_t>(next());
}

void JzipParser::copy_rest()
{
    for (int c = in_.read_byte(); c >= 0; c = in_.read_byte())
        jzip_check_put(out_.put_byte(static_cast<uint8_t>(c)));
}

int JzipParser::parse()
{
    flags_ &= ~static_cast<uint32_t>(kSos);
    for (;;) {
        int c = in_.read_byte();
        if (c < 0) {
            // The side block ended where a marker was awaited.
            flags_ |= kEoi;
            return kOk;
        }
        jzip_check_put(out_.put_byte(static_cast<uint8_t>(c)));
        if (c != 0xFF)
            continue;
        do {
            c = next();
        } while (c == 0xFF);
        if (c == 0x00)
            continue;
        if (c < 0xC0)
            return kUnsupported;
        const int result = segment(c);
        if (result != kOk)
            return result;
        if (flags_ & (kSos | kEoi))
            return kOk;
    }
}

int JzipParser::segment(int marker)
{
    if (marker >= 0xD0 && marker <= 0xD7)
        return kBadSegment;
    if (marker == 0xD8) {
        flags_ |= kSoi;
        return kOk;
    }
    if (marker == 0xD9) {
        flags_ |= kEoi;
        return kOk;
    }
    const uint32_t length = next16();
    if (length < 2)
        return kBadSegment;
    uint32_t left = length - 2;
    switch (marker) {
    case 0xC0:
    case 0xC1: {
        if (left < 6)
            return kBadSegment;
        const uint32_t precision = static_cast<uint32_t>(next());
        const uint32_t height = next16();
        const uint32_t width = next16();
        const uint32_t count = static_cast<uint32_t>(next());
        left -= 6;
        if ((precision != 8 && precision != 12) || height == 0 || width == 0 || count < 1 || count > 4)
            return kUnsupported;
        if (length != 8 + 3 * count)
            return kBadSegment;
        frame_.precision = precision;
        frame_.height = height;
        frame_.width = width;
        frame_.count = count;
        for (uint32_t i = 0; i < count; ++i) {
            JzipComponent& k = frame_.components[i];
            k.id = static_cast<uint8_t>(next());
            const int hv = next();
            k.h = static_cast<uint8_t>(hv >> 4);
            k.v = static_cast<uint8_t>(hv & 15);
            k.quant = static_cast<uint8_t>(next() & 3);
            if (k.h < 1 || k.h > 4 || k.v < 1 || k.v > 4)
                return kBadSegment;
        }
        sequential_ = true;
        flags_ |= kSof;
        return kOk;
    }
    case 0xC4:
        while (left > 0) {
            if (left < 17)
                return kBadSegment;
            const int tc = next();
            JzipHuffman& table = huffman_[((tc >> 4) & 1) * 4 + (tc & 3)];
            uint8_t counts[16];
            uint32_t total = 0;
            for (int i = 0; i < 16; ++i) {
                counts[i] = static_cast<uint8_t>(next());
                total += counts[i];
            }
            left -= 17;
            if (total > 256 || total > left)
                return kBadSegment;
            left -= total;
            // Built on every definition: a later scan may redefine a slot.
            std::memset(&table, 0, sizeof table);
            uint32_t code = 0;
            for (int bits = 1; bits <= 16; ++bits) {
                for (int i = 0; i < counts[bits - 1]; ++i) {
                    const int symbol = next();
                    table.code[symbol] = static_cast<uint16_t>(code);
                    table.length[symbol] = static_cast<uint8_t>(bits);
                    ++code;
                }
                code <<= 1;
            }
        }
        flags_ |= kDht;
        return kOk;
    case 0xDA: {
        if (left < 1 || !sequential_)
            return kBadSegment;
        const uint32_t count = static_cast<uint32_t>(next());
        if (count < 1 || count > frame_.count || length != 6 + 2 * count)
            return kBadSegment;
        for (uint32_t i = 0; i < count; ++i) {
            const int id = next();
            const int tables = next();
            uint32_t index = 0;
            while (index < frame_.count && frame_.components[index].id != id)
                ++index;
            if (index == frame_.count)
                return kBadSegment;
            scan_[i].index = static_cast<uint8_t>(index);
            scan_[i].dc_table = static_cast<uint8_t>((tables >> 4) & 3);
            scan_[i].ac_table = static_cast<uint8_t>(4 + (tables & 3));
        }
        // Ss, Se, Ah/Al: a sequential frame codes the whole band 0-63.
        next();
        next();
        next();
        scan_count_ = count;
        flags_ |= kSos;
        return kOk;
    }
    case 0xDB:
        while (left > 0) {
            const int pq = next();
            --left;
            const bool wide = (pq >> 4) != 0;
            const uint32_t need = wide ? 128 : 64;
            if (left < need)
                return kBadSegment;
            left -= need;
            uint16_t* q = quant_[pq & 3];
            for (int i = 0; i < 64; ++i) {
                uint32_t value = static_cast<uint32_t>(next());
                if (wide)
                    value = (value << 8) | static_cast<uint32_t>(next());
                q[i] = static_cast<uint16_t>(value == 0 ? 1 : value);
            }
            quant_defined_ |= 1u << (pq & 3);
        }
        flags_ |= kDqt;
        return kOk;
    case 0xDD:
        if (length != 4)
            return kBadSegment;
        restart_interval_ = next16();
        flags_ |= kDri;
        return kOk;
    default:
        while (left-- > 0)
            next();
        // APPn and COM are copied; any other frame or table (progressive,
        // arithmetic-coded, lossless, hierarchical) is not this method's input.
        return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE ? kOk : kUnsupported;
    }
}

// --- the Huffman re-encoder

JzipHuffmanWriter::JzipHuffmanWriter(QlBIO& out, const JzipParser& parser)
    : out_(out), parser_(parser)
{
}

void JzipHuffmanWriter::put_symbol(const JzipHuffman& table, int symbol)
{
    if (table.length[symbol] == 0)
        qlRaise(static_cast<int>(kJzipThrowInvalid));
    jzip_check_put(out_.put_bits(table.code[symbol], table.length[symbol]));
}

void JzipHuffmanWriter::start_mcu()
{
    const uint32_t interval = parser_.restart_interval();
    if (interval != 0 && mcu_ != 0 && mcu_ % interval == 0) {
        jzip_check_put(out_.align());
        jzip_check_put(out_.put_byte(0xFF));
        jzip_check_put(out_.put_byte(static_cast<uint8_t>(0xD0 + marker_)));
        marker_ = (marker_ + 1) & 7;
        for (int32_t& dc : dc_)
            dc = 0;
    }
    ++mcu_;
}

void JzipHuffmanWriter::put_block(uint32_t i, const int16_t* block)
{
    const JzipScanComponent& sc = parser_.scan()[i];
    const JzipHuffman& dc_table = parser_.huffman(sc.dc_table);
    const JzipHuffman& ac_table = parser_.huffman(sc.ac_table);

    const int32_t diff = block[0] - dc_[i];
    dc_[i] = block[0];
    int size = jzip_bit_length(static_cast<uint32_t>(diff < 0 ? -diff : diff));
    if (size > 16)
        qlRaise(static_cast<int>(kJzipThrowInvalid));
    put_symbol(dc_table, size);
    if (size > 0)
        jzip_check_put(out_.put_bits(static_cast<uint32_t>(diff < 0 ? diff - 1 : diff), size));

    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int32_t c = block[k];
        if (c == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            put_symbol(ac_table, 0xF0);
            run -= 16;
        }
        size = jzip_bit_length(static_cast<uint32_t>(c < 0 ? -c : c));
        if (size > 15)
            qlRaise(static_cast<int>(kJzipThrowInvalid));
        put_symbol(ac_table, (run << 4) | size);
        jzip_check_put(out_.put_bits(static_cast<uint32_t>(c < 0 ? c - 1 : c), size));
        run = 0;
    }
    if (run > 0)
        put_symbol(ac_table, 0x00);
}

void JzipHuffmanWriter::end_scan()
{
    jzip_check_put(out_.align());
}

// --- scan geometry

void jzip_scan_layout(const JzipParser& parser, uint32_t band_exponent, JzipScanLayout* layout)
{
    const JzipFrame& frame = parser.frame();
    // The sampling maxima are the frame's: a scan of some components keeps
    // their place in the image.
    uint32_t hmax = 1;
    uint32_t vmax = 1;
    for (uint32_t i = 0; i < frame.count; ++i) {
        if (frame.components[i].h > hmax)
            hmax = frame.components[i].h;
        if (frame.components[i].v > vmax)
            vmax = frame.components[i].v;
    }
    layout->count = parser.scan_count();
    if (layout->count == 1) {
        const JzipComponent& k = frame.components[parser.scan()[0].index];
        const uint32_t w = (frame.width * k.h + hmax - 1) / hmax;
        const uint32_t h = (frame.height * k.v + vmax - 1) / vmax;
        layout->mcus_per_row = (w + 7) / 8;
        layout->mcu_rows = (h + 7) / 8;
        layout->c[0].blocks_per_row = layout->mcus_per_row;
        layout->c[0].h = 1;
        layout->c[0].v = 1;
    } else {
        layout->mcus_per_row = ((frame.width + 7) / 8 + hmax - 1) / hmax;
        layout->mcu_rows = ((frame.height + 7) / 8 + vmax - 1) / vmax;
        for (uint32_t i = 0; i < layout->count; ++i) {
            const JzipComponent& k = frame.components[parser.scan()[i].index];
            layout->c[i].blocks_per_row = layout->mcus_per_row * k.h;
            layout->c[i].h = k.h;
            layout->c[i].v = k.v;
        }
    }
    layout->band_rows = layout->mcu_rows;
    if (band_exponent != 0) {
        // 2^(k + 6) with k up to 31: 64-bit.
        const uint64_t mcus = uint64_t{1} << (band_exponent + 6);
        uint64_t across = mcus / layout->mcus_per_row;
        if (across < 1)
            across = 1;
        const uint64_t bands = (layout->mcu_rows + across - 1) / across;
        layout->band_rows = static_cast<uint32_t>((layout->mcu_rows + bands - 1) / bands);
    }
    layout->band_blocks = 0;
    for (uint32_t i = 0; i < layout->count; ++i)
        layout->band_blocks += static_cast<uint64_t>(layout->band_rows) * layout->c[i].v *
                               layout->c[i].blocks_per_row;
}
