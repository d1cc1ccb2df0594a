// Noise weighting filters. Coefficients were designed for the four supported
// rates and are stored exactly as single-precision values.

#include <math.h>
#include <string.h>
#include "weighting.h"


namespace {

const int RATES [4] = { 44100, 48000, 88200, 96000 };

// Index of fsamp in RATES, or -1.
int rate_index (int fsamp)
{
    for (int i = 0; i < 4; i++) if (RATES [i] == fsamp) return i;
    return -1;
}

// k, a1, a2, a3, a4 per rate.
const float ENB20K [4][5] =
{
    { 0.617251754f, 3.03653049f, 3.55941558f, 1.89264512f, 0.387436748f },
    { 0.42729345f, 2.32683301f, 2.2819531f, 1.03148007f, 0.196428701f },
    { 0.0426385403f, -1.02651918f, 1.07245898f, -0.486158788f, 0.122435629f },
    { 0.0314009935f, -1.32061863f, 1.29625952f, -0.618938625f, 0.145713508f }
};

// c4 of the two low-pass stages of the A and C chain, per rate.
const float IEC_C4 [4] = { 0.846f, 0.817f, 0.587f, 0.555f };

// c0, a11, a12, a21, a22, a31, a32, b0, b1, b2 per rate.
const float ITU468 [4][10] =
{
    { 0.413307726f, -0.733601987f, 0.259548753f, -0.611042559f, 0.230088547f,
      -0.180767685f, 0.409745306f, 1.31536317f, 0.779094219f, -0.0811942369f },
    { 0.387152165f, -0.841632009f, 0.304983497f, -0.656802416f, 0.237339929f,
      -0.33843556f, 0.437567085f, 0.986079991f, 0.548463881f, -0.0824651569f },
    { 0.245774791f, -1.38202071f, 0.565348625f, -0.977868795f, 0.286039591f,
      -1.21843922f, 0.640966058f, 0.0953455865f, 0.0366531871f, -0.0209609158f },
    { 0.228653446f, -1.43247437f, 0.591767311f, -1.05949152f, 0.321909368f,
      -1.29919708f, 0.664851367f, 0.0672632083f, 0.0211025383f, -0.0179727394f }
};

}


// ---- Enb20kfilter: k (1 + 1/z)^4 / (1 + a1/z + a2/z^2 + a3/z^3 + a4/z^4)

Enb20kfilter::Enb20kfilter (void) :
    bad_rate (true), k (0), a1 (0), a2 (0), a3 (0), a4 (0)
{
    reset ();
}


int Enb20kfilter::init (int fsamp)
{
    int i = rate_index (fsamp);
    reset ();
    if (i < 0)
    {
        bad_rate = true;
        return 1;
    }
    k  = ENB20K [i][0];
    a1 = ENB20K [i][1];
    a2 = ENB20K [i][2];
    a3 = ENB20K [i][3];
    a4 = ENB20K [i][4];
    bad_rate = false;
    return 0;
}


void Enb20kfilter::reset (void)
{
    w1 = w2 = w3 = w4 = 0.0f;
}


void Enb20kfilter::process (int n, const float *inp, float *out)
{
    float  w0, x;

    if (bad_rate)
    {
        if (n > 0) memset (out, 0, n * sizeof (float));
        return;
    }
    for (int i = 0; i < n; i++)
    {
        x = inp [i];
        w0 = (x + 1e-25f) - (((a1 * w1 + a2 * w2) + a3 * w3) + a4 * w4);
        out [i] = k * (6 * w2 + ((w1 + w3) * 4 + (w4 + w0)));
        w4 = w3;
        w3 = w2;
        w2 = w1;
        w1 = w0;
    }
}


// ---- Iec_ACfilter: two 20.599 Hz high-passes and two low-passes give C;
// the 107.652 Hz and 737.862 Hz high-passes added give A.

Iec_ACfilter::Iec_ACfilter (void) :
    bad_rate (true), c1 (0), c2 (0), c3 (0), c4 (0), gA (0), gC (0)
{
    reset ();
}


