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
    w3 (0.0f)
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


// The 500 Hz low-pass of channels j0 .. j1 - 1 over the n samples at write
// position wp of their delay lines, into zlf and m2. zlf += wlf (x - zlf) +
// 1e-20 is summed as (zlf + 1e-20) + wlf (x - zlf), which keeps the constant
// out of the recursion (three operations instead of four). Channels go in
// pairs so that two recursions overlap.
void Peaklim::lowpass (int j0, int j1, int wp, int n)
{
    const float wl = wlf;
    float       mx2 = m2;
    int         j = j0;

    for (; j + 1 < j1; j += 2)
    {
        const float *da = dbuff [j] + wp, *db = dbuff [j + 1] + wp;
        float za = zlf [j], zb = zlf [j + 1];
        for (int i = 0; i < n; i++)
        {
            za = (za + 1e-20f) + wl * (da [i] - za);
            zb = (zb + 1e-20f) + wl * (db [i] - zb);
            // Written so that a NaN input never reaches the gain path.
            if (fabsf (za) > mx2) mx2 = fabsf (za);
            if (fabsf (zb) > mx2) mx2 = fabsf (zb);
        }
        zlf [j] = za;
        zlf [j + 1] = zb;
    }
    if (j < j1)
    {
        const float *da = dbuff [j] + wp;
        float za = zlf [j];
        for (int i = 0; i < n; i++)
        {
            za = (za + 1e-20f) + wl * (da [i] - za);
            if (fabsf (za) > mx2) mx2 = fabsf (za);
        }
        zlf [j] = za;
    }
    m2 = mx2;
}


void Peaklim::process (int nframes, float **inp, float **out)
{
    int    j, k, n, wp;
    float  g, a, b, p, r;

    if (!dbuff) return;
    k = 0;
    a = hist1.vmin;
    b = hist2.vmin;
    while (nframes > 0)
    {
        // A chunk never crosses a block end, so it never wraps in the ring.
        n = (c1 < nframes) ? c1 : nframes;
        wp = (rindex + delay) & dmask;

        // Input stage: the same input gain ramp for every channel, into the
        // delay lines, and the block's largest absolute sample; channels in
        // pairs, each pair stepping the same ramp.
        float mx1 = m1;
        for (j = 0; j < nchan; j += 2)
        {
            const int jb = (j + 1 < nchan) ? j + 1 : j;
            const float *sa = inp [j] ? inp [j] + k : zbuff;
            const float *sb = inp [jb] ? inp [jb] + k : zbuff;
            float *da = dbuff [j] + wp, *db = dbuff [jb] + wp;
            g = g0;
            for (int i = 0; i < n; i++)
            {
                const float xa = g * sa [i], xb = g * sb [i];
                g += dg;
                da [i] = xa;
                db [i] = xb;
                // Written so that a NaN input never reaches the gain path.
                if (fabsf (xa) > mx1) mx1 = fabsf (xa);
                if (fabsf (xb) > mx1) mx1 = fabsf (xb);
            }
        }
        if (nchan > 0) g0 = g;
        m1 = mx1;

        // The low-pass of the first two channels runs inside the output
        // stage below, where its recursion overlaps that of the gain; the
        // others run here. At a group end its peak is needed first.
        c1 -= n;
        const bool group_end = (c1 == 0 && c2 == 1);
        const int  jf = group_end ? 0 : ((nchan < 2) ? nchan : 2);
        lowpass (jf, nchan, wp, n);

        if (c1 == 0)
        {
            // Block end: the gain this block needs enters hist1.
            const float gthr = gt.load (std::memory_order_relaxed);
            p = gthr * m1;
            r = (p > 1.0f) ? 1.0f / p : 1.0f;
            a = hist1.write (r);
            c1 = div1;
            m1 = 0.0f;
            if (--c2 == 0)
            {
                // Group end: the low-passed peak enters hist2, and the
                // input gain starts a linear ramp over the next group.
                p = gthr * m2;
                r = (p > 1.0f) ? 1.0f / p : 1.0f;
                b = hist2.write (r);
                c2 = div2;
                m2 = 0.0f;
                const float gi = g1.load (std::memory_order_relaxed);
                if (fabsf (gi - g0) < 1e-9f)
                {
                    g0 = gi;
                    dg = 0.0f;
                }
                else dg = (gi - g0) / (div1 * div2);
            }
        }

        // Output stage: the smoothed gain, falling with the attack
        // coefficient w1 and rising with the release coefficient w3. The
        // output gain takes both steps, attack and release, and keeps the
        // smaller when w1 >= w3 (the larger otherwise): rounding is
        // monotonic, so that is the attack step exactly when t < z, and the
        // recursion needs no compare and select. Coefficients are locals,
        // so that the stores below never make the compiler reload them.
        const float wa = w1, ws = w2, wl = wlf;
        const float wr = w3.load (std::memory_order_relaxed);
        const bool  fastest = (wa >= wr);
        int         j0 = 0;   // channels whose outputs are written below
        float y1 = z1, y2 = z2, z = z3;
        if (jf == 2)
        {
            // The first two channels' outputs are written here too (a
            // missing output into gbuff, which gets the gain after it).
            const float *da = dbuff [0] + wp, *db = dbuff [1] + wp;
            const float *ra = dbuff [0] + rindex, *rb = dbuff [1] + rindex;
            float *oa = out [0] ? out [0] + k : gbuff, *ob = out [1] ? out [1] + k : gbuff;
            float za = zlf [0], zb = zlf [1], mx2 = m2;
            for (int i = 0; i < n; i++)
            {
                y1 += wa * (a - y1);
                y2 += ws * (b - y2);
                const float t = (y1 < y2) ? y1 : y2;
                const float za1 = z + wa * (t - z), zr1 = z + wr * (t - z);
                z = fastest ? ((za1 < zr1) ? za1 : zr1) : ((za1 > zr1) ? za1 : zr1);
                za = (za + 1e-20f) + wl * (da [i] - za);
                zb = (zb + 1e-20f) + wl * (db [i] - zb);
                if (fabsf (za) > mx2) mx2 = fabsf (za);
                if (fabsf (zb) > mx2) mx2 = fabsf (zb);
                oa [i] = ra [i] * z;
                ob [i] = rb [i] * z;
                gbuff [i] = z;
            }
            zlf [0] = za;
            zlf [1] = zb;
            m2 = mx2;
            j0 = 2;
        }
        else
        {
            if (jf == 1) lowpass (0, 1, wp, n);
            for (int i = 0; i < n; i++)
            {
                y1 += wa * (a - y1);
                y2 += ws * (b - y2);
                const float t = (y1 < y2) ? y1 : y2;
                const float za1 = z + wa * (t - z), zr1 = z + wr * (t - z);
                z = fastest ? ((za1 < zr1) ? za1 : zr1) : ((za1 > zr1) ? za1 : zr1);
                gbuff [i] = z;
            }
        }
        z1 = y1;
        z2 = y2;
        z3 = z;
        for (j = j0; j < nchan; j++)
        {
            if (!out [j]) continue;
            const float *s = dbuff [j] + rindex;
            float *d = out [j] + k;
            for (int i = 0; i < n; i++) d [i] = s [i] * gbuff [i];
        }

        rindex = (rindex + n) & dmask;
        k += n;
        nframes -= n;
    }
}
