// Resampler: argument checks, the count and pointer contract, results
// independent of how input and output are cut into calls, channels kept
// apart, and quality against analytic tones: passband flatness, the -3 dB
// point, and rejection of everything above half the lower rate.

#include <gtest/gtest.h>
#include <math.h>
#include <algorithm>
#include <vector>
#include "resampler.h"
#include "tonefit.h"


TEST (Resampler, RefusesWhatItCannotServe)
{
    struct { unsigned int fi, fo, ch, hl; int r; } cases [] =
    {
        { 44100, 48000, 2, 36, 0 }, { 8000, 192000, 1, 4, 0 }, { 192000, 8000, 100, 64, 0 },
        { 3999, 48000, 1, 36, 1 }, { 48000, 384001, 1, 36, 1 }, { 0, 48000, 1, 36, 1 },
        { 4000, 384000, 2, 36, 0 }, { 384000, 4096, 1, 36, 0 },
        { 44100, 48000, 0, 36, 1 }, { 44100, 48000, 101, 36, 1 },
        { 44100, 48000, 1, 3, 1 }, { 44100, 48000, 1, 65, 1 }
    };
    for (auto &C : cases)
    {
        Resampler R;
        EXPECT_EQ (R.setup (C.fi, C.fo, C.ch, C.hl), C.r) << C.fi << " " << C.fo << " " << C.ch << " " << C.hl;
        float x [4] = { 1, 1, 1, 1 }, y [4];
        R.inp_count = 2;
        R.inp_data = x;
        R.out_count = 2;
        R.out_data = y;
        EXPECT_EQ (R.process (), C.r);
        if (C.r) { EXPECT_EQ (R.inp_count + R.out_count, 4u); }
    }
    Resampler R;
    ASSERT_EQ (R.setup (48000, 44100, 1, 36), 0);
    R.clear ();
    R.inp_count = 10;
    R.out_count = 10;
    EXPECT_EQ (R.process (), 1);
    EXPECT_EQ (R.inp_count, 10u);
}


// Runs x (nchan interleaved) through R cut into input calls of inp sizes
// and output calls of out sizes (cycled), then silence until nout frames.
static std::vector<float> run (Resampler &R, const std::vector<float> &x, unsigned int nchan,
                               unsigned int nout, std::vector<unsigned int> inp, std::vector<unsigned int> out)
{
    std::vector<float> y ((size_t) nout * nchan, NAN);
    size_t ni = x.size () / nchan, pi = 0, po = 0, ki = 0, ko = 0;
    R.inp_count = 0;
    R.out_count = 0;
    while ((po < nout) || R.out_count)
    {
        if (!R.inp_count)
        {
            unsigned int n = inp [ki++ % inp.size ()];
            R.inp_data = (pi < ni) ? x.data () + pi * nchan : nullptr;
            if (pi < ni) n = (unsigned int) std::min<size_t> (n, ni - pi);
            R.inp_count = n;
            pi += n;
        }
        if (!R.out_count)
        {
            unsigned int n = (unsigned int) std::min<size_t> (out [ko++ % out.size ()], nout - po);
            R.out_data = y.data () + po * nchan;
            R.out_count = n;
            po += n;
        }
        float *o = R.out_data;
        unsigned int oc = R.out_count;
        R.process ();
        EXPECT_EQ (R.out_data - o, (ptrdiff_t)((oc - R.out_count) * nchan));
        EXPECT_TRUE (R.inp_count == 0 || R.out_count == 0);
    }
    return y;
}


TEST (Resampler, CallSizesDoNotMatter)
{
    struct { unsigned int fi, fo; } rates [] = { { 44100, 48000 }, { 96000, 44100 }, { 44101, 48000 }, { 48000, 48000 } };
    std::vector<float> x (3 * 5000);
    for (size_t i = 0; i < x.size (); i++) x [i] = sinf (0.37f * i) * cosf (0.0011f * i);
    for (auto &C : rates)
    {
        Resampler R;
        ASSERT_EQ (R.setup (C.fi, C.fo, 3, 36), 0);
        std::vector<float> ref = run (R, x, 3, 6000, { 100000 }, { 100000 });
        for (auto sizes : { std::vector<unsigned int> { 1 }, { 21 }, { 256, 1000, 1 }, { 1000 } })
        {
            R.reset ();
            EXPECT_EQ (run (R, x, 3, 6000, sizes, { 100000 }), ref) << C.fi << " " << C.fo << " inp " << sizes [0];
            R.reset ();
            EXPECT_EQ (run (R, x, 3, 6000, { 100000 }, sizes), ref) << C.fi << " " << C.fo << " out " << sizes [0];
        }
    }
}


TEST (Resampler, NullInputIsSilenceAndChannelsStayApart)
{
    Resampler R, M;
    ASSERT_EQ (R.setup (48000, 22050, 2, 36), 0);
    ASSERT_EQ (M.setup (48000, 22050, 1, 36), 0);
    std::vector<float> x (2 * 4000), x0 (4000), x1 (4000);
    for (int i = 0; i < 4000; i++)
    {
        x [2 * i] = x0 [i] = sinf (0.05f * i);
        x [2 * i + 1] = x1 [i] = (i % 7) - 3.0f;
    }
    std::vector<float> y = run (R, x, 2, 3000, { 333 }, { 100 });
    M.reset ();
    std::vector<float> y0 = run (M, x0, 1, 3000, { 333 }, { 100 });
    M.reset ();
    std::vector<float> y1 = run (M, x1, 1, 3000, { 333 }, { 100 });
    for (int i = 0; i < 3000; i++)
    {
        ASSERT_EQ (y [2 * i], y0 [i]) << i;
        ASSERT_EQ (y [2 * i + 1], y1 [i]) << i;
    }
    // Silence in, silence out, and the input pointer stays null.
    R.reset ();
    float out [200];
    R.inp_data = nullptr;
    R.inp_count = 5000;
    R.out_data = out;
    R.out_count = 100;
    R.process ();
    EXPECT_EQ (R.inp_data, nullptr);
    EXPECT_EQ (R.out_count, 0u);
    EXPECT_EQ (R.out_data, out + 200);
    for (float v : out) EXPECT_EQ (v, 0.0f);
}


