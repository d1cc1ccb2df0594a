// Peaklim: sizes at every rate, transparency below the threshold, peak
// control against the threshold level, release time, input gain ramp,
// setter limits and independence of the period size.

#include <gtest/gtest.h>
#include <cmath>
#include <random>
#include <vector>
#include "dynamics/peaklim.h"
#include "limiter_corpus.h"

namespace {

typedef std::vector<std::vector<float>> Multi;

// Runs the limiter over the whole input in periods of the given size.
Multi run (Peaklim &P, const Multi &x, int period)
{
    const int nch = (int) x.size (), len = (int) x [0].size ();
    Multi y (nch, std::vector<float> (len));
    float *ip [Peaklim::MAXCHAN], *op [Peaklim::MAXCHAN];
    for (int k = 0; k < len; k += period)
    {
        for (int c = 0; c < nch; c++)
        {
            ip [c] = const_cast<float *> (x [c].data ()) + k;
            op [c] = y [c].data () + k;
        }
        P.process (std::min (period, len - k), ip, op);
    }
    return y;
}

Multi mono (std::vector<float> v) { return Multi (1, std::move (v)); }

float peak (const std::vector<float> &v, size_t from = 0)
{
    float p = 0;
    for (size_t i = from; i < v.size (); i++) p = std::max (p, std::fabs (v [i]));
    return p;
}

const float THR6 = 0.501187234f;   // 10^(-6/20)

}


TEST (Peaklim, SizesAtEveryRate)
{
    struct Case { float fs; int div1, delay, dsize, hlen; };
    const Case cases [] =
    {
        { 44100, 8, 56, 64, 8 },     { 48000, 8, 64, 128, 9 },
        { 96000, 16, 128, 256, 9 },  { 192000, 32, 256, 512, 9 },
        { 22050, 8, 32, 64, 5 },     { 88200, 16, 112, 128, 8 },
        { 176400, 32, 224, 256, 8 }, { 384000, 32, 480, 512, 16 },
        { 8000, 8, 16, 64, 3 },      { 1000, 8, 8, 64, 2 },
        // Beyond about 826 kHz the blocks grow so that hist1 still spans the look-ahead.
        { 800000, 32, 992, 1024, 32 }, { 1000000, 64, 1216, 2048, 20 },
    };
    for (const Case &c : cases)
    {
        Peaklim P;
        P.init (c.fs, 2);
        EXPECT_EQ (P.div1, c.div1) << c.fs;
        EXPECT_EQ (P.div2, 8);
        EXPECT_EQ (P.delay, c.delay) << c.fs;
        EXPECT_EQ (P.dsize, c.dsize) << c.fs;
        EXPECT_EQ (P.dmask, c.dsize - 1);
        EXPECT_EQ (P.hist1.hlen, c.hlen) << c.fs;
        EXPECT_EQ (P.hist2.hlen, 12);
        EXPECT_GE (P.delay, 0.0012f * c.fs);
        // The held window covers the look-ahead.
        EXPECT_GE (P.hist1.hlen * P.div1, P.delay);
        // Smoother coefficients, at most 1 so that slow rates stay stable.
        EXPECT_FLOAT_EQ (P.w1, std::min (1.0f, 10.0f / c.delay));
        EXPECT_FLOAT_EQ (P.w2, std::min (1.0f, 10.0f / (c.delay * 8)));
        EXPECT_FLOAT_EQ (P.w3.load (), std::min (1.0f, 1.0f / (0.01f * c.fs)));
        EXPECT_FLOAT_EQ (P.wlf, std::min (1.0f, 3140.0f / c.fs));
    }
}


TEST (Peaklim, BelowThresholdPassesDelayed)
{
    // Below the threshold the output is exactly the input, delayed.
    std::mt19937 rng (3);
    std::uniform_real_distribution<float> u (-0.49f, 0.49f);
    for (float fs : { 44100.0f, 48000.0f, 96000.0f })
    {
        Multi x (3, std::vector<float> (5000));
        for (auto &ch : x) for (auto &v : ch) v = u (rng);
        for (int period : { 1, 21, 256, 1000 })
        {
            Peaklim P;
            P.init (fs, 3);
            P.set_threshold (-6.0f);
            Multi y = run (P, x, period);
            for (int c = 0; c < 3; c++)
            {
                for (int n = 0; n < 5000; n++)
                {
                    float want = (n < P.delay) ? 0.0f : x [c][n - P.delay];
                    ASSERT_EQ (y [c][n], want) << fs << " " << period << " " << c << " " << n;
                }
            }
        }
    }
}


TEST (Peaklim, SingleSampleComesOutAtThreshold)
{
    // A lone full-scale sample, at every position within a block: the gain
    // is already down when it reaches the output, delay samples later.
    for (float fs : { 44100.0f, 48000.0f, 96000.0f, 192000.0f })
    {
        for (int off = 0; off < 40; off++)
        {
            Peaklim P;
            P.init (fs, 1);
            P.set_threshold (-6.0f);
            std::vector<float> x (3000);
            x [1000 + off] = 1.0f;
            Multi y = run (P, mono (x), 256);
            EXPECT_NEAR (y [0][1000 + off + P.delay], THR6, 0.0005f) << fs << " " << off;
            EXPECT_EQ (peak (y [0]), y [0][1000 + off + P.delay]);
        }
    }
}


