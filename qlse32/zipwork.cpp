// The archive test, the append and the multi-volume check.
#include "qlse32/zipwork.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "builder/crc32.h"
#include "builder/zipscan.h"
#include "stub/engine/inflate.h"
#include "stub/engine/unzip.h"

namespace {

const uint32_t kChunk = 1u << 20;
const uint16_t kFlagEncrypted = 0x1;
const uint16_t kFlagDeferred = 0x8;
const uint16_t kFlagUtf8 = 0x800;

struct EndRecord {
    uint64_t offset = 0;
    uint16_t disk = 0;
    uint16_t directory_disk = 0;
    uint16_t entries = 0;
    uint32_t directory_size = 0;
    uint32_t directory_offset = 0;
};

bool read_end_record(QlseFile& zip, EndRecord* out)
{
    uint64_t size = zip.size();
    size_t tail_size = static_cast<size_t>(size < kZipEndSearchSize ? size : kZipEndSearchSize);
    std::vector<uint8_t> tail(tail_size);
    if (tail_size < 22 || !zip.read_at(size - tail_size, tail.data(), static_cast<uint32_t>(tail_size)))
        return false;
    int64_t at = find_end_record(tail.data(), tail_size, size);
    if (at < 0)
        return false;
    const uint8_t* e = tail.data() + (static_cast<uint64_t>(at) - (size - tail_size));
    out->offset = static_cast<uint64_t>(at);
    out->disk = zip_get16(e + 4);
    out->directory_disk = zip_get16(e + 6);
    out->entries = zip_get16(e + 10);
    out->directory_size = zip_get32(e + 12);
    out->directory_offset = zip_get32(e + 16);
    return true;
}

// One central-directory header in the directory's bytes.
struct CentralEntry {
    size_t at;  // offset of its signature in the directory
    uint16_t flags, method;
    uint32_t crc, compressed, uncompressed, local_offset;
    const uint8_t* name;
    uint16_t name_length;
};

// Walks the directory; false when a header is cut short or misplaced.
bool read_directory(const std::vector<uint8_t>& dir, std::vector<CentralEntry>* out)
{
    for (size_t at = 0; at < dir.size();) {
        if (dir.size() - at < 46 || zip_get32(&dir[at]) != kZipCentralSig)
            return false;
        const uint8_t* h = &dir[at];
        CentralEntry e;
        e.at = at;
        e.flags = zip_get16(h + 8);
        e.method = zip_get16(h + 10);
        e.crc = zip_get32(h + 16);
        e.compressed = zip_get32(h + 20);
        e.uncompressed = zip_get32(h + 24);
        e.name_length = zip_get16(h + 28);
        e.local_offset = zip_get32(h + 42);
        e.name = h + 46;
        size_t length = 46u + e.name_length + zip_get16(h + 30) + zip_get16(h + 32);
        if (dir.size() - at < length)
            return false;
        out->push_back(e);
        at += length;
    }
    return true;
}

bool load_directory(QlseFile& zip, const EndRecord& end, std::vector<uint8_t>* dir)
{
    if (static_cast<uint64_t>(end.directory_offset) + end.directory_size > end.offset)
        return false;
    dir->resize(end.directory_size);
    return end.directory_size == 0 ||
           zip.read_at(end.directory_offset, dir->data(), end.directory_size);
}

// --- the archive test

// The compressed bytes of one entry, read from the file.
class RangeSource : public QlByteSource {
public:
    RangeSource(QlseFile& file, uint64_t offset, uint64_t length)
        : m_file(file), m_next(offset), m_left(length)
    {
    }
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        if (m_left == 0)
            return 0;
        uint32_t n = capacity < m_left ? capacity : static_cast<uint32_t>(m_left);
        if (n > kChunk)
            n = kChunk;
        if (!m_file.read_at(m_next, buffer, n))
            return kReadFailed;
        m_next += n;
        m_left -= n;
        return static_cast<int32_t>(n);
    }

private:
    QlseFile& m_file;
    uint64_t m_next;
    uint64_t m_left;
};

