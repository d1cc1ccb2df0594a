// Noisegen: levels, the pink filter against its partial-fraction transfer
// function, silence and state keeping, refused settings.

#include <gtest/gtest.h>
#include <math.h>
#include <complex>
#include <vector>
#include "signals/noisegen.h"

namespace {

// The pink filter as a parallel sum of one-pole sections acting on the
// white input w (x = 0.23 level w):
//   H(z) = 0.5362 + 0.115926 z^-1 + sum_i c_i / (1 - p_i z^-1).
const double P [6] = { 0.99886, 0.99332, 0.969, 0.8665, 0.55, -0.7616 };
const double C [6] = { 0.0555179, 0.0750759, 0.153852, 0.3104856, 0.5329522, -0.016898 };

std::complex<double> pink_response (double f, double fs)
{
    std::complex<double> z1 = std::polar (1.0, -2 * M_PI * f / fs);   // z^-1
    std::complex<double> h = 0.5362 + 0.115926 * z1;
    for (int i = 0; i < 6; i++) h += C [i] / (1.0 - P [i] * z1);
    return h;
}

// Runs n samples through g in periods of the given size.
std::vector<float> run (Noisegen &g, int n, int period)
{
    std::vector<float> y (n);
    for (int k = 0; k < n; k += period) g.process (std::min (period, n - k), y.data () + k);
    return y;
}

double rms (const std::vector<float> &y)
{
    double s = 0;
    for (float v : y) s += (double) v * v;
    return sqrt (s / y.size ());
}

}


TEST (Noisegen, SilentAfterConstruction)
{
    Noisegen g;
    std::vector<float> y = run (g, 1000, 256);
    for (float v : y) EXPECT_EQ (v, 0.0f);
    EXPECT_EQ (g.type, 0);
    EXPECT_EQ (g.level, 0.0f);
}


TEST (Noisegen, WhiteIsScaledGaussian)
{
    // Block sizes that do not divide the length; the samples are the
    // generator's values times level * 0.70710677 whatever the blocking.
    for (int period : { 1, 21, 256, 1000 })
    {
        Noisegen g;
        Rngen ref (0);
        ref.rstate = g.rgen.rstate;
        ASSERT_EQ (g.setparam (Noisegen::WHITE, -6.0f), 0);
        float lev = powf (10.0f, -0.3f);
        EXPECT_FLOAT_EQ (g.level, lev);
        std::vector<float> y = run (g, 5000, period);
        for (int i = 0; i < 5000; i++) ASSERT_EQ (y [i], lev * 0.70710677f * ref.grandf ()) << period << " " << i;
    }
}


TEST (Noisegen, WhiteLevel)
{
    // 0 dB gives the RMS of a full-scale sine, -20 dB a tenth of it.
    struct { float db; double want; } cases [] = { { 0.0f, M_SQRT1_2 }, { -20.0f, 0.1 * M_SQRT1_2 }, { 12.0f, pow (10.0, 0.6) * M_SQRT1_2 } };
    for (auto &c : cases)
    {
        Noisegen g;
        g.setparam (Noisegen::WHITE, c.db);
        double r = rms (run (g, 480000, 1000));
        EXPECT_NEAR (r / c.want, 1.0, 0.01) << c.db;
    }
}


TEST (Noisegen, PinkMatchesTransferFunction)
{
    // Feed the same Gaussian values through the partial-fraction form in
    // double and compare sample by sample.
    for (int period : { 1, 21, 256, 1000 })
    {
        Noisegen g;
        Rngen ref (0);
        ref.rstate = g.rgen.rstate;
        g.setparam (Noisegen::PINK, 0.0f);
        std::vector<float> y = run (g, 20000, period);
        double s [6] = { 0 }, xprev = 0, err = 0, peak = 0;
        for (int i = 0; i < 20000; i++)
        {
            double x = 0.23 * ref.grandf ();
            double out = 0.5362 * x + 0.115926 * xprev;
            for (int k = 0; k < 6; k++)
            {
                s [k] = P [k] * s [k] + C [k] * x;
                out += s [k];
            }
            xprev = x;
            err = std::max (err, fabs (out - y [i]));
            peak = std::max (peak, fabs (out));
        }
        EXPECT_LT (err, 1e-5 * peak) << period;
    }
}


TEST (Noisegen, PinkFallsThreeDbPerOctave)
{
    // The filter's magnitude follows 1/sqrt(f) within +-0.5 dB from 50 Hz to
    // 10 kHz at 48 kHz: relative to 1 kHz, -3.0103 dB per octave.
    double fs = 48000, h1k = 20 * log10 (abs (pink_response (1000, fs)));
    for (double f = 50; f <= 10000; f *= pow (2.0, 1.0 / 12))
    {
        double db = 20 * log10 (abs (pink_response (f, fs))) - h1k;
        double want = -10 * log10 (f / 1000);
        EXPECT_NEAR (db, want, 0.5) << f;
    }
}


