// One channel of the level meter.

#include <math.h>
#include "kmeterdsp.h"
#include "meterlanes.h"
#include "filters/simdlevel.h"


Kmeterdsp::Kmeterdsp (void) :
    dc (0.0f),
    ms1 (0.0f),
    ms2 (0.0f),
    hold_cnt (0),
    rms (0.0f),
    peak (0.0f),
    read_flag (false),
    wdcf (0.0f),
    wrms (0.0f),
    nhold (0),
    fall (1.0f)
{
}


void Kmeterdsp::init (int fsamp, int fsize, float hold, float fall_db)
{
    float t = (float) fsize / fsamp;

    // 31.400002 is the single-precision product 2 x 3.14 x 5: a 5 Hz corner.
    wdcf = 31.400002f / fsamp;
    wrms = 9.72f / fsamp;
    nhold = (int)(hold / t + 0.5f);
    fall = powf (10.0f, -0.05f * fall_db * t);
}


void Kmeterdsp::start (void)
{
    if (read_flag.exchange (false, std::memory_order_relaxed)) rms.store (0.0f, std::memory_order_relaxed);
}


void Kmeterdsp::process (const float *p, int n)
{
    float  x, d, m1, m2, s, smax;

    start ();
    d = dc;
    m1 = ms1;
    m2 = ms2;
    smax = 0.0f;
    for (int i = 0; i < n; i++)
    {
        x = p ? p [i] : 0.0f;
        d += wdcf * (x - d);
        s = x - d;
        s *= s;
        if (s > smax) smax = s;
        m1 += wrms * (s - m1);
        m2 += wrms * (m1 - m2);
    }
    dc = d;
    ms1 = m1;
    ms2 = m2;
    finish (smax);
}


void Kmeterdsp::finish (float smax)
{
    float  r, q, pk;
    const float m2 = ms2;

    dc += 1e-25f;
    ms1 += 1e-25f;
    ms2 += 1e-25f;

    r = sqrtf (2.0f * m2);
    if (r > rms.load (std::memory_order_relaxed)) rms.store (r, std::memory_order_relaxed);

    q = sqrtf (smax);
    pk = peak.load (std::memory_order_relaxed);
    if (q > pk)
    {
        pk = q;
        hold_cnt = nhold;
    }
    else if (hold_cnt > 0) hold_cnt--;
    else pk = pk * fall + 1e-25f;
    peak.store (pk, std::memory_order_relaxed);
}


void Kmeterdsp::read (float *rms_out, float *peak_out)
{
    *rms_out = rms.load (std::memory_order_relaxed);
    *peak_out = peak.load (std::memory_order_relaxed);
    read_flag.store (true, std::memory_order_relaxed);
}


void Kmeterdsp::process_multi (int simd, Kmeterdsp *const *K, const float *const *p, int nch, int n)
{
    float smax [100];

    // One meter alone gains nothing from the lanes.
    if (simd == SIMD_SCALAR || nch == 1 || nch > 100)
    {
        for (int i = 0; i < nch; i++) K [i]->process (p [i], n);
        return;
    }
    if (nch <= 0) return;
    for (int i = 0; i < nch; i++) K [i]->start ();
    if (n > 0)
    {
        if (simd == SIMD_AVX512) vesk_avx512::kmeter_multi (n, nch, K, p, smax);
        else vesk_avx2::kmeter_multi (n, nch, K, p, smax);
    }
    else for (int i = 0; i < nch; i++) smax [i] = 0.0f;
    for (int i = 0; i < nch; i++) K [i]->finish (smax [i]);
}
