// Little-endian values in byte arrays, as every file format of the system
// stores them (Zip records, the header record, PE headers).
// Pure code: no Windows headers.
#pragma once

#include <cstdint>

inline uint16_t qlLoad16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t qlLoad32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t qlLoad64(const uint8_t* p)
{
    return qlLoad32(p) | static_cast<uint64_t>(qlLoad32(p + 4)) << 32;
}
