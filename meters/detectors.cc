// Level detectors of the noise meter.

#include <math.h>
#include "detectors.h"


// ---- RMSdetect: m += (x^2 - m) w, time constant 1 / 8 s or 1 s.

RMSdetect::RMSdetect (void) : slow (false), w (0), m (0) {}

int RMSdetect::init (int fsamp, bool slow_)
{
    slow = slow_;
    w = 8.0f / fsamp;
    reset ();
    return 0;
}

void RMSdetect::reset (void)
{
    m = 0.0f;
}

void RMSdetect::process (int n, const float *x)
{
    float  ww = slow ? w * 0.125f : w;
    float  mm;

    if (n <= 0) return;
    mm = m + 1e-30f;

    for (int i = 0; i < n; i++) mm += (x [i] * x [i] - mm) * ww;
    m = mm;
}

float RMSdetect::reading (void) const
{
    return sqrtf (2.0f * m);
}


// ---- VUMdetect: two coupled one-pole stages; feeding 0.55 q back into the
// first makes the step response second order (1.3 % overshoot, 99 % in 0.3 s).

VUMdetect::VUMdetect (void) : slow (false), w (0), p (0), q (0) {}

int VUMdetect::init (int fsamp, bool slow_)
{
    slow = slow_;
    w = 10.6f / fsamp;
    reset ();
    return 0;
}

void VUMdetect::reset (void)
{
    p = q = 0.0f;
}

void VUMdetect::process (int n, const float *x)
{
    float  ww = slow ? w * 0.1f : w;
    float  pp, qq;

    if (n <= 0) return;
    pp = p + 1e-30f;
    qq = q;

    for (int i = 0; i < n; i++)
    {
        pp += (fabsf (x [i]) - 0.55f * qq - pp) * ww;
        qq += (pp - qq) * ww;
    }
    p = pp - 1e-30f;
    q = (qq > 0.0f) ? qq : 0.0f;
}

float VUMdetect::reading (void) const
{
    return 2.435f * q;
}


// ---- Itu468detect: each stage decays, then charges towards its input when
// the input is above it.

Itu468detect::Itu468detect (void) : a1 (0), r1 (0), a2 (0), r2 (0), p (0), q (0) {}

int Itu468detect::init (int fsamp)
{
    a1 = 670.0f / fsamp;
    r1 = 3.5f / fsamp;
    a2 = 6.6f / fsamp;
    r2 = 0.65f / fsamp;
    reset ();
    return 0;
}

void Itu468detect::reset (void)
{
    p = q = 0.0f;
}

void Itu468detect::process (int n, const float *x)
{
    float  pp = p, qq = q, v;

    for (int i = 0; i < n; i++)
    {
        v = fabsf (x [i]) + 1e-30f;
        pp -= pp * r1;
        if (pp < v) pp += (v - pp) * a1;
        qq -= qq * r2;
        if (qq < pp) qq += (pp - qq) * a2;
    }
    p = pp;
    q = qq;
}

float Itu468detect::reading (void) const
{
    return 1.1453f * q;
}
