// Entry points of the meters' channel lanes, one set per instruction set
// (meterlanes_avx2.cc, meterlanes_avx512.cc); see filters/filtlanes.h.

#ifndef VESK_METERLANES_H
#define VESK_METERLANES_H

#include "kmeterdsp.h"
#include "nmeterdsp.h"

#define VESK_METERLANES_DECL                                                             \
    /* the period's loop of nch level meters; smax [i] gets meter i's largest square */ \
    void kmeter_multi (int n, int nch, Kmeterdsp *const *K, const float *const *inp, float *smax); \
    /* nch noise meters that all have the same kind of filter and detector */           \
    void nmeter_multi (int filt, int det, int n, int nch, Nmeterdsp *const *M,          \
                       const float *const *inp, float *const *out);

namespace vesk_avx2 { VESK_METERLANES_DECL }
namespace vesk_avx512 { VESK_METERLANES_DECL }

#endif