TEST (Noisegen, PinkPeakBound)
{
    // The sum of |h| (the largest output for inputs of magnitude 1) stays
    // below 16 / 0.23, so MAXDB keeps the output finite even for the
    // largest Gaussian value the float generator can make (about 9.6).
    double s [6] = { 0 }, sum = 0.5362 + 0.115926;
    for (int k = 0; k < 6; k++) sum += fabs (C [k]) / (1 - fabs (P [k]));
    EXPECT_LT (0.23 * sum, 16.0);
    EXPECT_LT (9.7 * 16.0 * pow (10.0, 0.05 * Noisegen::MAXDB), 3.4e38);
    (void) s;
    Noisegen g;
    ASSERT_EQ (g.setparam (Noisegen::PINK, Noisegen::MAXDB), 0);
    std::vector<float> y = run (g, 100000, 256);
    for (float v : y) ASSERT_TRUE (isfinite (v));
}


TEST (Noisegen, OtherTypesAreSilentAndKeepPinkState)
{
    Noisegen g, h;
    h.rgen.rstate = g.rgen.rstate;
    g.setparam (Noisegen::PINK, 0.0f);
    h.setparam (Noisegen::PINK, 0.0f);
    run (g, 3000, 256);
    run (h, 3000, 21);
    float b [7] = { g.b0, g.b1, g.b2, g.b3, g.b4, g.b5, g.b6 };
    for (int t : { 0, 3, -1, 1000 })
    {
        g.setparam (t, 0.0f);
        std::vector<float> y = run (g, 1000, 256);
        for (float v : y) ASSERT_EQ (v, 0.0f) << t;
        float c [7] = { g.b0, g.b1, g.b2, g.b3, g.b4, g.b5, g.b6 };
        for (int k = 0; k < 7; k++) EXPECT_EQ (b [k], c [k]) << t;
    }
    // Back to pink: continues from the stored states where h never stopped
    // (silence drew no random values).
    g.setparam (Noisegen::PINK, 0.0f);
    std::vector<float> yg = run (g, 2000, 1000), yh = run (h, 2000, 1);
    for (int i = 0; i < 2000; i++) ASSERT_EQ (yg [i], yh [i]) << i;
}


TEST (Noisegen, RefusedSettings)
{
    Noisegen g;
    ASSERT_EQ (g.setparam (Noisegen::WHITE, -10.0f), 0);
    float lev = g.level;
    struct { float db; int result; } cases [] = {
        { NAN, -1 }, { INFINITY, -1 }, { Noisegen::MAXDB + 1, -1 }, { 1e30f, -1 }
    };
    for (auto &c : cases)
    {
        EXPECT_EQ (g.setparam (Noisegen::PINK, c.db), c.result) << c.db;
        EXPECT_EQ (g.level, lev);
        EXPECT_EQ (g.type, Noisegen::WHITE);
    }
    // -inf dB is level 0: silence, not refused.
    EXPECT_EQ (g.setparam (Noisegen::WHITE, -INFINITY), 0);
    EXPECT_EQ (g.level, 0.0f);
    for (float v : run (g, 500, 256)) ASSERT_EQ (v, 0.0f);
    EXPECT_EQ (g.setparam (Noisegen::PINK, Noisegen::MAXDB), 0);
}


TEST (Noisegen, ChannelsAreUncorrelated)
{
    // The sampling error of a correlation estimate grows with the signal's
    // own correlation time: about 1 / sqrt(N) = 0.0016 for 4 * 10^5 white
    // samples, but 0.0022 only after 4 * 10^7 pink ones (their lowest
    // section has a time constant of 877 samples). Both bounds are over 4.5
    // of those errors.
    struct { int type; long n; } cases [] = { { Noisegen::WHITE, 400000 }, { Noisegen::PINK, 40000000 } };
    for (auto &c : cases)
    {
        Noisegen a, b;
        a.setparam (c.type, 0.0f);
        b.setparam (c.type, 0.0f);
        std::vector<float> x (100000), y (100000);
        double sxy = 0, sxx = 0, syy = 0;
        for (long k = 0; k < c.n; k += 100000)
        {
            a.process (100000, x.data ());
            b.process (100000, y.data ());
            for (int i = 0; i < 100000; i++)
            {
                sxy += (double) x [i] * y [i];
                sxx += (double) x [i] * x [i];
                syy += (double) y [i] * y [i];
            }
        }
        EXPECT_LT (fabs (sxy / sqrt (sxx * syy)), 0.01) << c.type;
    }
}
