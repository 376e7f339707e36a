// The processor's own instructions that the decoders have faster paths for,
// asked of the processor once (CPUID) and answered from then on. Every path
// that uses one of them is chosen at run time; the portable code serves
// processors without them and every other architecture.
//
// Pure code: no Windows headers, no allocation.
#pragma once

#include <cstdint>

enum QlCpuFeature : uint32_t {
    kQlCpuSsse3 = 1u << 0,   // byte shuffles (the SHA-1 message schedule)
    kQlCpuSse41 = 1u << 1,
    kQlCpuAesNi = 1u << 2,   // AES rounds
    kQlCpuSha = 1u << 3,     // SHA-1 rounds and message schedule
    kQlCpuPclmul = 1u << 4,  // carry-less multiplication (CRC-32 folding)
    kQlCpuBmi2 = 1u << 5,    // shifts without the count register, bit fields (Inflate)
};

// The features this processor has, less those a test has taken away.
uint32_t ql_cpu_features();

// What the processor itself reports, whatever a test has taken away.
uint32_t ql_cpu_detected_features();

// Tests: from now on offer only the features in `mask` (0 forces every
// portable path; ~0u offers all the processor has).
void ql_cpu_limit_features(uint32_t mask);

#if defined(__i386__) || defined(__x86_64__)
#define QL_X86_PATHS 1
#else
#define QL_X86_PATHS 0
#endif
