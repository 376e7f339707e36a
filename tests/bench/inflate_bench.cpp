// Inflate against zlib's raw inflate on the same streams in the same run.
// Prints each side's throughput (of decoded bytes) and the ratio ours / zlib.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "stub/engine/inflate.h"
#include "tests/bench/RatioReporter.h"

// The benchmark supplies the library's error hooks itself.
void qlHostAssert(const char*, int) {}
void qlHostWin32Error(const char*, int) {}

namespace {

typedef std::vector<uint8_t> Bytes;

bool append_file(const std::string& path, Bytes* out, size_t limit)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    uint8_t buf[65536];
    size_t n;
    while (out->size() < limit && (n = fread(buf, 1, sizeof buf, f)) > 0)
        out->insert(out->end(), buf, buf + std::min(n, limit - out->size()));
    fclose(f);
    return true;
}

// Real text: the system's C headers.
Bytes text_data(size_t limit)
{
    Bytes out;
    if (DIR* dir = opendir("/usr/include")) {
        std::vector<std::string> names;
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name.size() > 2 && name.compare(name.size() - 2, 2, ".h") == 0)
                names.push_back(name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            append_file("/usr/include/" + name, &out, limit);
    }
    return out;
}

// Machine code and data: this program.
Bytes binary_data(size_t limit)
{
    Bytes out;
    append_file("/proc/self/exe", &out, limit);
    return out;
}

// Short runs and repeats at short distances, as in bitmaps and tables.
Bytes runs_data(size_t size)
{
    std::mt19937 rng(5);
    Bytes out;
    while (out.size() < size) {
        if (rng() % 2)
            out.insert(out.end(), 1 + rng() % 40, static_cast<uint8_t>(rng() % 8));
        else
            for (int i = 0, n = 1 + rng() % 12; i < n; ++i)
                out.push_back(out.size() > 4 ? out[out.size() - 1 - rng() % 4] : 0);
    }
    out.resize(size);
    return out;
}

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

class MemorySource : public QlByteSource {
public:
    explicit MemorySource(const Bytes& data) : data_(data) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        size_t n = std::min<size_t>(capacity, data_.size() - pos_);
        memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<int32_t>(n);
    }

private:
    const Bytes& data_;
    size_t pos_ = 0;
};

// Takes the output windows as the engine's sink does, without the file.
class CountingSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        total += count;
        last = data[count - 1];
        return 0;
    }
    uint64_t total = 0;
    uint8_t last = 0;
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
