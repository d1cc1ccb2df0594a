// Ambisonic rotation: degree-1 matrix from the quaternion, higher degrees by
// the Ivanic-Ruedenberg recursion, applied with linear ramps.

#include <math.h>
#include "ambrot8.h"
#include "ramp.h"


static float clamp_tramp (float t)
{
    return t > 1.0f ? 1.0f : (t > 0.0f ? t : 0.0f);
}


Ambrot8::Ambrot8 (int fsamp_, int degree_) :
    fsamp (fsamp_),
    degree (degree_ < 0 ? 0 : (degree_ > 8 ? 8 : degree_)),
    qw (1.0f), qx (0.0f), qy (0.0f), qz (0.0f),
    tramp (0.0f),
    nack (0),
    nramp (0)
{
    for (int l = 0; l < 9; l++)
    {
        mtarg [l] = nullptr;
        mcurr [l] = nullptr;
        magics [l] = nullptr;
    }
    for (int l = 1; l <= degree; l++)
    {
        mtarg [l] = new Rmatrix (l);
        mcurr [l] = new Rmatrix (l);
        if (l >= 2) magics [l] = new RotMagics (l);
    }
}


Ambrot8::~Ambrot8 (void)
{
    for (int l = 0; l < 9; l++)
    {
        delete mtarg [l];
        delete mcurr [l];
        delete magics [l];
    }
}


void Ambrot8::set_quaternion (float w, float x, float y, float z, float tramp_)
{
    const float r = sqrtf (((w * w + x * x) + y * y) + z * z);
    if (!isnormal (r)) return;
    const float v [5] = { w / r, x / r, y / r, z / r, clamp_tramp (tramp_) };
    request.publish (v);
}


void Ambrot8::set_rotation (float angle, float x, float y, float z, float tramp_)
{
    const float h = angle * 0.5f;
    const float k = sinf (h) / sqrtf (x * x + y * y + z * z);
    if (!isnormal (k)) return;
    const float v [5] = { cosf (h), x * k, y * k, z * k, clamp_tramp (tramp_) };
    request.publish (v);
}


void Ambrot8::update (void)
{
    float v [5];

    if (!request.take (nack, v)) return;   // a writer is busy: try again next period
    qw = v [0];
    qx = v [1];
    qy = v [2];
    qz = v [3];
    tramp = v [4];
    nramp = (int) floorf (fsamp * tramp + 0.5f);
    if (degree < 1) return;
    newmatrix1 ();
    if (nramp == 0) mcurr [1]->copy (*mtarg [1]);
    for (int l = 2; l <= degree; l++)
    {
        newmatrixd (l);
        if (nramp == 0) mcurr [l]->copy (*mtarg [l]);
    }
}


void Ambrot8::newmatrix1 (void)
{
    // Rows and columns in channel order y, z, x.
    Rmatrix &M = *mtarg [1];
    const float w = qw, x = qx, y = qy, z = qz;
    M (-1, -1) = 1 - 2 * (x * x + z * z);
    M (-1,  0) = 2 * (y * z - x * w);
    M (-1,  1) = 2 * (x * y + w * z);
    M ( 0, -1) = 2 * (y * z + x * w);
    M ( 0,  0) = 1 - 2 * (x * x + y * y);
    M ( 0,  1) = 2 * (x * z - y * w);
    M ( 1, -1) = 2 * (x * y - w * z);
    M ( 1,  0) = 2 * (x * z + y * w);
    M ( 1,  1) = 1 - 2 * (y * y + z * z);
}


float Ambrot8::funcP (int l, int a, int b, int i)
{
    const Rmatrix &R1 = *mtarg [1];
    const Rmatrix &Mp = *mtarg [l - 1];
    if (b == l)  return R1 (i, 1) * Mp (a, l - 1) - R1 (i, -1) * Mp (a, -l + 1);
    if (b == -l) return R1 (i, 1) * Mp (a, -l + 1) + R1 (i, -1) * Mp (a, l - 1);
    return R1 (i, 0) * Mp (a, b);
}


float Ambrot8::funcV (int l, int m, int n)
{
    const float SQRT2 = 1.4142135f;
    if (m == 0)  return funcP (l, 1, n, 1) + funcP (l, -1, n, -1);
    if (m == 1)  return SQRT2 * funcP (l, 0, n, 1);
    if (m > 1)   return funcP (l, m - 1, n, 1) - funcP (l, -m + 1, n, -1);
    if (m == -1) return SQRT2 * funcP (l, 0, n, -1);
    return funcP (l, -m - 1, n, -1) + funcP (l, m + 1, n, 1);
}


float Ambrot8::funcW (int l, int m, int n)
{
    if (m > 0) return funcP (l, m + 1, n, 1) + funcP (l, -m - 1, n, -1);
    if (m < 0) return funcP (l, m - 1, n, 1) - funcP (l, -m + 1, n, -1);
    return 0.0f;
}


void Ambrot8::newmatrixd (int l)
{
    Rmatrix &M = *mtarg [l];
    const RotMagics &G = *magics [l];
    for (int m = -l; m <= l; m++)
    {
        const int am = m < 0 ? -m : m;
        const float u = G.ufact [am], v = G.vfact [am], w = G.wfact [am];
        for (int n = -l; n <= l; n++)
        {
            // Terms whose factor is zero would read outside degree l-1.
            float e = v * funcV (l, m, n);
            if (u != 0.0f) e += u * funcP (l, m, n, 0);
            if (w != 0.0f) e -= w * funcW (l, m, n);
            M (m, n) = e / G.denom [n < 0 ? -n : n];
        }
    }
}


void Ambrot8::process0 (float **inp, float **out, int offset, int nframes)
{
    for (int l = 1; l <= degree; l++)
    {
        const Rmatrix &M = *mcurr [l];
        const int c0 = l * l + l;
        for (int i = -l; i <= l; i++)
        {
            float *q = out [c0 + i] + offset;
            const_gain<false> (q, inp [c0 - l] + offset, M (i, -l), nframes);
            for (int j = -l + 1; j <= l; j++) const_gain<true> (q, inp [c0 + j] + offset, M (i, j), nframes);
        }
    }
}


void Ambrot8::process1 (float **inp, float **out, int offset, int nframes, int nramp_)
{
    for (int l = 1; l <= degree; l++)
    {
        Rmatrix &C = *mcurr [l];
        const Rmatrix &T = *mtarg [l];
        const int c0 = l * l + l;
        for (int i = -l; i <= l; i++)
        {
            float *q = out [c0 + i] + offset;
            // Each element moves by (target - present) / samples left per sample.
            for (int j = -l; j <= l; j++)
            {
                const float c = C (i, j);
                const float d = (T (i, j) - c) / nramp_;
                if (j == -l) C (i, j) = ramp_gain<false> (q, inp [c0 + j] + offset, c, d, nframes);
                else C (i, j) = ramp_gain<true> (q, inp [c0 + j] + offset, c, d, nframes);
            }
        }
    }
}


void Ambrot8::process (int nframes, float **inp, float **out)
{
    if (request.pending (nack)) update ();
    if (nframes <= 0) return;
    const float *p = inp [0];
    float *q = out [0];
    for (int s = 0; s < nframes; s++) q [s] = p [s];
    int offset = 0, left = nframes;
    while (left > 0)
    {
        int k;
        if (nramp > 0)
        {
            k = left < nramp ? left : nramp;
            process1 (inp, out, offset, k, nramp);
            nramp -= k;
        }
        else
        {
            k = left;
            process0 (inp, out, offset, k);
        }
        offset += k;
        left -= k;
    }
}
