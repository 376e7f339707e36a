// Round trips of cjpeg's files through the test encoder and the decoder, and
// the decoder's answers to broken entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/jpeg/JpegSupport.h"
#include "tools/jpeg/jzipencoder.h"

namespace {

// A folder for the pictures and cjpeg's files, removed at exit.
struct TempDir {
    std::string path;
    TempDir()
    {
        char name[] = "/tmp/jpegtest-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string temp_dir()
{
    static TempDir dir;
    return dir.path;
}

std::vector<uint8_t> read_all(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A picture with edges, gradients and noise, so that every model path runs.
std::string make_ppm(int width, int height)
{
    const std::string path = temp_dir() + "/in-" + std::to_string(width) + "x" + std::to_string(height) + ".ppm";
    std::ofstream f(path, std::ios::binary);
    f << "P6\n" << width << " " << height << "\n255\n";
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245 + 12345;
            const int n = (noise >> 16) & 31;
            const int r = (x * 255 / (width > 1 ? width - 1 : 1)) ^ ((y / 7) & 1 ? 0x40 : 0);
            const int g = ((x + y) % 37) * 6 + n;
            const int b = (x / 5 + y / 3) % 2 ? 200 + n : 30;
            f.put(static_cast<char>(r & 255)).put(static_cast<char>(g & 255)).put(static_cast<char>(b & 255));
        }
    }
    return path;
}

std::vector<uint8_t> cjpeg(const std::string& options, int width, int height)
{
    const std::string in = make_ppm(width, height);
    const std::string out = temp_dir() + "/out.jpg";
    const std::string command = "cjpeg " + options + " -outfile " + out + " " + in;
    if (std::system(command.c_str()) != 0)
        return {};
    return read_all(out);
}

std::string write_scans(const char* name, const char* text)
{
    const std::string path = temp_dir() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

struct RoundTrip {
    const char* what;
    std::string options;
    int width;
    int height;
    uint32_t band;
    bool trailing;  // bytes after EOI
    int scans;      // SOS markers the file must have
    const char* needs;  // "dri", "dqt16" or ""
};

// What a file holds: its scan count, a DRI, a 16-bit DQT.
struct Markers {
    int scans = 0;
    int tables = 0;
    bool dri = false;
    bool dqt16 = false;
};

Markers markers_of(const std::vector<uint8_t>& jpeg)
{
    Markers m;
    for (size_t i = 2; i + 4 < jpeg.size();) {
        if (jpeg[i] != 0xFF) {
            ++i;
            continue;
        }
        const uint8_t code = jpeg[i + 1];
        if (code == 0x00 || code == 0xFF || (code >= 0xD0 && code <= 0xD9)) {
            i += 2;
            continue;
        }
        m.scans += code == 0xDA;
        m.tables += code == 0xC4;
        m.dri = m.dri || code == 0xDD;
        m.dqt16 = m.dqt16 || (code == 0xDB && (jpeg[i + 4] >> 4) == 1);
        i += 2 + ((jpeg[i + 2] << 8) | jpeg[i + 3]);
    }
    return m;
}

TEST(JpegEntry, CjpegFilesComeBackByteForByte)
{
    const std::string per_component = write_scans("each.txt", "0;\n1;\n2;\n");
    const std::string split = write_scans("split.txt", "0;\n1 2;\n");
    const RoundTrip cases[] = {
        {"4:2:0", "-quality 75 -sample 2x2", 67, 45, 0, false, 1, ""},
        {"4:4:4", "-quality 90 -sample 1x1", 40, 24, 0, false, 1, ""},
        {"greyscale", "-grayscale", 33, 17, 0, false, 1, ""},
        {"one pixel", "", 1, 1, 0, false, 1, ""},
        {"4:2:2 odd size", "-sample 2x1 -quality 50", 91, 13, 0, false, 1, ""},
        {"restart every 3 MCUs", "-restart 3b", 70, 50, 0, false, 1, "dri"},
        {"restart every row, bands", "-restart 1 -sample 2x2", 70, 50, 1, false, 1, "dri"},
        {"optimised tables", "-optimize -quality 95", 50, 40, 0, false, 1, ""},
        // Each scan brings its own tables into the same slots.
        {"one scan a component, own tables", "-optimize -scans " + per_component, 45, 30, 0, false, 3, "dht"},
        {"luma scan then chroma interleaved", "-sample 2x2 -optimize -scans " + split, 45, 37, 0, false, 2, "dht"},
        {"16-bit quantisers", "-quality 2", 64, 64, 0, false, 1, "dqt16"},
        {"many bands", "-quality 80", 200, 120, 1, false, 1, ""},
        {"bytes after EOI", "", 20, 20, 0, true, 1, ""},
        {"huge band exponent", "", 30, 30, 31, false, 1, ""},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> jpeg = cjpeg(c.options, c.width, c.height);
        ASSERT_FALSE(jpeg.empty());
        const Markers m = markers_of(jpeg);
        ASSERT_EQ(c.scans, m.scans);
        const std::string needs = c.needs;
        ASSERT_TRUE(needs != "dri" || m.dri);
        ASSERT_TRUE(needs != "dqt16" || m.dqt16);
        ASSERT_TRUE(needs != "dht" || m.tables > 2);
        if (c.trailing) {
            for (int i = 0; i < 300; ++i)
                jpeg.push_back(static_cast<uint8_t>(i * 7));
        }
        for (bool compress : {true, false}) {
            JpegEncodeOptions options;
            options.band_exponent = c.band;
            options.compress = compress;
            std::vector<uint8_t> entry;
            std::string error;
            ASSERT_EQ(kJpegEncoded, jpeg_encode_entry(jpeg, options, &entry, &error)) << error;
            MemorySink sink;
            ASSERT_EQ(kQlDecodeOk, decode_entry(entry, &sink));
            EXPECT_TRUE(sink.bytes == jpeg);
            EXPECT_FALSE(sink.zero_takes);
        }
    }
}

TEST(JpegEntry, ProgressiveAndArithmeticFilesAreBadData)
{
    for (const char* options : {"-progressive", "-arithmetic"}) {
        SCOPED_TRACE(options);
        const std::vector<uint8_t> jpeg = cjpeg(options, 30, 20);
        ASSERT_FALSE(jpeg.empty());
        std::vector<uint8_t> entry;
        std::string error;
        EXPECT_EQ(kJpegNotBaseline, jpeg_encode_entry(jpeg, JpegEncodeOptions(), &entry, &error));
        MemorySink sink;
        EXPECT_EQ(kQlDecodeBadData, decode_entry(entry, &sink));
    }
}

}  // namespace

namespace {

std::vector<uint8_t> small_jpeg()
{
    static const std::vector<uint8_t> jpeg = cjpeg("-quality 60", 24, 16);
    return jpeg;
}

std::vector<uint8_t> encode(const std::vector<uint8_t>& jpeg, bool compress = false)
{
    JpegEncodeOptions options;
    options.compress = compress;
    std::vector<uint8_t> entry;
    std::string error;
    EXPECT_EQ(kJpegEncoded, jpeg_encode_entry(jpeg, options, &entry, &error)) << error;
    return entry;
}

// The offset of the first marker `code` in a JPEG file.
size_t find_marker(const std::vector<uint8_t>& jpeg, uint8_t code)
{
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code)
            return i;
    }
    return 0;
}

void put16(std::vector<uint8_t>* v, uint32_t x)
{
    v->push_back(static_cast<uint8_t>(x));
    v->push_back(static_cast<uint8_t>(x >> 8));
}

TEST(JpegEntry, BrokenContainersAreRefused)
{
    const std::vector<uint8_t> good = encode(small_jpeg());
    struct Case {
        const char* what;
        std::vector<uint8_t> entry;
        int result;
    };
    std::vector<Case> cases;
    auto patched = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> e = good;
        e[at] = value;
        return e;
    };
    cases.push_back({"header length", patched(0, 5), kQlDecodeUnknownHeader});
    cases.push_back({"format version", patched(2, 2), kQlDecodeUnknownHeader});
    cases.push_back({"band exponent above 5 bits", patched(3, 0x20), kQlDecodeUnknownHeader});
    {
        std::vector<uint8_t> e(good.begin(), good.begin() + 4);
        put16(&e, 0xFFFF);
        put16(&e, 0xFFFF);
        put16(&e, 0x0001);
        put16(&e, 0x0100);  // 16 MiB + 1
        put16(&e, 0);
        put16(&e, 0);
        cases.push_back({"side block above 16 MiB", e, kQlDecodeUnknownHeader});
    }
    cases.push_back({"entry cut in its header", std::vector<uint8_t>(good.begin(), good.begin() + 2),
                     kQlDecodeInputEnded});
    cases.push_back({"entry cut in a side block", std::vector<uint8_t>(good.begin(), good.begin() + 40),
                     kQlDecodeInputEnded});
    cases.push_back({"entry cut in the scan", std::vector<uint8_t>(good.begin(), good.end() - 30),
                     kQlDecodeInputEnded});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySink sink;
        EXPECT_EQ(c.result, decode_entry(c.entry, &sink));
    }
}

