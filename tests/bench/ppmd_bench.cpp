// The PPMd decoder against p7zip's 7z on the same archives in the same run.
// Ours decodes the entry from memory through the stub's 1 MiB buffer into a
// sink that keeps the CRC-32, as the engine does; 7z tests the archive
// (`7z t`: it reads, decodes and checks the CRC), and its start-up, measured
// on a tiny archive made with the same settings, is taken off. The inputs
// are tens of MB, so that what is left of the start-up is small either way.
// An argument runs only the rows whose names hold it.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "stub/engine/ppmddec.h"
#include "tests/bench/BenchData.h"
#include "tests/bench/BenchTiming.h"

// The benchmark supplies the library's error hooks itself.
void qlHostAssert(const char*, int) {}
void qlHostWin32Error(const char*, int) {}

namespace {

using namespace bench_data;
using namespace bench_timing;

struct Dataset {
    std::string name;
    std::string archive;  // made by 7z
    std::string tiny;     // the same settings over a few bytes
    Bytes plain;
    uint32_t crc = 0;     // of plain, outside the timing
    Bytes entry;          // the entry's compressed data
};

// Compresses `plain` with 7z into `archive` and returns the entry's data.
bool make_archive(const std::string& work, const std::string& name, const uint8_t* plain, size_t size,
                  const std::vector<std::string>& options, std::string* archive, Bytes* entry)
{
    const std::string path = work + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    fwrite(plain, 1, size, f);
    fclose(f);
    *archive = path + ".zip";
    std::vector<std::string> args = {"7z", "a", "-tzip", "-mm=PPMd"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(*archive);
    args.push_back(name);
    Timing ignored;
    Bytes zip;
    const bool made = time_program(&ignored, args, work.c_str()) && append_file(*archive, &zip, SIZE_MAX) &&
                      zip.size() >= 30 && le(zip, 8, 2) == 98;
    unlink(path.c_str());
    if (!made)
        return false;
    const size_t start = 30 + le(zip, 26, 2) + le(zip, 28, 2);
    entry->assign(zip.begin() + start, zip.begin() + start + le(zip, 18, 4));
    return true;
}

bool decode_ours(const Dataset& d, Bytes* buffer)
{
    MemorySource source(d.entry);
    CrcSink sink;
    SfxDecodeJob job;
    job.source = &source;
    job.sink = &sink;
    job.compressed_size = d.entry.size();
    job.uncompressed_size = d.plain.size();
    job.buffer = buffer->data();
    job.buffer_size = static_cast<uint32_t>(buffer->size());
    return ppmd_decode_entry(job) == 0 && sink.total == d.plain.size() && sink.crc() == d.crc;
}

}  // namespace

int main(int argc, char** argv)
{
    // 7z takes transparent huge pages for its model; the C library gives
    // them to ours only when told at start. Without them the figures would
    // compare page faults rather than decoders.
    if (!getenv("GLIBC_TUNABLES")) {
        setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1);
        execv("/proc/self/exe", argv);
    }
    const int runs = bench_runs(3);
    const size_t limit = 16 << 20;
    char pattern[] = "/tmp/ppmd_bench.XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string work = pattern;

    const std::pair<std::string, Bytes> plain[] = {
        {"text", text_data(limit)}, {"binary", binary_data(limit)}, {"runs", runs_data(8 << 20)}};
    // Level 5 (order 6, restart) and level 9 (a higher order and a larger
    // model, cut-off; a few times slower, so over a quarter of the data), and
    // a small model that fills up.
    struct Setting {
        std::string name;
        std::vector<std::string> options;
        size_t share;   // of the data, a divisor
    };
    const Setting settings[] = {
        {"mx5", {"-mx=5"}, 1}, {"mx9", {"-mx=9"}, 4}, {"o8-1m", {"-mo=8", "-mmem=1m"}, 1}};
    std::vector<std::unique_ptr<Dataset>> sets;
    for (const auto& p : plain) {
        if (p.second.size() < 4096)
            continue;   // not on this system
        for (const auto& s : settings) {
            std::unique_ptr<Dataset> d(new Dataset);
            d->name = p.first + "-" + s.name;
            if (argc > 1 && d->name.find(argv[1]) == std::string::npos)
                continue;   // a row asked for by name
            d->plain.assign(p.second.begin(), p.second.begin() + p.second.size() / s.share);
            d->crc = crc_of(d->plain);
            Bytes tiny_entry;
            if (!make_archive(work, d->name, d->plain.data(), d->plain.size(), s.options, &d->archive, &d->entry) ||
                !make_archive(work, d->name + "-tiny", d->plain.data(), 64, s.options, &d->tiny, &tiny_entry)) {
                fprintf(stderr, "ppmd_bench: 7z could not make %s\n", d->name.c_str());
                continue;
            }
            sets.push_back(std::move(d));
        }
    }

    Bytes buffer(0x100000);
    print_header("PPMd, decoded bytes", "7z t less its start-up");
    for (const auto& d : sets) {
        Timing ours, seven, start_up;
        bool ok = true;
        for (int r = 0; r < runs && ok; ++r) {
            ok = time_in_process(&ours, [&] { return decode_ours(*d, &buffer); }) &&
                 time_program(&seven, {"7z", "t", "-bd", d->archive}) &&
                 time_program(&start_up, {"7z", "t", "-bd", d->tiny});
        }
        if (!ok) {
            printf("  %-22s failed\n", d->name.c_str());
            continue;
        }
        char note[96];
        snprintf(note, sizeof note, "start-up %.0f ms cpu, %.0f ms wall; %zu -> %zu bytes", start_up.cpu * 1e3,
                 start_up.wall * 1e3, d->entry.size(), d->plain.size());
        print_row(d->name, static_cast<double>(d->plain.size()), ours, less_start_up(seven, start_up), note);
    }
    for (const auto& d : sets) {
        unlink(d->archive.c_str());
        unlink(d->tiny.c_str());
    }
    rmdir(work.c_str());
    return 0;
}
