// Which vector instructions the multichannel filters and meters use: the
// widest this processor and its operating system support (SSE2 scalar code,
// AVX2 with FMA, AVX-512), or a narrower one named by the environment variable
// VESK_SIMD ("scalar", "avx2" or "avx512"), so that every path can be run
// and compared on one machine. Read when a processing object is built.

#ifndef VESK_SIMDLEVEL_H
#define VESK_SIMDLEVEL_H


enum { SIMD_SCALAR = 0, SIMD_AVX2 = 1, SIMD_AVX512 = 2 };

// The widest level the processor supports.
int simd_supported (void);
// The level to use now: simd_supported(), narrowed by VESK_SIMD when set.
int simd_level (void);
// Name of a level, for benchmarks and messages.
const char *simd_name (int level);

#endif
