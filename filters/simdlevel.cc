// Run-time choice of the vector instruction set.

#include <stdlib.h>
#include <string.h>
#include "simdlevel.h"


int simd_supported (void)
{
#if defined(__x86_64__) || defined(__i386__)
    // These also check that the operating system saves the wider registers.
    __builtin_cpu_init ();
    if (__builtin_cpu_supports ("avx512f")) return SIMD_AVX512;
    if (__builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma")) return SIMD_AVX2;
#endif
    return SIMD_SCALAR;
}


int simd_level (void)
{
    static const int supported = simd_supported ();
    int level = supported;
    const char *s = getenv ("VESK_SIMD");
    if (s)
    {
        int want = level;
        if (!strcmp (s, "scalar")) want = SIMD_SCALAR;
        else if (!strcmp (s, "avx2")) want = SIMD_AVX2;
        else if (!strcmp (s, "avx512")) want = SIMD_AVX512;
        // Never wider than the processor can run.
        if (want < level) level = want;
    }
    return level;
}


const char *simd_name (int level)
{
    switch (level)
    {
    case SIMD_AVX2: return "avx2";
    case SIMD_AVX512: return "avx512";
    default: return "scalar";
    }
}
