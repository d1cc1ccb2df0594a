// The filters' channel lanes built for AVX2: see filtlanes.h and lanes.h.

#include "filtlanes.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace vesk_avx2 {
#include "lanes.h"
#include "filtkern.h"
}

#else
// Built for a processor without these instructions: never called.
namespace vesk_avx2 {
void lr4_multi (int, int, int, Lr4filter *const *, Lr4filter *const *, const float *const *, float *const *) {}
void bw8_multi (int, int, int, Bw8filter *const *, Bw8filter *const *, const float *const *, float *const *) {}
void bp6_multi (int, int, Bp6filter *const *, const float *const *, float *const *) {}
void eq_multi (Eqgain *, Svparam2 *const *, int, int, int, const float *const *, float *const *) {}
}
#endif