TEST(JpegEntry, SideBlockSizesTakeBothForms)
{
    // A side block over 64 KiB (a long comment) needs the 32-bit sizes; LZMA
    // or stored, both come back.
    const std::vector<uint8_t> jpeg = small_jpeg();
    std::vector<uint8_t> big(jpeg.begin(), jpeg.begin() + 2);
    for (int part = 0; part < 3; ++part) {
        big.push_back(0xFF);
        big.push_back(0xFE);
        big.push_back(0xFF);
        big.push_back(0xF0);
        big.insert(big.end(), 0xFFF0 - 2, static_cast<uint8_t>('a' + part));
    }
    big.insert(big.end(), jpeg.begin() + 2, jpeg.end());
    for (bool compress : {false, true}) {
        const std::vector<uint8_t> entry = encode(big, compress);
        EXPECT_EQ(0xFF, entry[4]);
        EXPECT_EQ(0xFF, entry[7]);
        MemorySink sink;
        ASSERT_EQ(kQlDecodeOk, decode_entry(entry, &sink));
        EXPECT_TRUE(sink.bytes == big);
        // Small decode buffer: large writes go through in runs that fit.
        MemorySink small;
        ASSERT_EQ(kQlDecodeOk, decode_entry(entry, &small, 4096));
        EXPECT_TRUE(small.bytes == big);
        EXPECT_LE(small.largest, 4096u);
        EXPECT_FALSE(small.zero_takes);
    }
}

