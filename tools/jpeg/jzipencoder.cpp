// The JPEG method's test encoder.
#include "tools/jpeg/jzipencoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include "stub/engine/jzip.h"
#include "stub/engine/jzipmodel.h"
#include "stub/engine/lzmadec.h"

extern "C" {
#include <LzmaEnc.h>
}

namespace {

// A write-mode QlBIO that drops what it gets: the parser echoes every byte.
class NullIO : public QlBIO {
public:
    NullIO() : QlBIO(kWrite) {}
    int32_t Read(uint8_t*, int32_t) override { return -1; }
    int32_t Write(const uint8_t*, int32_t n) override { return n; }
    int Rewind() override { return 0; }
};

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void on_jpeg_error(j_common_ptr info)
{
    ErrorManager* e = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, e->message);
    std::longjmp(e->jump, 1);
}

// The file's quantised coefficients, through libjpeg.
class Coefficients {
public:
    ~Coefficients()
    {
        if (open_)
            jpeg_destroy_decompress(&info_);
    }

    bool read(const std::vector<uint8_t>& jpeg, std::string* error)
    {
        info_.err = jpeg_std_error(&errors_.base);
        errors_.base.error_exit = on_jpeg_error;
        if (setjmp(errors_.jump)) {
            *error = std::string("libjpeg: ") + errors_.message;
            return false;
        }
        jpeg_create_decompress(&info_);
        open_ = true;
        jpeg_mem_src(&info_, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
        jpeg_read_header(&info_, TRUE);
        arrays_ = jpeg_read_coefficients(&info_);
        return arrays_ != nullptr;
    }

    // The block at (row, column) of frame component `c`, in zigzag order.
    bool block(int c, uint32_t row, uint32_t column, int16_t out[64], std::string* error)
    {
        if (setjmp(errors_.jump)) {
            *error = std::string("libjpeg: ") + errors_.message;
            return false;
        }
        JBLOCKARRAY rows = (*info_.mem->access_virt_barray)(
            reinterpret_cast<j_common_ptr>(&info_), arrays_[c], row, 1, FALSE);
        const JCOEF* b = rows[0][column];
        for (int p = 0; p < 64; ++p)
            out[p] = b[kJzipNatural[p]];
        return true;
    }

private:
    jpeg_decompress_struct info_ = {};
    ErrorManager errors_ = {};
    jvirt_barray_ptr* arrays_ = nullptr;
    bool open_ = false;
};

void put_le(std::vector<uint8_t>* out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void* lzma_alloc(void*, size_t size) { return std::malloc(size); }
void lzma_free(void*, void* address) { std::free(address); }

void put_side_block(const uint8_t* data, size_t size, bool compress, std::vector<uint8_t>* entry)
{
    std::vector<uint8_t> packed;
    if (compress && size > 0) {
        CLzmaEncProps props;
        LzmaEncProps_Init(&props);
        uint8_t wanted[5];
        lzma_memory_properties(size, wanted);
        props.level = 9;
        props.lc = 3;
        props.lp = 0;
        props.pb = 2;
        props.dictSize = wanted[1] | (wanted[2] << 8) | (wanted[3] << 16) | (static_cast<uint32_t>(wanted[4]) << 24);
        packed.resize(size + size / 2 + 1024);
        SizeT packed_size = packed.size();
        uint8_t written[LZMA_PROPS_SIZE];
        SizeT written_size = sizeof written;
        ISzAlloc alloc = {lzma_alloc, lzma_free};
        if (LzmaEncode(packed.data(), &packed_size, data, size, &props, written, &written_size, 0,
                       nullptr, &alloc, &alloc) == SZ_OK && packed_size < size)
            packed.resize(packed_size);
        else
            packed.clear();
    }
    const uint32_t stored = static_cast<uint32_t>(packed.size());
    if (size >= 0xFFFF || stored >= 0xFFFF) {
        put_le(entry, 0xFFFFFFFF, 4);
        put_le(entry, static_cast<uint32_t>(size), 4);
        put_le(entry, stored, 4);
    } else {
        put_le(entry, static_cast<uint32_t>(size), 2);
        put_le(entry, stored, 2);
    }
    if (stored == 0)
        entry->insert(entry->end(), data, data + size);
    else
        entry->insert(entry->end(), packed.begin(), packed.end());
}

// Where the entropy-coded data that starts at `at` ends: at the first marker
// other than a restart marker.
size_t scan_end(const std::vector<uint8_t>& jpeg, size_t at)
{
    for (size_t i = at; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] != 0x00 && (jpeg[i + 1] < 0xD0 || jpeg[i + 1] > 0xD7))
            return i;
    }
    return jpeg.size();
}

