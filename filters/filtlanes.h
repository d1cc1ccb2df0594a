// Entry points of the filters' channel lanes, one set per instruction set
// (filtlanes_avx2.cc, filtlanes_avx512.cc). Callers choose the set once per
// call from the level their object was built with (simdlevel.h); the plain
// code in each class is the scalar level. Each function runs nch channels,
// in groups side by side, with results identical to the plain code's.

#ifndef VESK_FILTLANES_H
#define VESK_FILTLANES_H

#include "lr4filter.h"
#include "bw8filter.h"
#include "bp6filter.h"
#include "svparam2.h"
#include "eqgain.h"

#define VESK_FILTLANES_DECL                                                              \
    /* mode 1 high-pass, 2 low-pass, 3 both */                                            \
    void lr4_multi (int mode, int n, int nch, Lr4filter *const *hp, Lr4filter *const *lp, \
                    const float *const *inp, float *const *out);                          \
    void bw8_multi (int mode, int n, int nch, Bw8filter *const *hp, Bw8filter *const *lp, \
                    const float *const *inp, float *const *out);                          \
    /* every filter has a record */                                                       \
    void bp6_multi (int n, int nch, Bp6filter *const *F, const float *const *inp, float *const *out); \
    /* the make-up gain, then the ns sections given (all active, at most 8) */            \
    void eq_multi (Eqgain *G, Svparam2 *const *S, int ns, int n, int nch,                 \
                   const float *const *inp, float *const *out);

namespace vesk_avx2 { VESK_FILTLANES_DECL }
namespace vesk_avx512 { VESK_FILTLANES_DECL }

#endif
