// Lr4filter: two state-variable sections sharing one set of coefficients.

#include <math.h>
#include "lr4filter.h"
#include "filtlanes.h"
#include "simdlevel.h"

// The coefficient formulas use this value of pi, not M_PI: kept exactly, so
// that every setting gives the same coefficients everywhere.
static const float PI_XO = 3.141592f;


Lr4filter::Lr4filter (void) :
    a0 (0), a1 (0), a2 (0), a3 (0), g (0),
    s1 (0), s2 (0), s3 (0), s4 (0)
{
}


void Lr4filter::reset (void)
{
    s1 = s2 = s3 = s4 = 0;
}


void Lr4filter::setpars (float f, float s)
{
    if (isnan (f) || isnan (s)) return;
    if (f < 1e-6f) f = 1e-6f;
    if (f > 0.48f) f = 0.48f;
    if (s < -6.0f) s = -6.0f;
    if (s > -3.0f) s = -3.0f;
    // p runs from 0 (s = -6, two equal Butterworth sections) to 1 (s = -3,
    // a fourth-order Butterworth); the power law keeps the gain at f within
    // about 0.04 dB of s in between.
    float p = powf ((s + 6) / 3, 0.465f);
    float t = tanf (PI_XO * f);
    float b1 = 2 * t * cosf ((2 + p) * PI_XO / 8);
    float b2 = 2 * t * cosf ((2 - p) * PI_XO / 8);
    float D1 = 1 + b1 + t * t;
    float D2 = 1 + b2 + t * t;
    a0 = (2 * b1 + 4 * t * t) / D1;
    a1 = 4 * t * t / (2 * b1 + 4 * t * t);
    a2 = (2 * b2 + 4 * t * t) / D2;
    a3 = 4 * t * t / (2 * b2 + 4 * t * t);
    g = 1 / (D1 * D2);
}


void Lr4filter::process_hipass (int n, const float *inp, float *out)
{
    float z1 = s1, z2 = s2, z3 = s3, z4 = s4;

    for (int i = 0; i < n; i++)
    {
        float h1 = g * inp [i] - ((z1 + z2) + 1e-20f);
        float h2 = h1 - ((z3 + z4) + 1e-20f);
        out [i] = h2;
        z2 += a1 * z1;
        z1 += a0 * h1;
        z4 += a3 * z3;
        z3 += a2 * h2;
    }
    s1 = z1; s2 = z2; s3 = z3; s4 = z4;
}


void Lr4filter::process_lopass (int n, const float *inp, float *out)
{
    float z1 = s1, z2 = s2, z3 = s3, z4 = s4;
    float k1 = a0 * a1 * 0.25f;
    float k2 = a2 * a3 * 0.25f;

    for (int i = 0; i < n; i++)
    {
        float h1 = inp [i] - ((z1 + z2) + 1e-20f);
        z2 += a1 * z1;
        z1 += a0 * h1;
        float y1 = k1 * h1 + z2;
        float h2 = y1 - ((z3 + z4) + 1e-20f);
        z4 += a3 * z3;
        z3 += a2 * h2;
        out [i] = k2 * h2 + z4;
    }
    s1 = z1; s2 = z2; s3 = z3; s4 = z4;
}


void Lr4filter::process_band (Lr4filter &hp, Lr4filter &lp, int n, const float *inp, float *out)
{
    float h1 = hp.s1, h2 = hp.s2, h3 = hp.s3, h4 = hp.s4;
    float l1 = lp.s1, l2 = lp.s2, l3 = lp.s3, l4 = lp.s4;
    const float g = hp.g, b0 = hp.a0, b1 = hp.a1, b2 = hp.a2, b3 = hp.a3;
    const float a0 = lp.a0, a1 = lp.a1, a2 = lp.a2, a3 = lp.a3;
    const float k1 = a0 * a1 * 0.25f;
    const float k2 = a2 * a3 * 0.25f;

    for (int i = 0; i < n; i++)
    {
        float u1 = g * inp [i] - ((h1 + h2) + 1e-20f);
        float u2 = u1 - ((h3 + h4) + 1e-20f);
        h2 += b1 * h1;
        h1 += b0 * u1;
        h4 += b3 * h3;
        h3 += b2 * u2;
        float v1 = u2 - ((l1 + l2) + 1e-20f);
        l2 += a1 * l1;
        l1 += a0 * v1;
        float y1 = k1 * v1 + l2;
        float v2 = y1 - ((l3 + l4) + 1e-20f);
        l4 += a3 * l3;
        l3 += a2 * v2;
        out [i] = k2 * v2 + l4;
    }
    hp.s1 = h1; hp.s2 = h2; hp.s3 = h3; hp.s4 = h4;
    lp.s1 = l1; lp.s2 = l2; lp.s3 = l3; lp.s4 = l4;
}


void Lr4filter::process_multi (int simd, int mode, int n, int nch, Lr4filter *const *hp, Lr4filter *const *lp,
                               const float *const *inp, float *const *out)
{
    if (n <= 0 || nch <= 0 || mode < 1 || mode > 3) return;
    // One channel alone gains nothing from the lanes.
    if (nch > 1) switch (simd)
    {
    case SIMD_AVX512: vesk_avx512::lr4_multi (mode, n, nch, hp, lp, inp, out); return;
    case SIMD_AVX2: vesk_avx2::lr4_multi (mode, n, nch, hp, lp, inp, out); return;
    }
    for (int i = 0; i < nch; i++)
    {
        switch (mode)
        {
        case 1: hp [i]->process_hipass (n, inp [i], out [i]); break;
        case 2: lp [i]->process_lopass (n, inp [i], out [i]); break;
        default: process_band (*hp [i], *lp [i], n, inp [i], out [i]);
        }
    }
}
