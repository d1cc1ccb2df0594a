// Bw8filter: four cascaded state-variable sections with Butterworth damping.

#include <math.h>
#include <string.h>
#include "bw8filter.h"
#include "filtlanes.h"
#include "simdlevel.h"

// The coefficient formulas use this value of pi, not M_PI: kept exactly, so
// that every setting gives the same coefficients everywhere.
static const float PI_BW = 3.141592f;

// Section dampings 2 cos (7 pi / 16), 2 cos (5 pi / 16), 2 cos (3 pi / 16), 2 cos (pi / 16).
static const float DAMP [4] = { 0.390181f, 1.11114f, 1.662939f, 1.961571f };


Bw8filter::Bw8filter (void) :
    g (0)
{
    memset (s, 0, sizeof (s));
    memset (c, 0, sizeof (c));
    memset (k, 0, sizeof (k));
}


void Bw8filter::reset (void)
{
    memset (s, 0, sizeof (s));
}


void Bw8filter::init1 (int i, float t, float d)
{
    float b = d * t;
    float D = 1 + b + t * t;
    c [2 * i] = (2 * b + 4 * t * t) / D;
    c [2 * i + 1] = 4 * t * t / (2 * b + 4 * t * t);
    k [i] = c [2 * i] * c [2 * i + 1] * 0.25f;
    g /= D;
}


void Bw8filter::init (float f)
{
    if (isnan (f)) return;
    if (f < FMIN) f = FMIN;
    if (f > FMAX) f = FMAX;
    float t = tanf (PI_BW * f);
    g = 1.0f;
    for (int i = 0; i < 4; i++) init1 (i, t, DAMP [i]);
}


void Bw8filter::prochighpass (int n, const float *inp, float *out, float gain)
{
    float G = gain * g;
    float a1 = s [0], b1 = s [1], a2 = s [2], b2 = s [3];
    float a3 = s [4], b3 = s [5], a4 = s [6], b4 = s [7];

    for (int i = 0; i < n; i++)
    {
        float h = G * inp [i];
        float y;
        y = h - ((b1 + a1) + 1e-20f); b1 += c [1] * a1; a1 += c [0] * y; h = y;
        y = h - ((b2 + a2) + 1e-20f); b2 += c [3] * a2; a2 += c [2] * y; h = y;
        y = h - ((b3 + a3) + 1e-20f); b3 += c [5] * a3; a3 += c [4] * y; h = y;
        y = h - ((b4 + a4) + 1e-20f); b4 += c [7] * a4; a4 += c [6] * y;
        out [i] = y;
    }
    s [0] = a1; s [1] = b1; s [2] = a2; s [3] = b2;
    s [4] = a3; s [5] = b3; s [6] = a4; s [7] = b4;
}


void Bw8filter::proclowpass (int n, const float *inp, float *out, float gain)
{
    float a1 = s [0], b1 = s [1], a2 = s [2], b2 = s [3];
    float a3 = s [4], b3 = s [5], a4 = s [6], b4 = s [7];

    for (int i = 0; i < n; i++)
    {
        float h = gain * inp [i];
        float y;
        y = h - ((b1 + a1) + 1e-20f); b1 += c [1] * a1; a1 += c [0] * y; h = k [0] * y + b1;
        y = h - ((b2 + a2) + 1e-20f); b2 += c [3] * a2; a2 += c [2] * y; h = k [1] * y + b2;
        y = h - ((b3 + a3) + 1e-20f); b3 += c [5] * a3; a3 += c [4] * y; h = k [2] * y + b3;
        y = h - ((b4 + a4) + 1e-20f); b4 += c [7] * a4; a4 += c [6] * y; h = k [3] * y + b4;
        out [i] = h;
    }
    s [0] = a1; s [1] = b1; s [2] = a2; s [3] = b2;
    s [4] = a3; s [5] = b3; s [6] = a4; s [7] = b4;
}


void Bw8filter::procbandpass (Bw8filter &hp, Bw8filter &lp, int n, const float *inp, float *out)
{
    float G = 1.0f * hp.g;
    float a1 = hp.s [0], b1 = hp.s [1], a2 = hp.s [2], b2 = hp.s [3];
    float a3 = hp.s [4], b3 = hp.s [5], a4 = hp.s [6], b4 = hp.s [7];
    float e1 = lp.s [0], f1 = lp.s [1], e2 = lp.s [2], f2 = lp.s [3];
    float e3 = lp.s [4], f3 = lp.s [5], e4 = lp.s [6], f4 = lp.s [7];
    const float *c = hp.c, *d = lp.c, *k = lp.k;

    for (int i = 0; i < n; i++)
    {
        float h = G * inp [i];
        float y;
        y = h - ((b1 + a1) + 1e-20f); b1 += c [1] * a1; a1 += c [0] * y; h = y;
        y = h - ((b2 + a2) + 1e-20f); b2 += c [3] * a2; a2 += c [2] * y; h = y;
        y = h - ((b3 + a3) + 1e-20f); b3 += c [5] * a3; a3 += c [4] * y; h = y;
        y = h - ((b4 + a4) + 1e-20f); b4 += c [7] * a4; a4 += c [6] * y; h = 1.0f * y;
        y = h - ((f1 + e1) + 1e-20f); f1 += d [1] * e1; e1 += d [0] * y; h = k [0] * y + f1;
        y = h - ((f2 + e2) + 1e-20f); f2 += d [3] * e2; e2 += d [2] * y; h = k [1] * y + f2;
        y = h - ((f3 + e3) + 1e-20f); f3 += d [5] * e3; e3 += d [4] * y; h = k [2] * y + f3;
        y = h - ((f4 + e4) + 1e-20f); f4 += d [7] * e4; e4 += d [6] * y; h = k [3] * y + f4;
        out [i] = h;
    }
    hp.s [0] = a1; hp.s [1] = b1; hp.s [2] = a2; hp.s [3] = b2;
    hp.s [4] = a3; hp.s [5] = b3; hp.s [6] = a4; hp.s [7] = b4;
    lp.s [0] = e1; lp.s [1] = f1; lp.s [2] = e2; lp.s [3] = f2;
    lp.s [4] = e3; lp.s [5] = f3; lp.s [6] = e4; lp.s [7] = f4;
}


void Bw8filter::process_multi (int simd, int mode, int n, int nch, Bw8filter *const *hp, Bw8filter *const *lp,
                               const float *const *inp, float *const *out)
{
    if (n <= 0 || nch <= 0 || mode < 1 || mode > 3) return;
    // One channel alone gains nothing from the lanes.
    if (nch > 1) switch (simd)
    {
    case SIMD_AVX512: vesk_avx512::bw8_multi (mode, n, nch, hp, lp, inp, out); return;
    case SIMD_AVX2: vesk_avx2::bw8_multi (mode, n, nch, hp, lp, inp, out); return;
    }
    for (int i = 0; i < nch; i++)
    {
        switch (mode)
        {
        case 1: hp [i]->prochighpass (n, inp [i], out [i], 1.0f); break;
        case 2: lp [i]->proclowpass (n, inp [i], out [i], 1.0f); break;
        default: procbandpass (*hp [i], *lp [i], n, inp [i], out [i]);
        }
    }
}
