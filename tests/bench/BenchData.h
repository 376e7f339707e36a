// What the decoder benchmarks share: the data they run over (real text,
// machine code and short runs, the same on every run of one system), a
// source that gives it in the engine's 28 KiB blocks and a sink that only
// counts.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "stub/engine/bytestream.h"

namespace bench_data {

typedef std::vector<uint8_t> Bytes;

inline bool append_file(const std::string& path, Bytes* out, size_t limit)
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
inline Bytes text_data(size_t limit)
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
inline Bytes binary_data(size_t limit)
{
    Bytes out;
    append_file("/proc/self/exe", &out, limit);
    return out;
}

// Short runs and repeats, as in bitmaps and tables.
inline Bytes runs_data(size_t size)
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

// Gives the data in the engine's 28 KiB blocks.
class MemorySource : public QlByteSource {
public:
    explicit MemorySource(const Bytes& data) : data_(data) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        size_t n = std::min<size_t>(std::min<size_t>(capacity, 0x7000), data_.size() - pos_);
        memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<int32_t>(n);
    }

private:
    const Bytes& data_;
    size_t pos_ = 0;
};

// Counts what it is handed (and keeps its last byte, so that nothing is
// optimised away).
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

}  // namespace bench_data
