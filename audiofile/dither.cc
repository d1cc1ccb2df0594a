// 16-bit quantiser with rectangular, triangular and noise-shaped dither.

#include <math.h>
#include <string.h>
#include "dither.h"

float Dither::_div = 0.0f;


// Rounds to the nearest integer (ties to even) and keeps the result inside
// +-32767, so that +1.0 and -1.0 map to symmetric codes.
static inline short quantise (float q)
{
    if (q > 32767.0f) q = 32767.0f;
    if (q < -32767.0f) q = -32767.0f;
    return (short) q;
}


Dither::Dither (void)
{
    _div = 4294967296.0f;
    reset ();
}


void Dither::reset (void)
{
    memset (_err, 0, sizeof (_err));
    _ind = SIZE - 1;
    _ran = 1234567;
}


void Dither::proc_rectangular (int n, const float *inp, short *out, int istep, int ostep)
{
    for (int k = 0; k < n; k++)
    {
        float z = inp [k * istep] * 32768.0f + (urand () - 0.5f);
        out [k * ostep] = quantise (rintf (z));
    }
}


// Triangular dither as the difference of successive uniform values: a
// high-pass noise of twice the rectangular variance.
void Dither::proc_triangular (int n, const float *inp, short *out, int istep, int ostep)
{
    float p = _err [0];
    for (int k = 0; k < n; k++)
    {
        float u = urand ();
        float z = (inp [k * istep] * 32768.0f + u) - p;
        p = u;
        out [k * ostep] = quantise (rintf (z));
    }
    _err [0] = p;
}


// Noise shaping: the five most recent errors feed back through the filter
// 1 - 2.033 z^-1 + 2.165 z^-2 - 1.959 z^-3 + 1.59 z^-4 - 0.615 z^-5, which
// moves the error power from the middle of the band to high frequencies.
void Dither::proc_lipschitz (int n, const float *inp, short *out, int istep, int ostep)
{
    for (int k = 0; k < n; k++)
    {
        const float *e = _err + _ind;
        float y = inp [k * istep] * 32768.0f - 2.033f * e [0] + 2.165f * e [1]
                  - 1.959f * e [2] + 1.59f * e [3] - 0.615f * e [4];
        float u1 = urand ();
        float u2 = urand ();
        float q = rintf ((y + u1) - u2);
        out [k * ostep] = quantise (q);
        if (--_ind < 0)
        {
            memcpy (_err + SIZE, _err, 4 * sizeof (float));
            _ind = SIZE - 1;
        }
        _err [_ind] = q - y;
    }
}