// Takes decoded bytes: their CRC-32 and count; refuses more than expected.
class CheckSink : public QlByteSink {
public:
    CheckSink(QlseReporter& reporter, uint64_t expected) : m_reporter(reporter), m_expected(expected) {}
    int take(const uint8_t* data, uint32_t count) override
    {
        m_crc = crc32_update(m_crc, data, count);
        m_count += count;
        if (m_count > m_expected)
            return kQlDecodeBadData;
        return m_reporter.cancelled() ? kQlDecodeAborted : 0;
    }
    uint32_t m_crc = 0;
    uint64_t m_count = 0;

private:
    QlseReporter& m_reporter;
    uint64_t m_expected;
};

// 0 when the data decoded, else a decoder result.
int decode_entry(QlseFile& zip, const CentralEntry& e, uint64_t data_offset,
                 const SfxDecoders& decoders, CheckSink& sink, bool* supported)
{
    RangeSource source(zip, data_offset, e.compressed);
    *supported = true;
    switch (e.method) {
    case 0: {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
        for (;;) {
            int32_t n = source.fill(buffer.get(), kChunk);
            if (n == 0)
                return 0;
            if (n < 0)
                return kQlDecodeInvalid;
            if (int r = sink.take(buffer.get(), static_cast<uint32_t>(n)))
                return r;
        }
    }
    case 8:
    case 9: {
        std::unique_ptr<QlInflateState> state(new QlInflateState);
        std::unique_ptr<uint8_t[]> window(new uint8_t[kQlInflateMinWindow]);
        std::unique_ptr<uint8_t[]> input(new uint8_t[0x8000]);
        std::unique_ptr<uint8_t[]> out(new uint8_t[0x7000]);
        inflate_setup(state.get(), window.get(), kQlInflateMinWindow, input.get(), 0x8000);
        QlOutputWindow output = {out.get(), 0x7000, 0, &sink};
        int r = inflate_data(state.get(), e.method == 8 ? kQlDeflate : kQlDeflate64, &source, &output);
        return r != 0 ? r : output_window_flush(&output);
    }
    default:
        break;
    }
    SfxDecodeFunction decode = e.method == 14   ? decoders.lzma
                               : e.method == 96 ? decoders.jpeg
                               : e.method == 97 ? decoders.wavpack
                               : e.method == 98 ? decoders.ppmd
                                                : nullptr;
    if (decode == nullptr) {
        *supported = false;
        return kQlDecodeInvalid;
    }
    const uint32_t kBuffer = 1u << 20;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBuffer]);
    SfxDecodeJob job;
    job.source = &source;
    job.sink = &sink;
    job.compressed_size = e.compressed;
    job.uncompressed_size = e.uncompressed;
    job.flags = e.flags;
    job.buffer = buffer.get();
    job.buffer_size = kBuffer;
    return decode(job);
}

// Reports "<text>: <name>" through the reporter.
void report(QlseReporter& reporter, const char* text, const uint8_t* name, size_t length)
{
    std::vector<QlChar> line;
    for (const char* c = text; *c; ++c)
        line.push_back(static_cast<QlChar>(static_cast<unsigned char>(*c)));
    if (name != nullptr) {
        line.push_back(':');
        line.push_back(' ');
        for (size_t i = 0; i < length; ++i)
            line.push_back(name[i]);
    }
    line.push_back(0);
    reporter.error(line.data());
}

