// The limiter's processing built for AVX2 with fused multiply-adds; chosen at
// run time (see Peaklim::process and filters/simdlevel.h).

#include <math.h>
#include "peaklim.h"

namespace vesk_avx2 {

#if defined(__FMA__)
#define MADD(a, b, c) fmaf ((a), (b), (c))
#include "peaklim_run.h"
#undef MADD

void peaklim_run (Peaklim &P, int nframes, float **inp, float **out)
{
    run (P, nframes, inp, out);
}
#else
// Built for a processor without these instructions: never called.
void peaklim_run (Peaklim &, int, float **, float **) {}
#endif

}