TEST (Peaklim, SustainedSinesSettleAtThreshold)
{
    for (float fs : { 44100.0f, 48000.0f })
    {
        for (double f : { 50.0, 1000.0 })
        {
            std::vector<float> x ((int) fs);
            for (size_t n = 0; n < x.size (); n++) x [n] = 0.9f * (float) std::sin (2 * M_PI * f * n / fs);
            Peaklim P;
            P.init (fs, 1);
            P.set_threshold (-6.0f);
            Multi y = run (P, mono (x), 1000);
            // Once settled, the largest peak and the peak of every cycle of
            // the last quarter second sit at the threshold level.
            EXPECT_NEAR (peak (y [0], x.size () / 2), THR6, 0.0005f) << fs << " " << f;
            const int per = (int) std::round (fs / f);
            for (size_t n = 3 * x.size () / 4; n + per <= x.size (); n += per)
            {
                float p = 0;
                for (int i = 0; i < per; i++) p = std::max (p, std::fabs (y [0][n + i]));
                EXPECT_NEAR (p, THR6, 0.003f) << fs << " " << f << " " << n;
            }
        }
    }
}


TEST (Peaklim, ReleaseFollowsTheSetTime)
{
    // Gain 0.5 from a long DC step of 2.0 at 0 dB threshold; then the input
    // drops below the threshold and the gain recovers with the release time:
    // 1 - gain falls by e every release time x fsamp samples.
    const float fs = 48000;
    for (float t : { 0.01f, 0.1f, 1.0f })
    {
        Peaklim P;
        P.init (fs, 1);
        if (t != 0.01f) P.set_release (t);   // 10 ms is the default
        const int S = 10000, N = S + (int) (8 * t * fs) + 2000;
        std::vector<float> x (N, 0.25f);
        for (int n = 0; n < S; n++) x [n] = 2.0f;
        Multi y = run (P, mono (x), 256);
        EXPECT_NEAR (y [0][S - 1 + P.delay], 1.0f, 1e-4f);   // 2.0 x gain 0.5
        int n1 = -1, n2 = -1;
        for (int n = S + P.delay; n < N; n++)
        {
            float g = y [0][n] / 0.25f;
            if (n1 < 0 && 1 - g < 0.1f) n1 = n;
            if (n2 < 0 && 1 - g < 0.1f * std::exp (-2.0f)) n2 = n;
        }
        ASSERT_GT (n1, 0);
        ASSERT_GT (n2, 0);
        EXPECT_NEAR ((n2 - n1) / 2.0, t * fs, 0.02 * t * fs) << t;
    }
}


TEST (Peaklim, SetterLimits)
{
    struct Case { int which; float v; float want; };
    const float fs = 48000;
    const Case cases [] =
    {
        { 0, 0.0f, 1.0f },       { 0, 40.0f, 31.6227766f },   { 0, -40.0f, 0.0316227766f },
        { 0, INFINITY, 31.6227766f }, { 0, -INFINITY, 0.0316227766f }, { 0, -6.0f, 0.501187234f },
        { 1, 3.0f, 1.0f },       { 1, -40.0f, 31.6227766f },  { 1, -6.0f, 1.99526231f },
        { 1, INFINITY, 1.0f },   { 1, -INFINITY, 31.6227766f },
        { 2, 0.01f, 1 / 480.0f }, { 2, 0.0001f, 1 / 48.0f }, { 2, 0.0f, 1 / 48.0f },
        { 2, -1.0f, 1 / 48.0f }, { 2, 5.0f, 1 / 48000.0f },   { 2, INFINITY, 1 / 48000.0f },
    };
    for (const Case &c : cases)
    {
        Peaklim P;
        P.init (fs, 1);
        std::atomic<float> &m = (c.which == 0) ? P.g1 : ((c.which == 1) ? P.gt : P.w3);
        void (Peaklim::*set) (float) = (c.which == 0) ? &Peaklim::set_inpgain
                                     : ((c.which == 1) ? &Peaklim::set_threshold : &Peaklim::set_release);
        (P.*set) (c.v);
        EXPECT_NEAR (m.load (), c.want, 2e-6f * c.want) << c.which << " " << c.v;
        // NaN is ignored: the setting stays.
        (P.*set) (NAN);
        EXPECT_NEAR (m.load (), c.want, 2e-6f * c.want) << c.which << " NaN";
    }
}