// The stub never reads the central directory: it walks the local headers
// from the front, each entry's data and descriptor behind its header, up to
// the directory. An entry that this walk cannot meet (a header inside
// another entry's data, two entries on one header, a gap between entries)
// would be listed but never extracted. True when the walk from the first
// entry meets every entry, in the order of their local headers, and ends at
// the directory; else `missed` is the first entry it cannot meet (null for a
// gap in front of the directory).
bool walk_meets_every_entry(QlseFile& zip, const std::vector<CentralEntry>& entries, uint64_t directory_offset,
                            const CentralEntry** missed)
{
    std::vector<const CentralEntry*> order;
    for (const CentralEntry& e : entries)
        order.push_back(&e);
    std::stable_sort(order.begin(), order.end(), [](const CentralEntry* a, const CentralEntry* b) {
        return a->local_offset < b->local_offset;
    });
    // What lies in front of the first entry (a stub, a split archive's
    // marker) is the builder's scan's to judge.
    uint64_t at = order.empty() ? directory_offset : order.front()->local_offset;
    uint8_t h[30];
    for (const CentralEntry* e : order) {
        *missed = e;
        if (e->local_offset != at || !zip.read_at(at, h, 30) || zip_get32(h) != kZipLocalSig)
            return false;
        // The data as the appended archive holds it: a deferred entry's
        // local header gets the directory's sizes.
        at += 30u + zip_get16(h + 26) + zip_get16(h + 28) + e->compressed;
        if (zip_get16(h + 6) & kFlagDeferred) {
            uint8_t sig[4];
            if (at + 4 > directory_offset || !zip.read_at(at, sig, 4))
                return false;
            at += zip_get32(sig) == kZipDescriptorSig ? 16 : 12;
        }
        if (at > directory_offset)
            return false;
    }
    *missed = nullptr;
    return at == directory_offset;
}

}  // namespace

QlseResult qlse_test_archive(QlseFile& zip, const SfxDecoders& decoders, QlseReporter& reporter)
{
    EndRecord end;
    std::vector<uint8_t> dir;
    std::vector<CentralEntry> entries;
    if (!read_end_record(zip, &end) || end.disk != 0 || end.directory_disk != 0 ||
        !load_directory(zip, end, &dir) || !read_directory(dir, &entries) ||
        entries.size() != end.entries) {
        report(reporter, "The Zip file's central directory is damaged", nullptr, 0);
        return kQlseFailed;
    }
    const CentralEntry* missed = nullptr;
    if (!walk_meets_every_entry(zip, entries, end.directory_offset, &missed)) {
        report(reporter, "The Zip file's central directory is damaged", missed ? missed->name : nullptr,
               missed ? missed->name_length : 0);
        return kQlseFailed;
    }
    uint64_t total = 0;
    for (const CentralEntry& e : entries)
        total += e.compressed;
    reporter.progress_start(total);
    uint64_t done = 0;
    for (const CentralEntry& e : entries) {
        if (reporter.cancelled())
            return kQlseCancelled;
        reporter.entry_name(e.name, e.name_length, (e.flags & kFlagUtf8) != 0);
        uint8_t h[30];
        std::vector<uint8_t> name(e.name_length + 1u);
        bool agree = static_cast<uint64_t>(e.local_offset) + 30 <= end.directory_offset &&
                     zip.read_at(e.local_offset, h, 30) && zip_get32(h) == kZipLocalSig &&
                     zip_get16(h + 26) == e.name_length && zip_get16(h + 8) == e.method &&
                     (zip_get16(h + 6) & kFlagEncrypted) == (e.flags & kFlagEncrypted) &&
                     zip.read_at(e.local_offset + 30u, name.data(), e.name_length) &&
                     memcmp(name.data(), e.name, e.name_length) == 0;
        uint16_t local_flags = agree ? zip_get16(h + 6) : 0;
        if (agree && !(local_flags & kFlagDeferred))
            agree = zip_get32(h + 14) == e.crc && zip_get32(h + 18) == e.compressed &&
                    zip_get32(h + 22) == e.uncompressed;
        uint64_t data = static_cast<uint64_t>(e.local_offset) + 30 + e.name_length + zip_get16(h + 28);
        if (agree)
            agree = data + e.compressed <= end.directory_offset;
        if (!agree) {
            report(reporter, "Local header and central directory disagree", e.name, e.name_length);
            return kQlseFailed;
        }
        // Entries that need a password are tested by the stub, which has it.
        if (!(e.flags & kFlagEncrypted)) {
            CheckSink sink(reporter, e.uncompressed);
            bool supported = true;
            int r = decode_entry(zip, e, data, decoders, sink, &supported);
            if (r == kQlDecodeAborted)
                return kQlseCancelled;
            if (!supported) {
                report(reporter, "Unsupported compression method", e.name, e.name_length);
                return kQlseFailed;
            }
            if (r != 0 || sink.m_count != e.uncompressed || sink.m_crc != e.crc) {
                report(reporter, "Bad CRC or damaged data", e.name, e.name_length);
                return kQlseFailed;
            }
        }
        done += e.compressed;
        reporter.progress_step(done);
    }
    return kQlseOk;
}

