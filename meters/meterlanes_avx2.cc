// The meters' channel lanes built for AVX2: see meterlanes.h and filters/lanes.h.

#include "meterlanes.h"

#if defined(__AVX2__)
#include <immintrin.h>


namespace vesk_avx2 {
#include "filters/lanes.h"
#include "meterkern.h"
}

#else
// Built for a processor without these instructions: never called.
namespace vesk_avx2 {
void kmeter_multi (int, int, Kmeterdsp *const *, const float *const *, float *) {}
void nmeter_multi (int, int, int, int, Nmeterdsp *const *, const float *const *, float *const *) {}
}
#endif
