// Inflate against libdeflate and zlib on the same raw Deflate streams in the
// same run. Ours streams as the stub does: the input in 28 KiB blocks, the
// 1 MiB window drained into the 28 KiB output window, whose sink keeps the
// CRC-32. libdeflate decompresses the whole buffer at once (its only way)
// and then takes its own CRC-32 of it; zlib decompresses into one output
// buffer. Then both sides without the CRC; and "the window drain" times what
// the stub's streaming costs beyond a whole-buffer decoder: the copy of
// every byte from the window into the output window.
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "stub/engine/inflate.h"
#include "tests/bench/BenchData.h"
#include "tests/bench/BenchTiming.h"

// The benchmark supplies the library's error hooks itself.
void qlHostAssert(const char*, int) {}
void qlHostWin32Error(const char*, int) {}

namespace {

using namespace bench_data;
using namespace bench_timing;

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
    const Bytes* plain;
    Bytes stream;
};

const uint32_t kBlock = 0x7000;

struct OurBuffers {
    Bytes window = Bytes(0x100000), input = Bytes(kBlock), staging = Bytes(kBlock);
    QlInflateState state;
    OurBuffers() { inflate_setup(&state, window.data(), window.size(), input.data(), input.size()); }
};

template <class Sink>
bool ours(OurBuffers* b, const Dataset& d, Sink* sink)
{
    MemorySource source(d.stream);
    QlOutputWindow out = {b->staging.data(), kBlock, 0, sink};
    return inflate_data(&b->state, kQlDeflate, &source, &out) == 0 && output_window_flush(&out) == 0 &&
           sink->total == d.plain->size();
}

}  // namespace

int main()
{
    const int runs = bench_runs(7);
    const size_t limit = 16 << 20;
    const Bytes text = text_data(limit), binary = binary_data(limit), runs_bytes = runs_data(limit);
    const std::pair<std::string, const Bytes*> plain[] = {{"text", &text}, {"binary", &binary}, {"runs", &runs_bytes}};
    std::vector<Dataset> sets;
    for (const auto& p : plain) {
        if (p.second->size() < 4096)
            continue;   // not on this system
        for (int level : {1, 6, 9})
            sets.push_back({p.first + "/level" + std::to_string(level), p.second, zlib_deflate(*p.second, level)});
    }

    std::unique_ptr<OurBuffers> buffers(new OurBuffers);
    libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
    z_stream zs = {};
    inflateInit2(&zs, -15);
    Bytes whole(limit);

    struct Row {
        Timing ours, ours_no_crc, libdeflate, libdeflate_crc, zlib, drain;
    };
    std::vector<Row> rows(sets.size());
    for (size_t i = 0; i < sets.size(); ++i) {
        const Dataset& d = sets[i];
        Row& row = rows[i];
        bool ok = true;
        for (int r = 0; r < runs && ok; ++r) {
            ok = time_in_process(&row.ours, [&] {
                CrcSink sink;
                return ours(buffers.get(), d, &sink) && sink.crc() == crc_of(*d.plain);
            });
            ok = ok && time_in_process(&row.ours_no_crc, [&] {
                CountingSink sink;
                return ours(buffers.get(), d, &sink);
            });
            ok = ok && time_in_process(&row.libdeflate_crc, [&] {
                size_t got = 0;
                return libdeflate_deflate_decompress(ld, d.stream.data(), d.stream.size(), whole.data(), whole.size(),
                                                     &got) == LIBDEFLATE_SUCCESS &&
                       libdeflate_crc32(0, whole.data(), got) == crc_of(*d.plain);
            });
            ok = ok && time_in_process(&row.libdeflate, [&] {
                size_t got = 0;
                return libdeflate_deflate_decompress(ld, d.stream.data(), d.stream.size(), whole.data(), whole.size(),
                                                     &got) == LIBDEFLATE_SUCCESS &&
                       got == d.plain->size();
            });
            ok = ok && time_in_process(&row.zlib, [&] {
                inflateReset(&zs);
                zs.next_in = const_cast<Bytef*>(d.stream.data());
                zs.avail_in = static_cast<uInt>(d.stream.size());
                zs.next_out = whole.data();
                zs.avail_out = static_cast<uInt>(whole.size());
                return inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.total_out == d.plain->size();
            });
            // The drain alone: every byte once from the window into the
            // output window, whose sink only counts.
            time_in_process(&row.drain, [&] {
                CountingSink sink;
                QlOutputWindow out = {buffers->staging.data(), kBlock, 0, &sink};
                for (size_t at = 0; at < d.plain->size(); at += buffers->window.size()) {
                    const size_t n = std::min(buffers->window.size(), d.plain->size() - at);
                    output_window_put(&out, buffers->window.data(), n);
                }
                output_window_flush(&out);
                return sink.total == d.plain->size();
            });
        }
        if (!ok)
            fprintf(stderr, "inflate_bench: %s failed\n", d.name.c_str());
    }

    print_header("Inflate with the CRC-32, decoded bytes", "libdeflate (whole buffer, its CRC-32)");
    for (size_t i = 0; i < sets.size(); ++i) {
        char note[96];
        snprintf(note, sizeof note, "%zu -> %zu bytes", sets[i].stream.size(), sets[i].plain->size());
        print_row(sets[i].name, static_cast<double>(sets[i].plain->size()), rows[i].ours, rows[i].libdeflate_crc,
                  note);
    }
    printf("\n");
    print_header("Inflate without the CRC-32, decoded bytes", "libdeflate (whole buffer)");
    for (size_t i = 0; i < sets.size(); ++i)
        print_row(sets[i].name, static_cast<double>(sets[i].plain->size()), rows[i].ours_no_crc,
                  rows[i].libdeflate);
    printf("\n");
    print_header("Inflate without the CRC-32, decoded bytes", "zlib (one output buffer)");
    for (size_t i = 0; i < sets.size(); ++i)
        print_row(sets[i].name, static_cast<double>(sets[i].plain->size()), rows[i].ours_no_crc, rows[i].zlib);
    printf("\nthe window drain alone (1 MiB window into the 28 KiB output window), share of ours without CRC:\n");
    for (size_t i = 0; i < sets.size(); ++i)
        printf("  %-22s %8.1f MB/s  %5.1f%%\n", sets[i].name.c_str(),
               sets[i].plain->size() / rows[i].drain.cpu / 1e6, 100.0 * rows[i].drain.cpu / rows[i].ours_no_crc.cpu);
    inflateEnd(&zs);
    libdeflate_free_decompressor(ld);
    return 0;
}
