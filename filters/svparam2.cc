// Svparam2: equaliser section.

#include <math.h>
#include <string.h>
#include "svparam2.h"
#include "eqgain.h"
#include "filtlanes.h"
#include "simdlevel.h"

// The coefficient formulas use this value of pi, not M_PI: kept exactly, so
// that every setting gives the same coefficients everywhere.
static const float PI_EQ = 3.141592f;


static float clampf (float v, float lo, float hi)
{
    return (v < lo) ? lo : ((v > hi) ? hi : v);
}


Svparam2::Svparam2 (int type_) :
    req_count (0),
    bypass (true),
    freq (0.1f),
    gain (1.0f),
    ack_count (0),
    mode (0),
    type (type_),
    freq_cur (0.1f),
    gain_cur (1.0f),
    dc0 (0), dc1 (0), dc2 (0), dc3 (0), dc4 (0)
{
    shape = shape_cur = (type < PEAK_FIXED) ? 0.0f : 1.0f;
    calcpar1 (0, freq, gain, shape);
    reset ();
}


void Svparam2::reset (void)
{
    memset (z1, 0, sizeof (z1));
    memset (z2, 0, sizeof (z2));
}


void Svparam2::setpars (float f, float g, float s)
{
    if (isnan (f) || isnan (g) || isnan (s)) return;
    freq = clampf (f, 1e-5f, (type == LOSHELF) ? LOSHELF_FMAX : 0.49f);
    gain = clampf (g, 0.1f, 10.0f);
    shape = (type < PEAK_FIXED) ? clampf (s, -1.0f, 1.0f) : clampf (s, 0.1f, 10.0f);
    req_count.store (req_count.load (std::memory_order_relaxed) + 1, std::memory_order_release);
}


// Next value on the way from cur to target: ratio steps of 1.25 while the
// target is more than 1.4 times away, then the target itself.
static float ratio_step (float cur, float target)
{
    if (target > 1.4f * cur) return cur * 1.25f;
    if (cur > 1.4f * target) return cur / 1.25f;
    return target;
}


void Svparam2::prepare (int nstep)
{
    bool   changed = false;
    float  G;

    if (nstep == 0)
    {
        calcpar1 (0, freq, gain, shape);
        mode = 1;
        return;
    }
    uint16_t req = req_count.load (std::memory_order_acquire);
    if (req == ack_count) return;
    G = bypass ? 1.0f : gain;
    if (freq != freq_cur)
    {
        freq_cur = ratio_step (freq_cur, freq);
        changed = true;
    }
    if (G != gain_cur)
    {
        if (G > 2.5f * gain_cur) gain_cur *= 2.0f;
        else if (gain_cur > 2.5f * G) gain_cur *= 0.5f;
        else gain_cur = G;
        changed = true;
    }
    if (shape != shape_cur)
    {
        if (type >= PEAK_FIXED) shape_cur = ratio_step (shape_cur, shape);
        else if (shape > shape_cur + 0.25f) shape_cur += 0.2f;
        else if (shape < shape_cur - 0.25f) shape_cur -= 0.2f;
        else shape_cur = shape;
        changed = true;
    }
    if (changed)
    {
        calcpar1 (nstep, freq_cur, gain_cur, shape_cur);
        mode = 2;
        return;
    }
    ack_count = req;
    if (fabsf (gain_cur - 1.0f) < 0.001f)
    {
        reset ();
        mode = 0;
    }
    else if (mode == 2)
    {
        calcpar1 (0, freq_cur, gain_cur, shape_cur);
        mode = 1;
    }
}


