// Helpers of the tests of the block decoders (LZMA, WavPack): the generated
// Zip cases, a source and a sink that record what passes through them, and a
// run of an entry driver the way the engine runs it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "stub/engine/bytestream.h"
#include "stub/engine/unzip.h"

namespace decoder_cases {

typedef std::vector<uint8_t> Bytes;

const uint32_t kDecodeBuffer = 0x100000;   // the stub's 1 MiB decode buffer
const uint32_t kEngineBlock = 0x7000;      // the engine's input blocks

inline bool read_file(const std::string& path, Bytes* out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    out->clear();
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        out->insert(out->end(), block, block + n);
    std::fclose(f);
    return true;
}

struct ZipEntry {
    std::string name;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t size = 0;
    Bytes data;
};

inline uint32_t le(const Bytes& b, size_t at, int width)
{
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | b[at + i];
    return v;
}

// The entries of an archive, from its local headers.
inline std::vector<ZipEntry> read_entries(const Bytes& zip)
{
    std::vector<ZipEntry> entries;
    size_t pos = 0;
    while (pos + 30 <= zip.size() && le(zip, pos, 4) == 0x04034B50) {
        ZipEntry e;
        e.flags = static_cast<uint16_t>(le(zip, pos + 6, 2));
        e.method = static_cast<uint16_t>(le(zip, pos + 8, 2));
        const uint32_t csize = le(zip, pos + 18, 4);
        e.size = le(zip, pos + 22, 4);
        const size_t name = le(zip, pos + 26, 2), extra = le(zip, pos + 28, 2);
        e.name.assign(zip.begin() + pos + 30, zip.begin() + pos + 30 + name);
        const size_t start = pos + 30 + name + extra;
        if (start + csize > zip.size())
            break;
        e.data.assign(zip.begin() + start, zip.begin() + start + csize);
        entries.push_back(e);
        pos = start + csize;
    }
    return entries;
}

// Gives the bytes in pieces of at most `piece`; then the end of the input,
// or a read failure with `fail_at_end`.
class PieceSource : public QlByteSource {
public:
    PieceSource(const Bytes& data, size_t piece, bool fail_at_end = false)
        : data_(data), piece_(piece), fail_(fail_at_end) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        size_t n = std::min<size_t>({capacity, piece_, data_.size() - pos_});
        if (n == 0)
            return fail_ ? kReadFailed : 0;
        std::copy(data_.begin() + pos_, data_.begin() + pos_ + n, buffer);
        pos_ += n;
        return static_cast<int32_t>(n);
    }

private:
    const Bytes& data_;
    size_t piece_;
    bool fail_;
    size_t pos_ = 0;
};

// Keeps what it is handed and how; refuses with `refusal` at call `refuse_at`.
class RecordingSink : public QlByteSink {
public:
    int take(const uint8_t* data, uint32_t count) override
    {
        sizes.push_back(count);
        if (sizes.size() == refuse_at)
            return refusal;
        bytes.insert(bytes.end(), data, data + count);
        return 0;
    }
    Bytes bytes;
    std::vector<uint32_t> sizes;
    size_t refuse_at = 0;
    int refusal = 0;
};

struct DecodeRun {
    int result = -1;
    RecordingSink sink;
};

// Runs `decode` over one entry as the engine would: its data from the
// source, its sizes and flags from the local header, the 1 MiB buffer.
inline void run_entry(SfxDecodeFunction decode, const Bytes& data, uint64_t size, uint16_t flags, DecodeRun* run,
                      size_t piece = kEngineBlock, bool fail_at_end = false)
{
    PieceSource source(data, piece, fail_at_end);
    Bytes buffer(kDecodeBuffer);
    SfxDecodeJob job;
    job.source = &source;
    job.sink = &run->sink;
    job.compressed_size = data.size();
    job.uncompressed_size = size;
    job.flags = flags;
    job.buffer = buffer.data();
    job.buffer_size = kDecodeBuffer;
    run->result = decode(job);
}

// Every handover but the last fills the buffer; none is empty.
inline void expect_whole_buffers(const std::vector<uint32_t>& sizes)
{
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_GT(sizes[i], 0u);
        if (i + 1 < sizes.size()) {
            EXPECT_EQ(sizes[i], kDecodeBuffer);
        }
    }
}

// The message a decoder result ends the extraction with (unencrypted entry).
inline int message_of(int result)
{
    switch (result) {
    case kQlDecodeAborted: return kSfxTextUnzipAborted;
    case kQlDecodeNoMemory: return kSfxTextNoMemory;
    case kQlDecodeUnknownHeader: return kSfxTextUnknownHeader;
    default: return kSfxTextInvalidData;
    }
}

// A generated case: OUTDIR/<case>.zip with <case>.expected/ or <case>.fail.
// Decodes every entry of the case with `decode` and checks it against the
// expected tree, or checks that the first entry fails with the recorded
// message. Returns the entries it decoded.
inline size_t check_case(const std::string& dir, const std::string& name, SfxDecodeFunction decode,
                         uint16_t method)
{
    SCOPED_TRACE(name);
    Bytes zip, fail;
    EXPECT_TRUE(read_file(dir + "/" + name + ".zip", &zip)) << "generate the cases first";
    const std::vector<ZipEntry> entries = read_entries(zip);
    EXPECT_FALSE(entries.empty());
    const bool fails = read_file(dir + "/" + name + ".fail", &fail);
    for (const ZipEntry& e : entries) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.method, method);
        DecodeRun run;
        run_entry(decode, e.data, e.size, e.flags, &run);
        expect_whole_buffers(run.sink.sizes);
        if (fails) {
            EXPECT_NE(run.result, kQlDecodeOk);
            EXPECT_EQ(message_of(run.result), std::atoi(std::string(fail.begin(), fail.end()).c_str()));
            return 1;  // the extraction ends at the first failure
        }
        Bytes expected;
        EXPECT_TRUE(read_file(dir + "/" + name + ".expected/" + e.name, &expected));
        EXPECT_EQ(run.result, kQlDecodeOk);
        EXPECT_EQ(run.sink.bytes.size(), expected.size());
        EXPECT_TRUE(run.sink.bytes == expected);
    }
    return entries.size();
}

}  // namespace decoder_cases