TEST (Resampler, TakesInputInProportion)
{
    // n input frames give n * fo / fi output frames, less what the
    // look-ahead holds back (at most inpdist () input frames).
    struct { unsigned int fi, fo; } rates [] = { { 44100, 48000 }, { 192000, 8000 }, { 8000, 192000 }, { 44101, 48000 } };
    for (auto &C : rates)
    {
        Resampler R;
        ASSERT_EQ (R.setup (C.fi, C.fo, 1, 36), 0);
        unsigned int n = 30000;
        std::vector<float> y ((size_t)(11.0 * n * C.fo / C.fi) + 1000);
        R.inp_data = nullptr;
        R.inp_count = n;
        R.out_data = y.data ();
        R.out_count = (unsigned int) y.size ();
        R.process ();
        EXPECT_EQ (R.inp_count, 0u);
        double r = (double) C.fo / C.fi;
        double got = y.size () - R.out_count;
        EXPECT_LE (got, n * r + 1) << C.fi << " " << C.fo;
        EXPECT_GE (got, (n - R.inpdist ()) * r - 1) << C.fi << " " << C.fo;
        // And so on: in total, 11 n input frames give 11 n * fo / fi
        // output frames less the same hold-back.
        R.inp_count = 10 * n;
        R.process ();
        got = y.size () - R.out_count;
        EXPECT_LE (got, 11 * n * r + 1) << C.fi << " " << C.fo;
        EXPECT_GE (got, (11 * n - R.inpdist ()) * r - 1) << C.fi << " " << C.fo;
    }
}


// A tone of frequency f through fi -> fo. Returns the gain at f in dB and
// the residual (what is not the tone) relative to the input's RMS, in dB;
// above half the output rate the gain is the whole output's RMS.
static void tone (unsigned int fi, unsigned int fo, double f, double &gain, double &resid)
{
    Resampler R;
    ASSERT_EQ (R.setup (fi, fo, 1, 36), 0);
    // Half a second beyond what the look-ahead needs at both ends.
    unsigned int ni = fi / 2 + 4 * R.inpdist ();
    unsigned int no = (unsigned int)((double) ni * fo / fi);
    std::vector<float> x (ni), y (no);
    for (unsigned int i = 0; i < ni; i++) x [i] = (float)(0.5 * sin (2 * M_PI * f * i / fi));
    R.inp_data = x.data ();
    R.inp_count = ni;
    R.out_data = y.data ();
    R.out_count = no;
    R.process ();
    // Skip the ends, where the filter reaches beyond the tone.
    unsigned int skip = (unsigned int)(R.inpdist () * (double) fo / fi) + 10;
    unsigned int n0 = skip, n1 = no - R.out_count - skip;
    ASSERT_GT (n1, n0 + fo / 4);
    tone_fit (y.data (), n0, n1, f, fo, gain, resid);
}


TEST (Resampler, QualityAgainstAnalyticTones)
{
    // Frequencies as fractions of half the lower rate.
    struct { unsigned int fi, fo; } rates [] =
    {
        { 44100, 48000 }, { 48000, 44100 }, { 96000, 44100 }, { 44101, 48000 },
        { 8000, 192000 }, { 192000, 8000 }, { 48000, 48000 }, { 4096, 48000 }
    };
    for (auto &C : rates)
    {
        double nyq = 0.5 * std::min (C.fi, C.fo);
        double worst_ripple = 0, worst_resid = -200, worst_stop = -200, g95 = 0, g, r;
        for (double fr : { 0.001, 0.05, 0.2, 0.5, 0.7, 0.8, 0.85, 0.9, 0.92 })
        {
            tone (C.fi, C.fo, fr * nyq, g, r);
            worst_ripple = std::max (worst_ripple, fabs (g));
            worst_resid = std::max (worst_resid, r);
        }
        tone (C.fi, C.fo, 0.95 * nyq, g95, r);
        // Everything above half the output rate that the input can carry.
        if (C.fi > C.fo)
        {
            for (double fr : { 1.0005, 1.01, 1.05, 1.2, 1.5, 2.0, 3.0 })
            {
                double f = fr * nyq;
                if (f >= 0.5 * C.fi) continue;
                tone (C.fi, C.fo, f, g, r);
                worst_stop = std::max (worst_stop, g);
            }
        }
        EXPECT_LT (worst_ripple, 0.001) << C.fi << " -> " << C.fo;
        EXPECT_LT (worst_resid, -140) << C.fi << " -> " << C.fo;
        EXPECT_GT (g95, -3.0) << C.fi << " -> " << C.fo;
        EXPECT_LT (worst_stop, -140) << C.fi << " -> " << C.fo;
    }
    // The published aliasing case: 23 kHz at 96 kHz to 44.1 kHz.
    double g, r;
    tone (96000, 44100, 23000, g, r);
    EXPECT_LT (g, -140);
}
