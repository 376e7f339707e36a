// Inflate against zlib's raw inflate on the same streams in the same run.
// Prints each side's throughput (of decoded bytes) and the ratio ours / zlib.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "stub/engine/inflate.h"
#include "tests/bench/BenchData.h"
#include "tests/bench/RatioReporter.h"

// The benchmark supplies the library's error hooks itself.
void qlHostAssert(const char*, int) {}
void qlHostWin32Error(const char*, int) {}

namespace {

using bench_data::Bytes;
using bench_data::CountingSink;
using bench_data::MemorySource;
using bench_data::binary_data;
using bench_data::runs_data;
using bench_data::text_data;

Bytes zlib_deflate(const Bytes& data, int level)
{
    z_stream zs = {};
    deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&zs, data.size()));
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

struct Dataset {
    std::string name;
    Bytes plain;
    Bytes stream;
};

const uint32_t kOutputWindow = 0x7000;

// The stub's buffers: a 1 MiB window, 28 KiB of input and of output window.
void ours(benchmark::State& state, const Dataset* d)
{
    Bytes window(0x100000), input(kOutputWindow), staging(kOutputWindow);
    std::unique_ptr<QlInflateState> s(new QlInflateState);
    inflate_setup(s.get(), window.data(), window.size(), input.data(), input.size());
    for (auto _ : state) {
        MemorySource source(d->stream);
        CountingSink sink;
        QlOutputWindow out = {staging.data(), kOutputWindow, 0, &sink};
        if (inflate_data(s.get(), kQlDeflate, &source, &out) != 0 || output_window_flush(&out) != 0 ||
            sink.total != d->plain.size()) {
            state.SkipWithError("inflate_data failed");
            break;
        }
        benchmark::DoNotOptimize(sink.last);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d->plain.size()));
}

// zlib at its fastest: the whole output in one buffer.
void zlib_whole(benchmark::State& state, const Dataset* d)
{
    Bytes out(d->plain.size());
    z_stream zs = {};
    inflateInit2(&zs, -15);
    for (auto _ : state) {
        inflateReset(&zs);
        zs.next_in = const_cast<Bytef*>(d->stream.data());
        zs.avail_in = static_cast<uInt>(d->stream.size());
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        if (inflate(&zs, Z_FINISH) != Z_STREAM_END) {
            state.SkipWithError("zlib inflate failed");
            break;
        }
        benchmark::DoNotOptimize(out.back());
    }
    inflateEnd(&zs);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d->plain.size()));
}

// zlib used the way the stub uses its decoder: 28 KiB of output at a time.
void zlib_windowed(benchmark::State& state, const Dataset* d)
{
    Bytes out(kOutputWindow);
    z_stream zs = {};
    inflateInit2(&zs, -15);
    for (auto _ : state) {
        inflateReset(&zs);
        zs.next_in = const_cast<Bytef*>(d->stream.data());
        zs.avail_in = static_cast<uInt>(d->stream.size());
        int rc;
        do {
            zs.next_out = out.data();
            zs.avail_out = kOutputWindow;
            rc = inflate(&zs, Z_NO_FLUSH);
            benchmark::DoNotOptimize(out[0]);
        } while (rc == Z_OK);
        if (rc != Z_STREAM_END) {
            state.SkipWithError("zlib inflate failed");
            break;
        }
    }
    inflateEnd(&zs);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d->plain.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    const size_t limit = 8 << 20;
    std::vector<std::unique_ptr<Dataset>> sets;
    const std::pair<std::string, Bytes> plain[] = {
        {"text", text_data(limit)}, {"binary", binary_data(limit)}, {"runs", runs_data(limit)}};
    for (const auto& p : plain) {
        if (p.second.size() < 4096)
            continue;   // not on this system
        for (int level : {1, 6, 9}) {
            std::unique_ptr<Dataset> d(new Dataset);
            d->name = p.first + "/level" + std::to_string(level);
            d->plain = p.second;
            d->stream = zlib_deflate(d->plain, level);
            sets.push_back(std::move(d));
        }
    }
    for (const auto& d : sets) {
        benchmark::RegisterBenchmark(("ours/" + d->name).c_str(), ours, d.get())->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("zlib/" + d->name).c_str(), zlib_whole, d.get())->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("zlib-28k/" + d->name).c_str(), zlib_windowed, d.get())
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\nThroughput of decoded bytes, ours / zlib (zlib with one output buffer; with 28 KiB windows):\n");
    for (const auto& d : sets) {
        const double o = reporter.speed["ours/" + d->name];
        const double z = reporter.speed["zlib/" + d->name];
        const double w = reporter.speed["zlib-28k/" + d->name];
        if (o > 0 && z > 0 && w > 0)
            printf("  %-16s %7.1f MB/s vs %7.1f MB/s: %.2fx   (vs %7.1f MB/s: %.2fx)   %zu -> %zu bytes\n",
                   d->name.c_str(), o / 1e6, z / 1e6, o / z, w / 1e6, o / w, d->stream.size(), d->plain.size());
    }
    benchmark::Shutdown();
    return 0;
}