TEST (Peaklim, InputGainRampsOverOneGroup)
{
    // Input 0.1, far below the threshold. The new gain is set after the
    // period holding sample 100 and ramps linearly over the 64 samples of
    // the next group at 48 kHz, starting at that group's first sample.
    const float fs = 48000, g1 = 1.99526231f;   // +6 dB
    for (int period : { 1, 21, 64, 256, 1000 })
    {
        Peaklim P;
        P.init (fs, 2);
        Multi x (2, std::vector<float> (3000, 0.1f));
        Multi y (2, std::vector<float> (3000));
        float *ip [2], *op [2];
        int s = 0;
        bool set = false;
        while (s < 3000)
        {
            if (!set && s >= 100)
            {
                P.set_inpgain (6.0f);
                set = true;
                break;
            }
            int n = std::min (period, 3000 - s);
            for (int c = 0; c < 2; c++) { ip [c] = x [c].data () + s; op [c] = y [c].data () + s; }
            P.process (n, ip, op);
            s += n;
        }
        const int start = (s / 64 + 1) * 64;
        for (; s < 3000; s += period)
        {
            int n = std::min (period, 3000 - s);
            for (int c = 0; c < 2; c++) { ip [c] = x [c].data () + s; op [c] = y [c].data () + s; }
            P.process (n, ip, op);
        }
        for (int n = P.delay; n < 3000; n++)
        {
            const int m = n - P.delay - start;
            const float g = (m <= 0) ? 1.0f : ((m >= 64) ? g1 : 1.0f + m * (g1 - 1.0f) / 64);
            for (int c = 0; c < 2; c++) ASSERT_NEAR (y [c][n], 0.1f * g, 1e-6f) << period << " " << n;
        }
    }
}


TEST (Peaklim, PeriodSizeDoesNotMatter)
{
    // Limiting in action (noise bursts at +12 dB): the same output for every
    // period that splits the signal at block ends (multiples of 8 samples at
    // 48 kHz). A period that ends inside a block lets that block's gain act
    // from its last sample rather than its first; see the overshoot test.
    std::mt19937 rng (11);
    std::normal_distribution<float> g (0.0f, 0.5f);
    Multi x (2, std::vector<float> (20000));
    for (auto &ch : x) for (size_t n = 0; n < ch.size (); n++) ch [n] = (n % 3000 < 1200) ? g (rng) : 0.01f * g (rng);
    Multi ref;
    for (int period : { 8, 24, 64, 256, 1000, 20000 })
    {
        Peaklim P;
        P.init (48000, 2);
        P.set_inpgain (12.0f);
        P.set_threshold (-3.0f);
        Multi y = run (P, x, period);
        if (ref.empty ()) ref = y;
        ASSERT_EQ (y, ref) << period;
    }
}


TEST (Peaklim, OvershootOverTheCorpus)
{
    // Bursts, sines from 20 Hz to 20 kHz, noise and clipped drums at +12 dB
    // input gain: the largest output sample relative to the threshold, at
    // every common rate, and with periods that end inside blocks.
    struct Case { double fs; int period; };
    const Case cases [] = { { 44100, 256 }, { 48000, 256 }, { 96000, 256 }, { 192000, 256 },
                            { 48000, 1 }, { 48000, 21 }, { 192000, 1 } };
    double worst = -100;
    std::string where;
    for (const Case &c : cases)
    {
        for (const Limsignal &s : limiter_corpus (c.fs))
        {
            for (float thr : { 0.0f, -6.0f })
            {
                Peaklim P;
                P.init ((float) c.fs, 2);
                P.set_inpgain (12.0f);
                P.set_threshold (thr);
                Multi y = run (P, Multi { s.ch [0], s.ch [1] }, c.period);
                double db = 20 * std::log10 (std::max (peak (y [0]), peak (y [1]))) - thr;
                if (db > worst)
                {
                    worst = db;
                    where = s.name + ", " + std::to_string ((int) c.fs) + " Hz, period " + std::to_string (c.period)
                          + ", threshold " + std::to_string ((int) thr) + " dB";
                }
            }
        }
    }
    RecordProperty ("overshoot_db", std::to_string (worst));
    std::printf ("largest peak relative to the threshold: %+.4f dB (%s)\n", worst, where.c_str ());
    EXPECT_LT (worst, 0.1);
}


TEST (Peaklim, SilenceAndMissingPorts)
{
    // Silence stays exactly silent; a missing input reads as silence and a
    // missing output is skipped.
    Peaklim P;
    P.init (48000, 2);
    std::vector<float> a (500, 0.3f), o0 (500, 7.0f);
    float *ip [2] = { nullptr, a.data () }, *op [2] = { o0.data (), nullptr };
    P.process (500, ip, op);
    for (float v : o0) ASSERT_EQ (v, 0.0f);
}


TEST (Peaklim, ChannelClamp)
{
    Peaklim P;
    P.init (48000, 0);
    EXPECT_EQ (P.nchan, 1);
    P.init (48000, 150);
    EXPECT_EQ (P.nchan, 100);
    P.fini ();
    EXPECT_EQ (P.nchan, 0);
    P.process (64, nullptr, nullptr);    // after fini: nothing to do
}
