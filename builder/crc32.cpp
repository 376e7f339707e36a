#include "builder/crc32.h"

#include "stub/engine/cpufeatures.h"

#if QL_X86_PATHS
#include <immintrin.h>
#endif

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

namespace {

uint32_t crc32_bytes(uint32_t reg, const uint8_t* p, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        reg = crc32_step(reg, p[i]);
    return reg;
}

#if QL_X86_PATHS
__attribute__((target("sse2,pclmul"))) inline __m128i fold(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Folding with carry-less multiplication: the register stands for the data
// as a polynomial, and a 128-bit piece moved n bits further on is the same
// piece multiplied by x^n, which is kept below 128 bits by multiplying its
// halves with x^(n+32) and x^(n-32) mod P (bit-reflected, shifted by one as
// the reflected product needs). Four pieces of 16 bytes go side by side;
// at the end the one piece left is run through the table like 16 bytes of
// data. Takes 64 bytes or more; answers the register after the whole
// 16-byte pieces and leaves `*taken` at their count.
__attribute__((target("sse2,pclmul"))) uint32_t crc32_fold(uint32_t reg, const uint8_t* p, size_t size,
                                                          size_t* taken)
{
    const __m128i by_512 = _mm_set_epi64x(0x1C6E41596, 0x154442BD4);   // x^480, x^544
    const __m128i by_128 = _mm_set_epi64x(0x0CCAA009E, 0x1751997D0);   // x^96, x^160
    const __m128i* in = reinterpret_cast<const __m128i*>(p);
    __m128i x0 = _mm_xor_si128(_mm_loadu_si128(in), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = _mm_loadu_si128(in + 1), x2 = _mm_loadu_si128(in + 2), x3 = _mm_loadu_si128(in + 3);
    size_t left = size - 64;
    for (in += 4; left >= 64; in += 4, left -= 64) {
        x0 = _mm_xor_si128(fold(x0, by_512), _mm_loadu_si128(in));
        x1 = _mm_xor_si128(fold(x1, by_512), _mm_loadu_si128(in + 1));
        x2 = _mm_xor_si128(fold(x2, by_512), _mm_loadu_si128(in + 2));
        x3 = _mm_xor_si128(fold(x3, by_512), _mm_loadu_si128(in + 3));
    }
    __m128i x = _mm_xor_si128(fold(x0, by_128), x1);
    x = _mm_xor_si128(fold(x, by_128), x2);
    x = _mm_xor_si128(fold(x, by_128), x3);
    for (; left >= 16; ++in, left -= 16)
        x = _mm_xor_si128(fold(x, by_128), _mm_loadu_si128(in));
    uint8_t last[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(last), x);
    *taken = size - left;
    return crc32_bytes(0, last, sizeof last);
}
#endif

}  // namespace

uint32_t crc32_update(uint32_t crc, const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t reg = ~crc;
#if QL_X86_PATHS
    if (size >= 64 && (ql_cpu_features() & kQlCpuPclmul)) {
        size_t taken;
        reg = crc32_fold(reg, p, size, &taken);
        p += taken;
        size -= taken;
    }
#endif
    return ~crc32_bytes(reg, p, size);
}