int Iec_ACfilter::init (int fsamp)
{
    const double F [3] = { 20.599, 107.652, 737.862 };
    float  c [3], e [3], G1, G2, G3;
    int    i = rate_index (fsamp);

    reset ();
    if (i < 0)
    {
        bad_rate = true;
        return 1;
    }
    for (int j = 0; j < 3; j++)
    {
        double d = F [j] / fsamp;
        e [j] = (float)(2 * M_PI * d);
        // (1 - 3d) offsets the corner shift of a one-pole at this ratio.
        c [j] = (float)((1 - 3 * d) * e [j]);
    }
    c1 = c [0];
    c2 = c [1];
    c3 = c [2];
    // Gains that restore 0 dB at 1 kHz.
    G1 = 4.0f / ((2.0f - e [0]) * (2.0f - e [0]));
    G2 = 2.0f / (2.0f - e [1]);
    G3 = 2.0f / (2.0f - e [2]);
    gA = (float)(1.257 * G1 * G2 * G3);
    gC = (float)(1.006 * G1);
    c4 = IEC_C4 [i];
    bad_rate = false;
    return 0;
}


void Iec_ACfilter::reset (void)
{
    h1 = h2 = h3 = h4 = 0.0f;
    l1 = l2 = 0.0f;
}


void Iec_ACfilter::process (int n, const float *inp, float *outA, float *outC)
{
    float  x, p, q, r, y, l2n;

    if (bad_rate)
    {
        if (n > 0)
        {
            if (outA) memset (outA, 0, n * sizeof (float));
            if (outC) memset (outC, 0, n * sizeof (float));
        }
        return;
    }
    for (int i = 0; i < n; i++)
    {
        x = inp [i];
        h1 += (x - h1 + 1e-25f) * c1;
        p = x - h1;
        h2 += (p - h2 + 1e-25f) * c1;
        q = p - h2;
        l1 += (q - l1) * c4;
        l2n = l2 + (l1 - l2) * c4;
        y = 0.75f * l2n + 0.25f * l2;
        l2 = l2n;
        if (outC) outC [i] = gC * y;
        h3 += (y - h3 + 1e-25f) * c2;
        r = y - h3;
        h4 += (r - h4 + 1e-25f) * c3;
        if (outA) outA [i] = (r - h4) * gA;
    }
}


// ---- Itu468filter: a first-order high-pass and three second-order sections.

Itu468filter::Itu468filter (void) :
    bad_rate (true), g (1), c0 (0), a11 (0), a12 (0), a21 (0), a22 (0),
    a31 (0), a32 (0), b0 (0), b1 (0), b2 (0)
{
    reset ();
}


int Itu468filter::init (int fsamp, bool ref2k)
{
    int i = rate_index (fsamp);

    reset ();
    g = ref2k ? G_REF2K : 1.0f;
    if (i < 0)
    {
        bad_rate = true;
        return 1;
    }
    const float *c = ITU468 [i];
    c0  = c [0];
    a11 = c [1];
    a12 = c [2];
    a21 = c [3];
    a22 = c [4];
    a31 = c [5];
    a32 = c [6];
    b0  = c [7];
    b1  = c [8];
    b2  = c [9];
    bad_rate = false;
    return 0;
}


void Itu468filter::reset (void)
{
    s0 = 0.0f;
    s11 = s12 = s21 = s22 = s31 = s32 = 0.0f;
}


void Itu468filter::process (int n, const float *inp, float *out)
{
    float  v, p, u, w, t;

    if (bad_rate)
    {
        if (n > 0) memset (out, 0, n * sizeof (float));
        return;
    }
    for (int i = 0; i < n; i++)
    {
        v = g * inp [i];
        s0 += (v - s0) * c0 + 1e-25f;
        p = v - s0;
        u = p - (a11 * s11 + a12 * s12);
        s12 = s11;
        s11 = u;
        w = u - (a21 * s21 + a22 * s22);
        s22 = s21;
        s21 = w;
        t = w - (a31 * s31 + a32 * s32);
        out [i] = (b0 * t + b1 * s31) + b2 * s32;
        s32 = s31;
        s31 = t;
    }
}
