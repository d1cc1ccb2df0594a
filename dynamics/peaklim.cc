// Multichannel look-ahead peak limiter.
//
// Peaks are measured per block of div1 samples (8 to 32 and more at very high
// rates). The gain each block needs stays in hist1 for as long as the block
// takes to pass the look-ahead delay, so the gain is already down when a peak
// reaches the output. A 500 Hz low-passed copy is watched per group of div2
// blocks, and the gain it needs is held by hist2 over 12 groups.

#include <math.h>
#include <string.h>
#include "peaklim.h"
#include "filters/simdlevel.h"


// One-pole smoothers and the low-pass keep their coefficients at or below 1:
// above that they would ring, and above 2 diverge (rates below a few kHz).
static inline float coeff (float w)
{
    return (w < 1.0f) ? w : 1.0f;
}

static inline float limit (float v, float lo, float hi)
{
    return (v < lo) ? lo : ((v > hi) ? hi : v);
}


Peaklim::Peaklim (void) :
    fsamp (0),
    nchan (0),
    div1 (8),
    div2 (8),
    delay (0),
    dsize (0),
    dmask (0),
    rindex (0),
    dbuff (nullptr),
    c1 (0),
    c2 (0),
    g0 (1.0f),
    dg (0.0f),
    m1 (0.0f),
    m2 (0.0f),
    w1 (0.0f),
    w2 (0.0f),
    wlf (0.0f),
    z1 (1.0f),
    z2 (1.0f),
    z3 (1.0f),
    gbuff (nullptr),
    zbuff (nullptr),
    g1 (1.0f),
    gt (1.0f),
    w3 (0.0f),
    simd (SIMD_SCALAR)
{
    memset (zlf, 0, sizeof (zlf));
}


Peaklim::~Peaklim (void)
{
    fini ();
}


void Peaklim::init (float fsamp_, int nchan_)
{
    int  c;

    fini ();
    fsamp = (fsamp_ >= 1.0f) ? fsamp_ : 1.0f;
    nchan = (nchan_ < 1) ? 1 : ((nchan_ > MAXCHAN) ? MAXCHAN : nchan_);
    if (fsamp > 130000) div1 = 32;
    else if (fsamp > 65000) div1 = 16;
    else div1 = 8;
    div2 = 8;
    c = (int) ceilf (0.0012f * fsamp / div1);
    // hist1 spans c + 1 blocks and holds at most 32 values: beyond about
    // 826 kHz the blocks grow instead, so the look-ahead stays covered.
    while (c + 1 > Histmin::SIZE)
    {
        div1 *= 2;
        c = (int) ceilf (0.0012f * fsamp / div1);
    }
    delay = div1 * c;
    for (dsize = 64; dsize < delay + div1; dsize *= 2);
    dmask = dsize - 1;
    rindex = 0;
    dbuff = new float * [nchan];
    for (int j = 0; j < nchan; j++)
    {
        dbuff [j] = new float [dsize];
        memset (dbuff [j], 0, dsize * sizeof (float));
    }
    gbuff = new float [div1];
    zbuff = new float [div1];
    memset (zbuff, 0, div1 * sizeof (float));
    c1 = div1;
    c2 = div2;
    g0 = 1.0f;
    dg = 0.0f;
    m1 = 0.0f;
    m2 = 0.0f;
    w1 = coeff (10.0f / delay);
    w2 = coeff (10.0f / (delay * div2));
    wlf = coeff (3140.0f / fsamp);
    z1 = z2 = z3 = 1.0f;
    memset (zlf, 0, sizeof (zlf));
    simd = simd_level ();
    hist1.init (c + 1);
    hist2.init (12);
    g1.store (1.0f, std::memory_order_relaxed);
    gt.store (1.0f, std::memory_order_relaxed);
    w3.store (coeff (1.0f / (0.01f * fsamp)), std::memory_order_relaxed);
}


void Peaklim::fini (void)
{
    if (dbuff)
    {
        for (int j = 0; j < nchan; j++) delete[] dbuff [j];
        delete[] dbuff;
        dbuff = nullptr;
    }
    delete[] gbuff;
    delete[] zbuff;
    gbuff = nullptr;
    zbuff = nullptr;
    nchan = 0;
}


void Peaklim::set_inpgain (float db)
{
    if (isnan (db)) return;
    g1.store (powf (10.0f, 0.05f * limit (db, -30.0f, 30.0f)), std::memory_order_relaxed);
}


void Peaklim::set_threshold (float db)
{
    if (isnan (db)) return;
    gt.store (powf (10.0f, -0.05f * limit (db, -30.0f, 0.0f)), std::memory_order_relaxed);
}


void Peaklim::set_release (float t)
{
    if (isnan (t) || fsamp <= 0) return;
    w3.store (coeff (1.0f / (limit (t, 0.001f, 1.0f) * fsamp)), std::memory_order_relaxed);
}


// The processing, shared with the AVX2 build (peaklim_avx2.cc), where
// MADD is a fused multiply-add.
#define MADD(a, b, c) ((a) * (b) + (c))
#include "peaklim_run.h"
#undef MADD


void Peaklim::process (int nframes, float **inp, float **out)
{
    if (simd >= SIMD_AVX2) vesk_avx2::peaklim_run (*this, nframes, inp, out);
    else run (*this, nframes, inp, out);
}