TEST(JpegEntry, ShortLzmaSideBlockIsRefused)
{
    // The first side block stated 64 bytes longer than its LZMA data gives.
    const std::vector<uint8_t> jpeg = small_jpeg();
    std::vector<uint8_t> entry = encode(jpeg, true);
    const uint32_t size = entry[4] | (entry[5] << 8);
    ASSERT_NE(0, entry[6] | (entry[7] << 8));  // compressed
    entry[4] = static_cast<uint8_t>(size + 64);
    entry[5] = static_cast<uint8_t>((size + 64) >> 8);
    MemorySink sink;
    EXPECT_EQ(kQlDecodeInvalid, decode_entry(entry, &sink));
}

TEST(JpegEntry, BrokenFramesAndScans)
{
    const std::vector<uint8_t> jpeg = small_jpeg();
    const size_t sof = find_marker(jpeg, 0xC0);
    const size_t sos = find_marker(jpeg, 0xDA);
    const size_t dht = find_marker(jpeg, 0xC4);
    ASSERT_NE(0u, sof);
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
        int result;
    };
    const Case cases[] = {
        // The first component's quantisation table 3 was never defined.
        {"undefined quantisation table", sof + 12, 3, kQlDecodeInvalid},
        {"precision 9", sof + 4, 9, kQlDecodeBadData},
        {"sampling 5", sof + 11, 0x51, kQlDecodeBadData},
        {"scan names no frame component", sos + 5, 0x77, kQlDecodeBadData},
        {"restart marker between segments", dht + 1, 0xD3, kQlDecodeBadData},
        {"progressive frame", sof + 1, 0xC2, kQlDecodeBadData},
        // A scan whose AC table has no codes: its symbols have none.
        {"scan uses an undefined table", sos + 6, 0x03, kQlDecodeInvalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The good file's entry with its first (stored) side block patched:
        // header, sizes, then the file's bytes.
        std::vector<uint8_t> entry = encode(jpeg);
        entry[4 + 4 + c.at] = c.value;
        MemorySink sink;
        EXPECT_EQ(c.result, decode_entry(entry, &sink));
    }
}

