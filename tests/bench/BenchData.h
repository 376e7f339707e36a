// What the decoder benchmarks share: the data they run over (real text,
// machine code and short runs, the same on every run of one system), a
// source that gives it in the engine's 28 KiB blocks and a sink that only
// counts.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "builder/crc32.h"
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

// The regular files under `folder` whose names end in `suffix` (any when
// empty), in sorted order of their paths, so that every run of one system
// reads the same bytes.
inline void list_files(const std::string& folder, const std::string& suffix, std::vector<std::string>* out)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            list_files(path, suffix, out);
        else if (S_ISREG(st.st_mode) && (suffix.empty() || (name.size() > suffix.size() &&
                                                              name.compare(name.size() - suffix.size(),
                                                                           suffix.size(), suffix) == 0)))
            out->push_back(path);
    }
}

inline Bytes files_data(const std::string& folder, const std::string& suffix, size_t limit)
{
    std::vector<std::string> paths;
    list_files(folder, suffix, &paths);
    Bytes out;
    for (const std::string& path : paths) {
        if (out.size() >= limit)
            break;
        append_file(path, &out, limit);
    }
    return out;
}

// Real text: the system's C and C++ headers.
inline Bytes text_data(size_t limit)
{
    return files_data("/usr/include", ".h", limit);
}

// Machine code and data: the system's programs.
inline Bytes binary_data(size_t limit)
{
    return files_data("/usr/bin", "", limit);
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

// A little-endian value of n bytes.
inline uint32_t le(const Bytes& b, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; i--)
        v = (v << 8) | b[at + i];
    return v;
}

inline uint32_t crc_of(const Bytes& b)
{
    return crc32_update(0, b.data(), b.size());
}

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

// Counts and keeps the CRC-32 of what it is handed, as the engine's sink
// does.
class CrcSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        total += count;
        crc_ = crc32_update(crc_, data, count);
        return 0;
    }
    uint32_t crc() const { return crc_; }
    uint64_t total = 0;

private:
    uint32_t crc_ = 0;
};

}  // namespace bench_data