void Svparam2::calcpar1 (int nstep, float f, float g, float s)
{
    float  b0, b1, b2, b3, b4;

    if (type >= PEAK_FIXED)
    {
        if ((type == PEAK_SYMM) && (g < 1.0f)) s = s / g;
        else if (type == PEAK_GAINBW) s = s * sqrtf (3.16f / g);
        float t = tanf (PI_EQ * f);
        float D = 1 + s * t + t * t;
        float E = 2 * t * t + s * t;
        float r = (1 - 2 * t * t / E) * (g - 1);
        b0 = E * r / D;
        b1 = r;
        b2 = 0;
        b3 = 2 * E / D;
        b4 = 2 * t * t / E;
    }
    else
    {
        float m = (g < 1.0f) ? 1.0f / g : g;
        float k = s * (m - 1) / m;
        float t, u, a, p, b, q;
        if (type == LOSHELF)
        {
            t = tanf (5.0265474f * f);   // 1.6 pi f
            u = t * sqrtf (m);
        }
        else
        {
            t = tanf (1.9792030f * f);   // 0.63 pi f
            u = t / sqrtf (m);
        }
        if (g < 1.0f)
        {
            a = (2 - 1.6f * k) * u;
            p = u * u;
            b = (2 - 0.9f * k) * t;
            q = t * t;
        }
        else
        {
            a = (2 - 0.9f * k) * t;
            p = t * t;
            b = (2 - 1.6f * k) * u;
            q = u * u;
        }
        float D = 1 + a + p;
        float E = 2 * p + a;
        float D1 = 1 + b + q;
        float E1 = 2 * q + b;
        float h = (type == HISHELF) ? g : 1.0f;
        b0 = h * D1 / D - 1;
        b1 = h * E1 / E - 1;
        b2 = (type == LOSHELF) ? g - 1 : 0.0f;
        b3 = 2 * E / D;
        b4 = 2 * p / E;
    }
    if (nstep == 0)
    {
        c0 = b0; c1 = b1; c2 = b2; c3 = b3; c4 = b4;
    }
    else
    {
        dc0 = (b0 - c0) / nstep;
        dc1 = (b1 - c1) / nstep;
        dc2 = (b2 - c2) / nstep;
        dc3 = (b3 - c3) / nstep;
        dc4 = (b4 - c4) / nstep;
    }
}


// N channels at a time from channel i0: their recursions are independent, so
// running them side by side keeps the multipliers busy. While interpolating,
// every channel starts from the stored coefficients and applies the same
// increments, so one set of accumulators serves the whole group.
template <int N, bool INTERP>
void Svparam2::run (int nframes, float **data, const int *chan, int i0, double *end)
{
    int     c [N];
    double  a0 = c0, a1 = c1, a2 = c2, a3 = c3, a4 = c4;
    double  s1 [N], s2 [N];
    float  *p [N];

    for (int j = 0; j < N; j++)
    {
        c [j] = chan ? chan [i0 + j] : i0 + j;
        s1 [j] = z1 [c [j]];
        s2 [j] = z2 [c [j]];
        p [j] = data [i0 + j];
    }
    for (int n = 0; n < nframes; n++)
    {
        if (INTERP)
        {
            a0 += dc0; a1 += dc1; a2 += dc2; a3 += dc3; a4 += dc4;
        }
        for (int j = 0; j < N; j++)
        {
            double x = p [j][n];
            double d = x - s1 [j] - s2 [j];
            p [j][n] = (float) (((a0 * d + x) + a1 * s1 [j]) + a2 * s2 [j]);
            s2 [j] += a4 * s1 [j] + 1e-15;
            s1 [j] += a3 * d + 1e-15;
        }
    }
    for (int j = 0; j < N; j++)
    {
        z1 [c [j]] = s1 [j];
        z2 [c [j]] = s2 [j];
    }
    end [0] = a0; end [1] = a1; end [2] = a2; end [3] = a3; end [4] = a4;
}


template <bool INTERP>
void Svparam2::run_all (int nframes, int nchan, float **data, const int *chan, double *end)
{
    int i = 0;
    for (; i + 4 <= nchan; i += 4) run <4, INTERP> (nframes, data, chan, i, end);
    switch (nchan - i)
    {
    case 3: run <3, INTERP> (nframes, data, chan, i, end); break;
    case 2: run <2, INTERP> (nframes, data, chan, i, end); break;
    case 1: run <1, INTERP> (nframes, data, chan, i, end); break;
    }
}


void Svparam2::process1 (int nframes, int nchan, float **data, const int *chan)
{
    double end [5];

    if (mode == 0 || nchan <= 0 || nframes <= 0) return;
    if (mode == 1)
    {
        run_all <false> (nframes, nchan, data, chan, end);
        return;
    }
    run_all <true> (nframes, nchan, data, chan, end);
    c0 = (float) end [0];
    c1 = (float) end [1];
    c2 = (float) end [2];
    c3 = (float) end [3];
    c4 = (float) end [4];
}


void Svparam2::process_multi (int simd, Eqgain &G, Svparam2 *const *S, int ns, int n, int nch,
                              float **inp, float **out)
{
    Svparam2 *A [8];
    int       na = 0;

    if (n <= 0 || nch <= 0) return;
    for (int k = 0; k < ns && na < 8; k++) if (S [k]->mode) A [na++] = S [k];
    // One channel alone gains nothing from the lanes.
    if (simd == SIMD_SCALAR || nch == 1 || (na == 0 && G.mode == 0))
    {
        G.process (n, nch, inp, out);
        for (int k = 0; k < na; k++) A [k]->process1 (n, nch, out);
        return;
    }
    if (simd == SIMD_AVX512) vesk_avx512::eq_multi (&G, A, na, n, nch, inp, out);
    else vesk_avx2::eq_multi (&G, A, na, n, nch, inp, out);
}
