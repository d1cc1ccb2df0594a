// The meters' channel lanes built for AVX512: see meterlanes.h and filters/lanes.h.

#include "meterlanes.h"

#if defined(__AVX512F__)
#include <immintrin.h>
// GCC 12's own AVX-512 header leaves vectors undefined on purpose and warns.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace vesk_avx512 {
#include "filters/lanes.h"
#include "meterkern.h"
}

#else
// Built for a processor without these instructions: never called.
namespace vesk_avx512 {
void kmeter_multi (int, int, Kmeterdsp *const *, const float *const *, float *) {}
void nmeter_multi (int, int, int, int, Nmeterdsp *const *, const float *const *, float *const *) {}
}
#endif