TEST(JpegEntry, FrameTooLargeForTheRecordedSizeIsRefusedBeforeItsBand)
{
    // A 16 x 16 greyscale file whose frame header claims 4096 x 4096: 262144
    // blocks, which no file of its size can code (two bits a block at least).
    // The entry is cut behind its first side block: a decoder that took the
    // band would run out of input in the scan instead.
    const std::vector<uint8_t> jpeg = cjpeg("-grayscale", 16, 16);
    const size_t sof = find_marker(jpeg, 0xC0);
    std::vector<uint8_t> entry = encode(jpeg);
    entry.resize(8 + (entry[4] | (entry[5] << 8)));
    for (size_t i : {sof + 5, sof + 7}) {
        entry[8 + i] = 0x10;
        entry[8 + i + 1] = 0x00;
    }
    const struct {
        uint64_t recorded;
        int result;
    } cases[] = {
        {jpeg.size(), kQlDecodeBadData},
        {65535, kQlDecodeBadData},
        {65536, kQlDecodeInputEnded},  // 4 blocks a byte would fit: the scan is decoded
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recorded);
        MemorySink sink;
        EXPECT_EQ(c.result, decode_entry(entry, &sink, 0x100000, c.recorded));
    }
}

TEST(JpegEntry, HugeFramesAreOutOfMemoryNotWrapped)
{
    // 65535 x 65535 at 4:4:4: the band buffer would pass 32 bits.
    const std::vector<uint8_t> jpeg = cjpeg("-sample 1x1", 16, 16);
    const size_t sof = find_marker(jpeg, 0xC0);
    // Only the first side block matters: the scan is never reached.
    std::vector<uint8_t> entry = encode(jpeg);
    for (size_t i : {sof + 5, sof + 6, sof + 7, sof + 8})
        entry[8 + i] = 0xFF;
    MemorySink sink;
    EXPECT_EQ(kQlDecodeNoMemory, decode_entry(entry, &sink));
}

TEST(JpegEntry, SinkRefusalsStopTheDecoder)
{
    // A 64 KiB+ file so that output goes out more than once with a small buffer.
    const std::vector<uint8_t> jpeg = cjpeg("-quality 98 -sample 1x1", 300, 200);
    const std::vector<uint8_t> entry = encode(jpeg, true);
    const struct {
        uint32_t refuse_at;
        int refusal;
        int result;
    } cases[] = {
        {1, kQlDecodeAborted, kQlDecodeAborted},
        {3, kQlDecodeAborted, kQlDecodeAborted},
        {2, kQlDecodeBadData, kQlDecodeBadData},
    };
    for (const auto& c : cases) {
        MemorySink sink;
        sink.refuse_at = c.refuse_at;
        sink.refusal = c.refusal;
        EXPECT_EQ(c.result, decode_entry(entry, &sink, 8192));
        EXPECT_EQ(c.refuse_at, sink.calls);
    }
}

}  // namespace
