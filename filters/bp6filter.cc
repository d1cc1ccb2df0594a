// Bp6filter: three (or two) state-variable sections with fixed coefficients.

#include <string.h>
#include "bp6filter.h"
#include "filtlanes.h"
#include "simdlevel.h"


int bp6_tables (int fsamp, const Bp6table **oct1, const Bp6table **oct3)
{
    static const Bp6table *const T [5][2] =
    {
        { &Oct1filt44, &Oct3filt44 },
        { &Oct1filt48, &Oct3filt48 },
        { &Oct1filt88, &Oct3filt88 },
        { &Oct1filt96, &Oct3filt96 },
        { &Oct1filt192, &Oct3filt192 }
    };
    for (int i = 0; i < 5; i++)
    {
        if ((int) T [i][0]->fsamp == fsamp)
        {
            *oct1 = T [i][0];
            *oct3 = T [i][1];
            return 0;
        }
    }
    *oct1 = *oct3 = nullptr;
    return -1;
}


Bp6filter::Bp6filter (void) :
    param (nullptr)
{
    reset ();
}


void Bp6filter::reset (void)
{
    z1 = z2 = z3 = z4 = z5 = z6 = 0;
}


void Bp6filter::setparam (const Bp6param *p)
{
    if (p == param) return;
    param = p;
    reset ();
}


void Bp6filter::process (int n, const float *inp, float *out)
{
    const Bp6param *P = param;
    if (!P)
    {
        if (n > 0) memset (out, 0, n * sizeof (float));
        return;
    }
    // Keeps the states away from denormal values.
    const double e = 1e-40f;
    const double c1 = P->c1, c2 = P->c2, c3 = P->c3, c4 = P->c4, c5 = P->c5, c6 = P->c6;
    const double gain = P->gain;
    double s1 = z1, s2 = z2, s3 = z3, s4 = z4, s5 = z5, s6 = z6;

    if (P->form == 2)
    {
        for (int i = 0; i < n; i++)
        {
            double e1 = inp [i] - ((c1 * s1 + c2 * s2) + e);
            double e2 = e1 - ((c3 * s3 + c4 * s4) + e);
            s4 += s3; s3 += e2; s2 += s1; s1 += e1;
            out [i] = (float) (gain * e2);
        }
    }
    else
    {
        const double k = (P->form == 1) ? 0.0 : 2.0;
        for (int i = 0; i < n; i++)
        {
            double e1 = inp [i] - ((c1 * s1 + c2 * s2) + e);
            double e2 = (2 * s1 + e1) - ((c3 * s3 + c4 * s4) + e);
            double e3 = (2 * s3 + e2) - ((c5 * s5 + c6 * s6) + e);
            double y = k * s5 + e3;
            s6 += s5; s5 += e3; s4 += s3; s3 += e2; s2 += s1; s1 += e1;
            out [i] = (float) (gain * y);
        }
    }
    z1 = s1; z2 = s2; z3 = s3; z4 = s4; z5 = s5; z6 = s6;
}


void Bp6filter::process_multi (int simd, int n, int nch, Bp6filter *const *F, const float *const *inp, float *const *out)
{
    Bp6filter   *f [100];
    const float *p [100];
    float       *q [100];
    int          k = 0;

    if (n <= 0 || nch <= 0) return;
    if (nch > 100) nch = 100;
    for (int i = 0; i < nch; i++)
    {
        // Filters without a record write zeros; the others go to the lanes.
        // One channel alone gains nothing from the lanes.
        if (simd == SIMD_SCALAR || nch == 1 || !F [i]->param) F [i]->process (n, inp [i], out [i]);
        else
        {
            f [k] = F [i];
            p [k] = inp [i];
            q [k++] = out [i];
        }
    }
    if (!k) return;
    if (simd == SIMD_AVX512) vesk_avx512::bp6_multi (n, k, f, p, q);
    else vesk_avx2::bp6_multi (n, k, f, p, q);
}
