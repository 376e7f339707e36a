#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "builder/crc32.h"
#include "stub/engine/cpufeatures.h"

TEST(Crc32, KnownAnswers)
{
    struct Case {
        const char* text;
        uint32_t crc;
    };
    const Case cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(crc32_update(0, c.text, std::strlen(c.text)), c.crc);
    }
    const uint8_t zeros[32] = {};
    EXPECT_EQ(crc32_update(0, zeros, sizeof zeros), 0x190A55ADu);
}

TEST(Crc32, PiecesGiveTheSameValueAsOneCall)
{
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + (i >> 3));
    const uint32_t whole = crc32_update(0, data.data(), data.size());

    const size_t cuts[] = {0, 1, 7, 500, 999, 1000};
    for (size_t cut : cuts) {
        SCOPED_TRACE(cut);
        uint32_t crc = crc32_update(0, data.data(), cut);
        crc = crc32_update(crc, data.data() + cut, data.size() - cut);
        EXPECT_EQ(crc, whole);
    }

    uint32_t reg = kCrc32Preset;
    for (uint8_t b : data)
        reg = crc32_step(reg, b);
    EXPECT_EQ(~reg, whole);
}

// The folding path of processors with carry-less multiplication takes 64
// bytes and more; every length around its edges, and the portable path
// forced, must give the byte loop's value.
TEST(Crc32, EveryPathAndLengthGiveTheByteLoopsValue)
{
    std::vector<uint8_t> data(70000);
    uint32_t x = 1;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 23);
    }
    for (uint32_t features : {~0u, 0u}) {
        ql_cpu_limit_features(features);
        SCOPED_TRACE(features ? "this processor's path" : "portable");
        for (size_t start : {size_t(0), size_t(3)}) {
            uint32_t reg = kCrc32Preset;
            for (size_t n = 0; start + n <= data.size(); n = n < 300 ? n + 1 : n * 3 + 11) {
                reg = kCrc32Preset;
                for (size_t i = 0; i < n; ++i)
                    reg = crc32_step(reg, data[start + i]);
                ASSERT_EQ(crc32_update(0, data.data() + start, n), ~reg) << n << " bytes from " << start;
                // A register carried in from earlier data.
                ASSERT_EQ(crc32_update(0x12345678, data.data() + start, n),
                          [&] {
                              uint32_t r = ~0x12345678u;
                              for (size_t i = 0; i < n; ++i)
                                  r = crc32_step(r, data[start + i]);
                              return ~r;
                          }())
                    << n << " bytes after a CRC";
            }
        }
    }
    ql_cpu_limit_features(~0u);
}
