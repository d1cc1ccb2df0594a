// Ambisonic panner: harmonics by closed formulas up to degree 4 and by
// realspharm above, with linear gain ramps.

#include <math.h>
#include <string.h>
#include "ambpan8.h"
#include "ramp.h"
#include "realspharm.h"


// Entry i serves the channels listed (ACN).
const float Ambpan8::Csemi [12] =
{
    1.0f,         //  1, 2, 3
    0.8660254f,   //  4, 5, 7, 8    sqrt(3)/2
    0.5f,         //  6
    0.7905694f,   //  9, 15         sqrt(10)/4
    1.9364917f,   // 10, 14         sqrt(15)/2
    0.6123724f,   // 11, 13         sqrt(6)/4
    0.5f,         // 12
    0.7395100f,   // 16, 24         sqrt(35)/8
    2.0916500f,   // 17, 23         sqrt(70)/4
    0.5590170f,   // 18, 22         sqrt(5)/4
    0.7905694f,   // 19, 21         sqrt(10)/4
    0.125f        // 20
};

const float Ambpan8::Cnorm [12] =
{
    1.7320508f,   // sqrt(3)
    1.9364917f,   // sqrt(15)/2
    1.1180340f,   // sqrt(5)/2
    2.0916500f,   // sqrt(70)/4
    5.1234756f,   // sqrt(105)/2
    1.6201852f,   // sqrt(42)/4
    1.3228757f,   // sqrt(7)/2
    2.2185299f,   // 3 sqrt(35)/8
    6.2749500f,   // 3 sqrt(70)/4
    1.6770510f,   // 3 sqrt(5)/4
    2.3717082f,   // 3 sqrt(10)/4
    0.375f
};


static float clamp_tramp (float t)
{
    return t > 1.0f ? 1.0f : (t > 0.0f ? t : 0.0f);
}


Ambpan8::Ambpan8 (int fsamp_, int degree_, bool semi_) :
    fsamp (fsamp_),
    degree (degree_ < 0 ? 0 : (degree_ > 8 ? 8 : degree_)),
    semi (semi_),
    azim (0.0f),
    elev (0.0f),
    tramp (0.0f),
    nack (0),
    nramp (0)
{
    memset (gcurr, 0, sizeof (gcurr));
    encode (0.0f, 0.0f, gcurr);
    memcpy (gtarg, gcurr, sizeof (gtarg));
}


Ambpan8::~Ambpan8 (void)
{
}


void Ambpan8::set_direction (float azim_, float elev_, float tramp_)
{
    if (!isfinite (azim_) || !isfinite (elev_)) return;
    const float v [3] = { (float) (azim_ * M_PI / 180), (float) (elev_ * M_PI / 180), clamp_tramp (tramp_) };
    request.publish (v);
}


void Ambpan8::encode (float azim_, float elev_, float *out)
{
    if (degree <= 4) encode4 (azim_, elev_, out);
    else realspharm (degree, azim_, elev_, out, semi);
}


void Ambpan8::encode4 (float a, float e, float *out)
{
    // Evaluated in double: in single precision the degree-4 polynomials lose
    // up to 1e-6 near the poles (35 z^4 rounds at 4e-6); in double the only
    // error left is the final rounding to float.
    const float *T = semi ? Csemi : Cnorm;
    const double x = cos ((double) a) * cos ((double) e);
    const double y = sin ((double) a) * cos ((double) e);
    const double z = sin ((double) e);

    out [0] = 1.0f;
    out [1] = T [0] * y;
    out [2] = T [0] * z;
    out [3] = T [0] * x;
    if (degree < 2) return;
    const double x2 = x * x, y2 = y * y, z2 = z * z;
    out [4] = T [1] * 2 * x * y;
    out [5] = T [1] * 2 * y * z;
    out [6] = T [2] * (3 * z2 - 1);
    out [7] = T [1] * 2 * x * z;
    out [8] = T [1] * (x2 - y2);
    if (degree < 3) return;
    out [9]  = T [3] * y * (3 * x2 - y2);
    out [10] = T [4] * 2 * x * y * z;
    out [11] = T [5] * y * (5 * z2 - 1);
    out [12] = T [6] * z * (5 * z2 - 3);
    out [13] = T [5] * x * (5 * z2 - 1);
    out [14] = T [4] * z * (x2 - y2);
    out [15] = T [3] * x * (x2 - 3 * y2);
    if (degree < 4) return;
    out [16] = T [7] * 4 * x * y * (x2 - y2);
    out [17] = T [8] * z * y * (3 * x2 - y2);
    out [18] = T [9] * 2 * x * y * (7 * z2 - 1);
    out [19] = T [10] * y * z * (7 * z2 - 3);
    out [20] = T [11] * (35 * z2 * z2 - 30 * z2 + 3);
    out [21] = T [10] * x * z * (7 * z2 - 3);
    out [22] = T [9] * (x2 - y2) * (7 * z2 - 1);
    out [23] = T [8] * z * x * (x2 - 3 * y2);
    out [24] = T [7] * (x2 * x2 - 6 * x2 * y2 + y2 * y2);
}


void Ambpan8::update (void)
{
    float v [3];

    if (!request.take (nack, v)) return;   // a writer is busy: try again next period
    azim = v [0];
    elev = v [1];
    tramp = v [2];
    nramp = (int) floorf (fsamp * tramp + 0.5f);
    encode (azim, elev, gtarg);
    if (nramp == 0) memcpy (gcurr, gtarg, (degree + 1) * (degree + 1) * sizeof (float));
}


template <bool ADD> void Ambpan8::run (int nframes, const float *inp, float **out)
{
    const int nch = (degree + 1) * (degree + 1);
    // Channel 0 has gain 1 and never ramps.
    const_gain<ADD> (out [0], inp, 1.0f, nframes);
    int pos = 0, left = nframes;
    while (left > 0)
    {
        int k;
        if (nramp > 0)
        {
            // Each gain moves by (target - present) / samples left per sample.
            k = left < nramp ? left : nramp;
            for (int c = 1; c < nch; c++)
            {
                const float d = (gtarg [c] - gcurr [c]) / nramp;
                gcurr [c] = ramp_gain<ADD> (out [c] + pos, inp + pos, gcurr [c], d, k);
            }
            nramp -= k;
        }
        else
        {
            k = left;
            for (int c = 1; c < nch; c++) const_gain<ADD> (out [c] + pos, inp + pos, gcurr [c], k);
        }
        pos += k;
        left -= k;
    }
}


void Ambpan8::process (int nframes, const float *inp, float **out, bool add)
{
    if (request.pending (nack)) update ();
    if (nframes <= 0) return;
    if (add) run<true> (nframes, inp, out);
    else run<false> (nframes, inp, out);
}
