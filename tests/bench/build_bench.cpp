// A whole build of a self-extractor from a 1 GiB Zip as the builder runs it:
// the helper library's test pass over the Zip, the builder's scan of it, the
// stub image written, the helper library's append (copy, raised offsets) and
// the rescan of the result; against a plain copy of the same file plus
// `unzip -tq` of it, in the same run. Each side's best of a few runs, by the
// wall clock and by processor time (the reference's: the copy's and unzip's).
// Target: ours / reference 1.0 or less.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "builder/crc32.h"
#include "builder/zipscan.h"
#include "common/QlHooks.h"
#include "qlse32/zipwork.h"
#include "stub/engine/lzmadec.h"
#include "stub/engine/ppmddec.h"
#include "stub/engine/unzip.h"
#include "tests/bench/BenchTiming.h"

namespace {

class PosixFile : public QlseFile {
public:
    PosixFile(const char* name, const char* mode) : m_f(fopen(name, mode)) {}
    ~PosixFile() { if (m_f) fclose(m_f); }
    bool read_at(uint64_t offset, uint8_t* buffer, uint32_t count) override
    {
        return fseeko(m_f, static_cast<off_t>(offset), SEEK_SET) == 0 && fread(buffer, 1, count, m_f) == count;
    }
    bool write_at(uint64_t offset, const uint8_t* buffer, uint32_t count) override
    {
        return fseeko(m_f, static_cast<off_t>(offset), SEEK_SET) == 0 && fwrite(buffer, 1, count, m_f) == count;
    }
    uint64_t size() override
    {
        fseeko(m_f, 0, SEEK_END);
        return static_cast<uint64_t>(ftello(m_f));
    }
    FILE* m_f;
};

class FileInput : public ZipScanInput {
public:
    explicit FileInput(FILE* f) : m_f(f) {}
    int32_t read(uint8_t* b, uint32_t n) override { return static_cast<int32_t>(fread(b, 1, n, m_f)); }
    bool seek(uint64_t p) override { return fseeko(m_f, static_cast<off_t>(p), SEEK_SET) == 0; }
    uint64_t position() override { return static_cast<uint64_t>(ftello(m_f)); }
    FILE* m_f;
};

class Quiet : public QlseReporter {
    void progress_start(uint64_t) override {}
    void progress_step(uint64_t) override {}
    bool cancelled() override { return false; }
    void error(const QlChar* text) override
    {
        std::string narrow;
        for (; *text; ++text)
            narrow += static_cast<char>(*text);
        fprintf(stderr, "build_bench: %s\n", narrow.c_str());
    }
    void entry_name(const uint8_t*, size_t, bool) override {}
};

void put16(FILE* f, uint16_t v) { fputc(v & 0xFF, f); fputc(v >> 8, f); }
void put32(FILE* f, uint32_t v) { put16(f, v & 0xFFFF); put16(f, v >> 16); }

// 64 stored entries of the same 16 MiB of varied bytes, with their CRC-32.
void make_zip(const char* path)
{
    FILE* f = fopen(path, "wb");
    std::vector<uint8_t> data(16u << 20);
    uint32_t x = 1;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    const uint32_t crc = crc32_update(0, data.data(), data.size());
    const uint32_t size = static_cast<uint32_t>(data.size());
    const uint32_t dos_time = (uint32_t((2024 - 1980) << 9 | 1 << 5 | 1) << 16) | (12 << 11);
    std::vector<uint32_t> offsets;
    for (int i = 0; i < 64; ++i) {
        offsets.push_back(static_cast<uint32_t>(ftello(f)));
        put32(f, 0x04034B50); put16(f, 10); put16(f, 0); put16(f, 0); put32(f, dos_time);
        put32(f, crc); put32(f, size); put32(f, size);
        put16(f, 8); put16(f, 0);
        fprintf(f, "f%06d", i);
        fputc('x', f);
        fwrite(data.data(), 1, data.size(), f);
    }
    uint32_t directory = static_cast<uint32_t>(ftello(f));
    for (int i = 0; i < 64; ++i) {
        put32(f, 0x02014B50); put16(f, 20); put16(f, 10); put16(f, 0); put16(f, 0); put32(f, dos_time);
        put32(f, crc); put32(f, size); put32(f, size);
        put16(f, 8); put16(f, 0); put16(f, 0); put16(f, 0); put16(f, 0); put32(f, 0); put32(f, offsets[i]);
        fprintf(f, "f%06d", i);
        fputc('x', f);
    }
    uint32_t directory_size = static_cast<uint32_t>(ftello(f)) - directory;
    put32(f, 0x06054B50); put16(f, 0); put16(f, 0); put16(f, 64); put16(f, 64); put32(f, directory_size);
    put32(f, directory); put16(f, 0);
    fclose(f);
}

// The plain copy of the reference.
bool copy_file(const char* from, const char* to, std::vector<uint8_t>* buffer)
{
    PosixFile in(from, "rb"), out(to, "wb");
    const uint64_t size = in.size();
    for (uint64_t at = 0; at < size; at += buffer->size()) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(buffer->size(), size - at));
        if (!in.read_at(at, buffer->data(), n) || !out.write_at(at, buffer->data(), n))
            return false;
    }
    return true;
}

