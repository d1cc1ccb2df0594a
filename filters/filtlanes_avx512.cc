// The filters' channel lanes built for AVX512: see filtlanes.h and lanes.h.

#include "filtlanes.h"

#if defined(__AVX512F__)
#include <immintrin.h>
// GCC 12's own AVX-512 header leaves vectors undefined on purpose and warns.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace vesk_avx512 {
#include "lanes.h"
#include "filtkern.h"
}

#else
// Built for a processor without these instructions: never called.
namespace vesk_avx512 {
void lr4_multi (int, int, int, Lr4filter *const *, Lr4filter *const *, const float *const *, float *const *) {}
void bw8_multi (int, int, int, Bw8filter *const *, Bw8filter *const *, const float *const *, float *const *) {}
void bp6_multi (int, int, Bp6filter *const *, const float *const *, float *const *) {}
void eq_multi (Eqgain *, Svparam2 *const *, int, int, int, const float *const *, float *const *) {}
}
#endif
