// The PPMd decoder against p7zip's 7z on the same archives in the same run.
// 7z extracts each archive to /dev/null (fork and exec, its start included);
// ours decodes the same entry from memory through the stub's 1 MiB buffer.
// Prints each side's throughput (of decoded bytes) and the ratio ours / 7z,
// by wall-clock time and by CPU time (7z's from its rusage: on a loaded
// machine the wall clock also counts the waits for a processor).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "stub/engine/ppmddec.h"
#include "tests/bench/BenchData.h"
#include "tests/bench/RatioReporter.h"

// The benchmark supplies the library's error hooks itself.
void qlHostAssert(const char*, int) {}
void qlHostWin32Error(const char*, int) {}

namespace {

using namespace bench_data;

uint32_t le(const Bytes& b, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; i--)
        v = (v << 8) | b[at + i];
    return v;
}

struct Dataset {
    std::string name;
    std::string archive;  // made by 7z
    Bytes plain;
    Bytes entry;          // the entry's compressed data
};

// Runs a program with its output to /dev/null; true when it exits with 0.
// `cpu_seconds` receives its user and system time.
bool run(const std::vector<std::string>& args, const char* folder, double* cpu_seconds = nullptr)
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        if (folder && chdir(folder) != 0)
            _exit(127);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage = {};
    if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid)
        return false;
    if (cpu_seconds)
        *cpu_seconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Compresses `d->plain` with 7z into the work folder and takes the entry out.
bool make_archive(Dataset* d, const std::string& work, const std::vector<std::string>& options)
{
    const std::string plain = work + "/" + d->name;
    FILE* f = fopen(plain.c_str(), "wb");
    if (!f)
        return false;
    fwrite(d->plain.data(), 1, d->plain.size(), f);
    fclose(f);
    d->archive = plain + ".zip";
    std::vector<std::string> args = {"7z", "a", "-tzip", "-mm=PPMd"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(d->archive);
    args.push_back(d->name);
    Bytes zip;
    if (!run(args, work.c_str()) || !append_file(d->archive, &zip, SIZE_MAX) || zip.size() < 30 ||
        le(zip, 8, 2) != 98)
        return false;
    const size_t start = 30 + le(zip, 26, 2) + le(zip, 28, 2);
    d->entry.assign(zip.begin() + start, zip.begin() + start + le(zip, 18, 4));
    return true;
}

void ours(benchmark::State& state, const Dataset* d)
{
    Bytes buffer(0x100000);
    for (auto _ : state) {
        MemorySource source(d->entry);
        CountingSink sink;
        SfxDecodeJob job;
        job.source = &source;
        job.sink = &sink;
        job.compressed_size = d->entry.size();
        job.uncompressed_size = d->plain.size();
        job.buffer = buffer.data();
        job.buffer_size = 0x100000;
        if (ppmd_decode_entry(job) != 0 || sink.total != d->plain.size()) {
            state.SkipWithError("ppmd_decode_entry failed");
            break;
        }
        benchmark::DoNotOptimize(sink.last);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d->plain.size()));
}

// Wall-clock time, or (with `cpu`) the child's CPU time as the manual time.
void seven_zip(benchmark::State& state, const Dataset* d, bool cpu)
{
    for (auto _ : state) {
        double seconds = 0;
        if (!run({"7z", "e", "-so", d->archive}, nullptr, &seconds)) {
            state.SkipWithError("7z e failed");
            break;
        }
        if (cpu)
            state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d->plain.size()));
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
    const size_t limit = 8 << 20;
    char pattern[] = "/tmp/ppmd_bench.XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string work = pattern;

    const std::pair<std::string, Bytes> plain[] = {
        {"text", text_data(limit)}, {"binary", binary_data(limit)}, {"runs", runs_data(limit)}};
    // Level 5 (order 6... 8, restart) and level 9 (order 12, cut-off), and a
    // small model that fills up.
    const std::pair<std::string, std::vector<std::string>> settings[] = {
        {"mx5", {"-mx=5"}}, {"mx9", {"-mx=9"}}, {"o8-1m", {"-mo=8", "-mmem=1m"}}};
    std::vector<std::unique_ptr<Dataset>> sets;
    for (const auto& p : plain) {
        if (p.second.size() < 4096)
            continue;   // not on this system
        for (const auto& s : settings) {
            std::unique_ptr<Dataset> d(new Dataset);
            d->name = p.first + "-" + s.first;
            d->plain = p.second;
            if (!make_archive(d.get(), work, s.second)) {
                fprintf(stderr, "ppmd_bench: 7z could not make %s\n", d->name.c_str());
                continue;
            }
            sets.push_back(std::move(d));
        }
    }
    for (const auto& d : sets) {
        benchmark::RegisterBenchmark(("ours/" + d->name).c_str(), ours, d.get())
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("7z/" + d->name).c_str(), seven_zip, d.get(), false)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("ours-cpu/" + d->name).c_str(), ours, d.get())
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("7z-cpu/" + d->name).c_str(), seven_zip, d.get(), true)
            ->Unit(benchmark::kMillisecond)->UseManualTime();
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\nThroughput of decoded bytes, ours / p7zip (7z e -so, its start included),"
           " by wall clock and by CPU time:\n");
    for (const auto& d : sets) {
        const double o = reporter.speed["ours/" + d->name + "/real_time"];
        const double z = reporter.speed["7z/" + d->name + "/real_time"];
        const double oc = reporter.speed["ours-cpu/" + d->name];
        const double zc = reporter.speed["7z-cpu/" + d->name + "/manual_time"];
        if (o > 0 && z > 0 && oc > 0 && zc > 0)
            printf("  %-14s %6.1f vs %6.1f MB/s: %.2fx   cpu %6.1f vs %6.1f MB/s: %.2fx   %zu -> %zu bytes\n",
                   d->name.c_str(), o / 1e6, z / 1e6, o / z, oc / 1e6, zc / 1e6, oc / zc, d->entry.size(),
                   d->plain.size());
    }
    benchmark::Shutdown();
    for (const auto& d : sets) {
        unlink(d->archive.c_str());
        unlink((work + "/" + d->name).c_str());
    }
    rmdir(work.c_str());
    return 0;
}