ZipScanFault scan(FILE* f, uint64_t start, std::vector<uint8_t>* work, ZipScanResult* result)
{
    ZipScanSettings settings;
    settings.no_questions = true;
    settings.work = work->data();
    settings.work_size = static_cast<uint32_t>(work->size());
    FileInput input(f);
    input.seek(start);
    return scan_zip_archive(input, settings, result);
}

// The build's file steps, as the builder and its helper library take them.
bool build(const char* zip, const char* exe, uint32_t* end_record)
{
    Quiet quiet;
    std::vector<uint8_t> work(196608);
    SfxDecoders decoders;
    decoders.lzma = lzma_decode_entry;
    decoders.ppmd = ppmd_decode_entry;
    PosixFile in(zip, "rb");
    if (qlse_test_archive(in, decoders, quiet) != kQlseOk)
        return false;
    ZipScanResult result;
    if (scan(in.m_f, 0, &work, &result) != kZipScanOk)
        return false;
    FILE* stub = fopen(exe, "wb");
    std::vector<uint8_t> image(200000, 0x5A);
    fwrite(image.data(), 1, image.size(), stub);
    fclose(stub);
    PosixFile out(exe, "r+b");
    if (qlse_append_archive(in, out, quiet) != kQlseOk)
        return false;
    fflush(out.m_f);
    if (scan(out.m_f, image.size(), &work, &result) != kZipScanOk)
        return false;
    *end_record = result.end_record_offset;
    return true;
}

}  // namespace

void qlHostAssert(const char* source, int line) { fprintf(stderr, "assert %s:%d\n", source, line); }
void qlHostWin32Error(const char* source, int line) { fprintf(stderr, "win32 %s:%d\n", source, line); }

int main()
{
    using namespace bench_timing;
    const int runs = bench_runs(3);
    char pattern[] = "/tmp/build_bench.XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string folder = pattern;
    const std::string zip = folder + "/build_bench.zip", copy = folder + "/copy.zip", exe = folder + "/build.exe";
    make_zip(zip.c_str());
    std::vector<uint8_t> buffer(1u << 20);

    // Each side's output is removed as soon as it is written, so that
    // neither meets the other's dirty pages.
    Timing ours, reference, copy_best, unzip_best;
    uint32_t end_record = 0;
    bool ok = true;
    for (int r = 0; r < runs && ok; ++r) {
        ok = time_in_process(&ours, [&] { return build(zip.c_str(), exe.c_str(), &end_record); });
        unlink(exe.c_str());
        Timing copied, tested;
        ok = ok && time_in_process(&copied, [&] { return copy_file(zip.c_str(), copy.c_str(), &buffer); });
        unlink(copy.c_str());
        ok = ok && time_program(&tested, {"unzip", "-tq", zip});
        reference.keep_best(copied.wall + tested.wall, copied.cpu + tested.cpu);
        copy_best.keep_best(copied.wall, copied.cpu);
        unzip_best.keep_best(tested.wall, tested.cpu);
    }
    if (!ok) {
        fprintf(stderr, "build_bench: the build or the reference failed\n");
        return 1;
    }
    printf("Build of a 1 GiB Zip (test pass, scan, append, rescan; end record at %u) against a plain copy\n"
           "plus unzip -tq, seconds:\n", end_record);
    printf("  %-22s %10s %10s %7s   %10s %10s %7s\n", "", "cpu ours", "cpu ref", "ratio", "wall ours", "wall ref",
           "ratio");
    printf("  %-22s %10.2f %10.2f %6.2fx   %10.2f %10.2f %6.2fx   (target 1.0 or less)\n", "build", ours.cpu,
           reference.cpu, ours.cpu / reference.cpu, ours.wall, reference.wall, ours.wall / reference.wall);
    printf("  (of the reference: the copy %.2f s cpu, %.2f s wall; unzip -tq %.2f s cpu, %.2f s wall)\n", copy_best.cpu,
           copy_best.wall, unzip_best.cpu, unzip_best.wall);
    unlink(zip.c_str());
    rmdir(folder.c_str());
    return 0;
}
