// Making a self-extractor from a 1 GiB Zip against a plain copy of the same
// file: the helper library's append (copy, raised offsets) and the builder's
// scan of the result, as a ratio to copying the file. Target: 1.5 or less.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "builder/zipscan.h"
#include "common/QlHooks.h"
#include "qlse32/zipwork.h"
#include "stub/engine/unzip.h"

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
    void error(const QlChar*) override { fprintf(stderr, "append reported an error\n"); }
    void entry_name(const uint8_t*, size_t, bool) override {}
};

void put16(FILE* f, uint16_t v) { fputc(v & 0xFF, f); fputc(v >> 8, f); }
void put32(FILE* f, uint32_t v) { put16(f, v & 0xFFFF); put16(f, v >> 16); }

// 64 stored entries of 16 MiB each.
void make_zip(const char* path)
{
    FILE* f = fopen(path, "wb");
    std::vector<uint8_t> data(16u << 20, 'x');
    std::vector<uint32_t> offsets;
    for (int i = 0; i < 64; ++i) {
        offsets.push_back(static_cast<uint32_t>(ftello(f)));
        put32(f, 0x04034B50); put16(f, 10); put16(f, 0); put16(f, 0); put32(f, 0);
        put32(f, 0); put32(f, static_cast<uint32_t>(data.size())); put32(f, static_cast<uint32_t>(data.size()));
        put16(f, 8); put16(f, 0);
        fprintf(f, "f%06d", i);
        fputc('x', f);
        fwrite(data.data(), 1, data.size(), f);
    }
    uint32_t directory = static_cast<uint32_t>(ftello(f));
    for (int i = 0; i < 64; ++i) {
        put32(f, 0x02014B50); put16(f, 20); put16(f, 10); put16(f, 0); put16(f, 0); put32(f, 0);
        put32(f, 0); put32(f, static_cast<uint32_t>(data.size())); put32(f, static_cast<uint32_t>(data.size()));
        put16(f, 8); put16(f, 0); put16(f, 0); put16(f, 0); put16(f, 0); put32(f, 0); put32(f, offsets[i]);
        fprintf(f, "f%06d", i);
        fputc('x', f);
    }
    uint32_t size = static_cast<uint32_t>(ftello(f)) - directory;
    put32(f, 0x06054B50); put16(f, 0); put16(f, 0); put16(f, 64); put16(f, 64); put32(f, size);
    put32(f, directory); put16(f, 0);
    fclose(f);
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void qlHostAssert(const char* source, int line) { fprintf(stderr, "assert %s:%d\n", source, line); }
void qlHostWin32Error(const char* source, int line) { fprintf(stderr, "win32 %s:%d\n", source, line); }

int main()
{
    const char* zip = "build_bench.zip";
    const char* copy = "build_bench.copy";
    const char* exe = "build_bench.exe";
    make_zip(zip);
    std::vector<uint8_t> buffer(1u << 20);

    auto start = std::chrono::steady_clock::now();
    {
        PosixFile in(zip, "rb"), out(copy, "wb");
        uint64_t size = in.size();
        for (uint64_t at = 0; at < size; at += buffer.size()) {
            uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), size - at));
            in.read_at(at, buffer.data(), n);
            out.write_at(at, buffer.data(), n);
        }
    }
    double copy_s = seconds_since(start);

    start = std::chrono::steady_clock::now();
    uint32_t end_record = 0;
    {
        FILE* stub = fopen(exe, "wb");
        std::vector<uint8_t> image(200000, 0x5A);
        fwrite(image.data(), 1, image.size(), stub);
        fclose(stub);
        PosixFile in(zip, "rb"), out(exe, "r+b");
        Quiet quiet;
        if (qlse_append_archive(in, out, quiet) != kQlseOk)
            return 1;
        std::vector<uint8_t> work(196608);
        ZipScanSettings settings;
        settings.work = work.data();
        settings.work_size = static_cast<uint32_t>(work.size());
        ZipScanResult result;
        FileInput scan(out.m_f);
        scan.seek(200000);
        if (scan_zip_archive(scan, settings, &result) != kZipScanOk)
            return 1;
        end_record = result.end_record_offset;
    }
    double build_s = seconds_since(start);
    printf("plain copy of 1 GiB: %.2f s\nbuild (append + rescan): %.2f s (end record at %u)\n", copy_s, build_s,
           end_record);
    printf("ratio build/copy: %.2f (target <= 1.5)\n", build_s / copy_s);
    remove(zip);
    remove(copy);
    remove(exe);
    return 0;
}
