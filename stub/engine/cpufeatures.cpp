// CPUID, asked once.
#include "stub/engine/cpufeatures.h"

#if QL_X86_PATHS
#include <cpuid.h>
#endif

namespace {

const uint32_t kAsked = 1u << 31;

uint32_t g_detected = 0;     // kAsked once CPUID has answered
uint32_t g_limit = ~0u;

uint32_t ask_processor()
{
    uint32_t features = 0;
#if QL_X86_PATHS
    unsigned a, b, c, d;
    // __get_cpuid also finds out whether an old 32-bit processor has CPUID.
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        // Every path also needs SSE2.
        if (d & bit_SSE2) {
            if (c & bit_SSSE3)
                features |= kQlCpuSsse3;
            if (c & bit_SSE4_1)
                features |= kQlCpuSse41;
            if (c & bit_AES)
                features |= kQlCpuAesNi;
            if (c & bit_PCLMUL)
                features |= kQlCpuPclmul;
            if (__get_cpuid_max(0, nullptr) >= 7 && __get_cpuid_count(7, 0, &a, &b, &c, &d)) {
                if (b & bit_SHA)
                    features |= kQlCpuSha;
                if (b & bit_BMI2)
                    features |= kQlCpuBmi2;
            }
        }
    }
#endif
    return features | kAsked;
}

}  // namespace

uint32_t ql_cpu_detected_features()
{
    if (!(g_detected & kAsked))
        g_detected = ask_processor();
    return g_detected & ~kAsked;
}

uint32_t ql_cpu_features()
{
    return ql_cpu_detected_features() & g_limit;
}

void ql_cpu_limit_features(uint32_t mask)
{
    g_limit = mask;
}
