// jpegzip: writes a JPEG file as a one-entry Zip archive of method 96, the
// test input of the stub's JPEG-method decoder. Native only, never shipped.
//
//   jpegzip [--band K] [--store] [--entry] INPUT.jpg OUTPUT [NAME]
//     --band K  bands of 2^(K + 6) MCUs (0, the default: one band a scan)
//     --store   side blocks raw, not LZMA
//     --entry   OUTPUT gets the entry data alone, not a Zip
// Exit codes: 0 written, 3 written but not this method's input (the decoder
// refuses it with "bad data"), 1 failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "common/QlHooks.h"
#include "stub/engine/junzip.h"
#include "tools/jpeg/jzipencoder.h"

// The library's error hooks: a test tool stops at the first report.
void qlHostAssert(const char* source, int line)
{
    std::fprintf(stderr, "jpegzip: internal check failed at %s:%d\n", source, line);
    std::abort();
}

void qlHostWin32Error(const char* source, int line)
{
    qlHostAssert(source, line);
}

namespace {

bool read_file(const char* path, std::vector<uint8_t>* data)
{
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data->insert(data->end(), buffer, buffer + n);
    std::fclose(f);
    return true;
}

void put_le(std::vector<uint8_t>* out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A one-entry Zip: the entry's sizes and CRC are the JPEG's.
std::vector<uint8_t> make_zip(const std::string& name, const std::vector<uint8_t>& jpeg,
                              const std::vector<uint8_t>& entry)
{
    const uint32_t crc = static_cast<uint32_t>(crc32(0, jpeg.data(), static_cast<uInt>(jpeg.size())));
    const uint16_t dos_time = (12 << 11) | (30 << 5);
    const uint16_t dos_date = ((2026 - 1980) << 9) | (12 << 5) | 10;
    // From the flags to the extra length, the two headers agree.
    auto put_fields = [&](std::vector<uint8_t>* out) {
        put_le(out, 0, 2);
        put_le(out, 96, 2);
        put_le(out, dos_time, 2);
        put_le(out, dos_date, 2);
        put_le(out, crc, 4);
        put_le(out, static_cast<uint32_t>(entry.size()), 4);
        put_le(out, static_cast<uint32_t>(jpeg.size()), 4);
        put_le(out, static_cast<uint32_t>(name.size()), 2);
        put_le(out, 0, 2);
    };
    std::vector<uint8_t> zip;
    put_le(&zip, 0x04034B50, 4);
    put_le(&zip, 63, 2);
    put_fields(&zip);
    zip.insert(zip.end(), name.begin(), name.end());
    zip.insert(zip.end(), entry.begin(), entry.end());
    const uint32_t directory = static_cast<uint32_t>(zip.size());
    put_le(&zip, 0x02014B50, 4);
    put_le(&zip, 63, 2);
    put_le(&zip, 63, 2);
    put_fields(&zip);
    put_le(&zip, 0, 2);
    put_le(&zip, 0, 2);
    put_le(&zip, 0, 2);
    put_le(&zip, 0x20, 4);
    put_le(&zip, 0, 4);
    zip.insert(zip.end(), name.begin(), name.end());
    const uint32_t directory_size = static_cast<uint32_t>(zip.size()) - directory;
    put_le(&zip, 0x06054B50, 4);
    put_le(&zip, 0, 2);
    put_le(&zip, 0, 2);
    put_le(&zip, 1, 2);
    put_le(&zip, 1, 2);
    put_le(&zip, directory_size, 4);
    put_le(&zip, directory, 4);
    put_le(&zip, 0, 2);
    return zip;
}

class VectorSource : public QlByteSource {
public:
    explicit VectorSource(const std::vector<uint8_t>& data) : data_(data) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        size_t n = data_.size() - at_;
        if (n > capacity)
            n = capacity;
        std::memcpy(buffer, data_.data() + at_, n);
        at_ += n;
        return static_cast<int32_t>(n);
    }

private:
    const std::vector<uint8_t>& data_;
    size_t at_ = 0;
};

class VectorSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        bytes.insert(bytes.end(), data, data + count);
        return 0;
    }
    std::vector<uint8_t> bytes;
};

// The stub's decoder must give the file back: anything else is a fault of
// this encoder or of the file (a scan that is not plain baseline coding).
bool decodes_back(const std::vector<uint8_t>& entry, const std::vector<uint8_t>& jpeg)
{
    std::vector<uint8_t> buffer(0x100000);
    VectorSource source(entry);
    VectorSink sink;
    SfxDecodeJob job;
    job.source = &source;
    job.sink = &sink;
    job.compressed_size = entry.size();
    job.uncompressed_size = jpeg.size();
    job.buffer = buffer.data();
    job.buffer_size = static_cast<uint32_t>(buffer.size());
    return jpeg_decode_entry(job) == kQlDecodeOk && sink.bytes == jpeg;
}

int usage()
{
    std::fprintf(stderr, "usage: jpegzip [--band K] [--store] [--entry] INPUT.jpg OUTPUT [NAME]\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    JpegEncodeOptions options;
    bool entry_only = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        if (std::strcmp(argv[i], "--band") == 0 && i + 1 < argc)
            options.band_exponent = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--store") == 0)
            options.compress = false;
        else if (std::strcmp(argv[i], "--entry") == 0)
            entry_only = true;
        else
            return usage();
    }
    if (argc - i < 2 || argc - i > 3)
        return usage();
    const char* input = argv[i];
    const char* output = argv[i + 1];
    std::string name = argc - i == 3 ? argv[i + 2] : input;
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);

    std::vector<uint8_t> jpeg;
    if (!read_file(input, &jpeg)) {
        std::fprintf(stderr, "jpegzip: cannot read %s\n", input);
        return 1;
    }
    std::vector<uint8_t> entry;
    std::string error;
    const int status = jpeg_encode_entry(jpeg, options, &entry, &error);
    if (status == kJpegFailed) {
        std::fprintf(stderr, "jpegzip: %s: %s\n", input, error.c_str());
        return 1;
    }
    if (status == kJpegEncoded && !decodes_back(entry, jpeg)) {
        std::fprintf(stderr, "jpegzip: %s: the entry does not decode back to the file\n", input);
        return 1;
    }
    const std::vector<uint8_t> data = entry_only ? entry : make_zip(name, jpeg, entry);
    FILE* f = std::fopen(output, "wb");
    if (f == nullptr || std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "jpegzip: cannot write %s\n", output);
        return 1;
    }
    if (status == kJpegNotBaseline) {
        std::fprintf(stderr, "jpegzip: %s: %s\n", input, error.c_str());
        return 3;
    }
    return 0;
}