QlseResult qlse_append_archive(QlseFile& source, QlseFile& target, QlseReporter& reporter)
{
    EndRecord end;
    std::vector<uint8_t> dir;
    std::vector<CentralEntry> entries;
    if (!read_end_record(source, &end) || end.disk != 0 || end.directory_disk != 0 ||
        !load_directory(source, end, &dir) || !read_directory(dir, &entries)) {
        report(reporter, "The Zip file's central directory is damaged", nullptr, 0);
        return kQlseFailed;
    }
    const uint64_t base = target.size();
    const uint64_t size = source.size();
    if (base + size > 0xFFFFFFFFull) {
        report(reporter, "The result would be larger than 4 GB", nullptr, 0);
        return kQlseFailed;
    }
    const uint32_t shift = static_cast<uint32_t>(base);

    // Raise the offsets in the copy of the directory first, so that a
    // failure after the copy cannot leave an old offset behind.
    std::vector<uint8_t> deferred;  // local offsets of entries to fill, 4 bytes each
    for (const CentralEntry& e : entries) {
        uint8_t h[30];
        if (!source.read_at(e.local_offset, h, 30) || zip_get32(h) != kZipLocalSig) {
            report(reporter, "Local header not found", e.name, e.name_length);
            return kQlseFailed;
        }
        if (zip_get16(h + 6) & kFlagDeferred) {
            uint8_t sizes[4];
            zip_put32(sizes, static_cast<uint32_t>(&e - entries.data()));
            deferred.insert(deferred.end(), sizes, sizes + 4);
        }
        zip_put32(&dir[e.at + 42], e.local_offset + shift);
    }

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
    reporter.progress_start(size);
    for (uint64_t at = 0; at < size;) {
        if (reporter.cancelled())
            return kQlseCancelled;
        uint32_t n = size - at < kChunk ? static_cast<uint32_t>(size - at) : kChunk;
        if (!source.read_at(at, buffer.get(), n)) {
            report(reporter, "Error reading the Zip file", nullptr, 0);
            return kQlseFailed;
        }
        if (!target.write_at(base + at, buffer.get(), n)) {
            report(reporter, "Error writing the target file (disk full?)", nullptr, 0);
            return kQlseFailed;
        }
        at += n;
        reporter.progress_step(at);
    }

    bool written = true;
    for (size_t i = 0; i + 4 <= deferred.size(); i += 4) {
        const CentralEntry& e = entries[zip_get32(&deferred[i])];
        uint8_t values[12];
        zip_put32(values, e.crc);
        zip_put32(values + 4, e.compressed);
        zip_put32(values + 8, e.uncompressed);
        written = written && target.write_at(base + e.local_offset + 14, values, 12);
    }
    uint8_t directory_offset[4];
    zip_put32(directory_offset, end.directory_offset + shift);
    written = written && (dir.empty() ||
                          target.write_at(base + end.directory_offset, dir.data(),
                                          static_cast<uint32_t>(dir.size()))) &&
              target.write_at(base + end.offset + 16, directory_offset, 4);
    if (!written) {
        report(reporter, "Error writing the target file (disk full?)", nullptr, 0);
        return kQlseFailed;
    }
    return kQlseOk;
}

int qlse_check_multi_volume(QlseFile& zip, int* part)
{
    *part = 0;
    EndRecord end;
    if (!read_end_record(zip, &end))
        return 0;
    if (end.disk != 0)
        *part = end.disk + 1;
    return 1;
}

bool qlse_disk_label(int disk, char label[12])
{
    if (disk < 1 || disk > 999)
        return false;
    snprintf(label, 12, "PKBACK# %03d", disk);
    return true;
}