bool encode_scan(const JzipParser& parser, Coefficients& coefficients, uint32_t band_exponent,
                 std::vector<uint8_t>* entry, std::string* error)
{
    JzipScanLayout layout;
    jzip_scan_layout(parser, band_exponent, &layout);
    std::vector<JzipContext> contexts[4];
    std::vector<JzipRecord> rows[4];
    std::unique_ptr<JzipEncoder> coders[4];
    std::unique_ptr<JzipModel<JzipEncoder>> models[4];
    for (uint32_t i = 0; i < layout.count; ++i) {
        const uint16_t* quant = parser.quant(parser.frame().components[parser.scan()[i].index].quant);
        if (quant == nullptr) {
            *error = "a scan uses an undefined quantisation table";
            return false;
        }
        contexts[i].resize(kJzipContexts);
        rows[i].resize(2 * static_cast<size_t>(layout.c[i].blocks_per_row));
        coders[i].reset(new JzipEncoder(contexts[i].data()));
        coders[i]->set_output(entry);
        models[i].reset(new JzipModel<JzipEncoder>(*coders[i], rows[i].data(),
                                                   layout.c[i].blocks_per_row, quant));
    }
    for (uint32_t first = 0; first < layout.mcu_rows; first += layout.band_rows) {
        uint32_t band = layout.mcu_rows - first;
        if (band > layout.band_rows)
            band = layout.band_rows;
        for (uint32_t i = 0; i < layout.count; ++i) {
            const int c = parser.scan()[i].index;
            models[i]->start_segment();
            for (uint32_t r = 0; r < band * layout.c[i].v; ++r) {
                for (uint32_t col = 0; col < layout.c[i].blocks_per_row; ++col) {
                    int16_t block[64];
                    if (!coefficients.block(c, first * layout.c[i].v + r, col, block, error))
                        return false;
                    if (models[i]->code_block(block) != kJzipBlockOk) {
                        *error = "a coefficient beyond what the method codes";
                        return false;
                    }
                }
            }
            models[i]->end_segment();
        }
    }
    return true;
}

}  // namespace

int jpeg_encode_entry(const std::vector<uint8_t>& jpeg, const JpegEncodeOptions& options,
                      std::vector<uint8_t>* entry, std::string* error)
{
    entry->clear();
    entry->push_back(4);
    entry->push_back(0);
    entry->push_back(1);
    entry->push_back(static_cast<uint8_t>(options.band_exponent & 31));

    QlMIO side;
    NullIO sink;
    JzipParser parser(side, sink);
    Coefficients coefficients;
    bool have_coefficients = false;
    size_t at = 0;
    for (;;) {
        side.clear();
        side.Write(jpeg.data() + at, static_cast<int32_t>(jpeg.size() - at));
        side.reset();
        int result;
        try {
            result = parser.parse();
        } catch (int) {
            result = JzipParser::kBadSegment;
        }
        if (result != JzipParser::kOk || (parser.flags() & JzipParser::kEoi)) {
            put_side_block(jpeg.data() + at, jpeg.size() - at, options.compress, entry);
            if (result == JzipParser::kOk)
                return kJpegEncoded;
            *error = "not a baseline or extended sequential Huffman JPEG";
            return kJpegNotBaseline;
        }
        const size_t end = at + static_cast<size_t>(side.position());
        put_side_block(jpeg.data() + at, end - at, options.compress, entry);
        if (!have_coefficients) {
            if (!coefficients.read(jpeg, error))
                return kJpegFailed;
            have_coefficients = true;
        }
        if (!encode_scan(parser, coefficients, options.band_exponent, entry, error))
            return kJpegFailed;
        at = scan_end(jpeg, end);
    }
}
