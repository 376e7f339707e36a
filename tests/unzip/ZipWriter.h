// A small Zip writer for test archives: local headers with any field as the
// test wants it (including lies), optional data descriptors, traditional
// encryption, and a central directory that the walk stops at.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "builder/crc32.h"
#include "stub/engine/crypt.h"

typedef std::vector<uint8_t> Bytes;

namespace zip_writer {

inline void put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

inline void put32(Bytes& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

inline void put64(Bytes& b, uint64_t v)
{
    put32(b, uint32_t(v));
    put32(b, uint32_t(v >> 32));
}

inline Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// Bytes that compress a little but not to nothing.
inline Bytes sample(size_t n, uint32_t seed = 1)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = uint8_t("Quolla engine test "[i % 19] ^ ((seed >> 24) & 3));
    }
    return b;
}

// Raw Deflate (no wrapper), as Zip stores it.
inline Bytes deflate(const Bytes& plain)
{
    z_stream z = {};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, plain.size()) + 16);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline uint32_t crc(const Bytes& b)
{
    return crc32_update(0, b.data(), b.size());
}

// One sub-field of an extra field.
inline Bytes extra_field(uint16_t id, const Bytes& data)
{
    Bytes b;
    put16(b, id);
    put16(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// The AES record: vendor version, "AE", strength 1-3, real method.
inline Bytes aes_field(uint16_t version, unsigned key_bits, uint16_t method)
{
    Bytes d;
    put16(d, version);
    d.push_back('A');
    d.push_back('E');
    d.push_back(uint8_t(key_bits / 64 - 1));
    put16(d, method);
    return extra_field(0x9901, d);
}

// The Unicode path: version 1, the CRC-32 of the stored name, UTF-8 text.
inline Bytes unicode_path_field(uint32_t name_crc, const std::string& name)
{
    Bytes d;
    d.push_back(1);
    put32(d, name_crc);
    d.insert(d.end(), name.begin(), name.end());
    return extra_field(0x7075, d);
}

enum Descriptor { kNoDescriptor, kSignedDescriptor, kBareDescriptor };

struct Entry {
    std::string name;
    Bytes plain;
    uint16_t method = 0;    // 0 and 8 are written from `plain`; others need `data`
    Bytes data;             // the stored bytes as they stand, when not empty or `raw`
    bool raw = false;       // `data` is the entry's data even when empty
    uint16_t flags = 0;
    uint16_t time = 0x7a3c; // 15:17:56
    uint16_t date = 0x5b8a; // 2025-12-10
    Bytes extra;
    Descriptor descriptor = kNoDescriptor;
    const char* password = nullptr;  // traditional encryption

    // Header fields as written, when the test wants them to lie.
    bool set_crc = false;
    uint32_t crc = 0;
    bool set_sizes = false;
    uint32_t compressed = 0, uncompressed = 0;
};

inline Entry stored(const std::string& name, const Bytes& plain)
{
    Entry e;
    e.name = name;
    e.plain = plain;
    return e;
}

inline Entry deflated(const std::string& name, const Bytes& plain)
{
    Entry e = stored(name, plain);
    e.method = 8;
    return e;
}

inline Bytes encrypt(const Entry& e, Bytes data, uint32_t crc_value)
{
    Bytes header(kQlCryptHeaderSize);
    for (size_t i = 0; i + 1 < header.size(); ++i)
        header[i] = uint8_t(i * 37 + 11);
    header.back() = crypt_check_byte(e.flags, e.time, crc_value);
    data.insert(data.begin(), header.begin(), header.end());
    QlZipCryptKeys keys;
    crypt_init_keys(&keys, e.password, strlen(e.password));
    for (uint8_t& b : data) {
        const uint8_t plain = b;
        b ^= crypt_decrypt_byte(&keys);
        crypt_update_keys(&keys, plain);
    }
    return data;
}

// The local header, name, extra field, data and descriptor of one entry.
inline Bytes local_entry(Entry e)
{
    Bytes data = e.data;
    if (!e.raw && data.empty())
        data = e.method == 8 ? deflate(e.plain) : e.method == 0 ? e.plain : Bytes();
    const uint32_t crc_value = e.set_crc ? e.crc : crc(e.plain);
    if (e.descriptor != kNoDescriptor)
        e.flags |= 8;
    if (e.password) {
        e.flags |= 1;
        data = encrypt(e, data, crc_value);
    }
    const uint32_t compressed = e.set_sizes ? e.compressed : uint32_t(data.size());
    const uint32_t uncompressed = e.set_sizes ? e.uncompressed : uint32_t(e.plain.size());
    Bytes b = {'P', 'K', 3, 4};
    put16(b, 20);
    put16(b, e.flags);
    put16(b, e.method);
    put16(b, e.time);
    put16(b, e.date);
    put32(b, crc_value);
    put32(b, compressed);
    put32(b, uncompressed);
    put16(b, uint32_t(e.name.size()));
    put16(b, uint32_t(e.extra.size()));
    b.insert(b.end(), e.name.begin(), e.name.end());
    b.insert(b.end(), e.extra.begin(), e.extra.end());
    b.insert(b.end(), data.begin(), data.end());
    if (e.descriptor == kSignedDescriptor) {
        b.insert(b.end(), {'P', 'K', 7, 8});
    }
    if (e.descriptor != kNoDescriptor) {
        put32(b, crc(e.plain));
        put32(b, uint32_t(data.size()));
        put32(b, uint32_t(e.plain.size()));
    }
    return b;
}

// The central directory as far as the walk reads it: its first signature,
// then an end record.
inline Bytes directory()
{
    Bytes b = {'P', 'K', 1, 2};
    b.resize(b.size() + 42, 0);
    b.insert(b.end(), {'P', 'K', 5, 6});
    b.resize(b.size() + 18, 0);
    return b;
}

inline Bytes archive(const std::vector<Entry>& entries, bool with_directory = true)
{
    Bytes b;
    for (const Entry& e : entries) {
        const Bytes one = local_entry(e);
        b.insert(b.end(), one.begin(), one.end());
    }
    if (with_directory) {
        const Bytes d = directory();
        b.insert(b.end(), d.begin(), d.end());
    }
    return b;
}

}  // namespace zip_writer
