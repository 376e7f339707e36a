#include "builder/crc32.h"

namespace {
constexpr Crc32Table make_table()
{
    Crc32Table table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.entry[n] = c;
    }
    return table;
}
constexpr Crc32Table kBuilt = make_table();
static_assert(kBuilt.entry[1] == 0x77073096u && kBuilt.entry[255] == 0x2D02EF8Du,
              "reflected 0xEDB88320 table");
}  // namespace

const Crc32Table kCrc32Table = kBuilt;

uint32_t crc32_update(uint32_t crc, const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t reg = ~crc;
    for (size_t i = 0; i < size; ++i)
        reg = crc32_step(reg, p[i]);
    return ~reg;
}
