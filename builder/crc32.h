// CRC-32 as Zip uses it: reflected polynomial 0xEDB88320, register preset to
// all ones, result complemented. One table, shared by the builder (header
// CRC), the stub (its own check) and the engine (every entry's data).
#pragma once

#include <cstddef>
#include <cstdint>

struct Crc32Table {
    uint32_t entry[256];
};
// Filled at compile time, so nothing has to build it at start.
extern const Crc32Table kCrc32Table;

// Continues a finished CRC over more bytes: start with 0, pass each result
// back in; the pieces give the same value as one call over all of them.
uint32_t crc32_update(uint32_t crc, const void* data, size_t size);

// The raw register form for byte loops: preset kCrc32Preset, feed with
// crc32_step, complement at the end (crc32_update does all three).
constexpr uint32_t kCrc32Preset = 0xFFFFFFFFu;
inline uint32_t crc32_step(uint32_t reg, uint8_t byte)
{
    return kCrc32Table.entry[(reg ^ byte) & 0xFF] ^ (reg >> 8);
}
