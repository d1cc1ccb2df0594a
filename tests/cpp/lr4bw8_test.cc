// Crossover and Butterworth filters against their analog prototypes through
// the bilinear transform (prewarped at the filter frequency).

#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include "filters/lr4filter.h"
#include "filters/bw8filter.h"
#include "filtertest.h"

using namespace filtertest;

namespace {

// Bilinear variable S = s / tan (pi fc), s = (z - 1) / (z + 1), at frequency f.
cplx bilinear_s (double f, double fc)
{
    cplx z = std::polar (1.0, 2 * M_PI * f);
    return (z - 1.0) / (z + 1.0) / std::tan (M_PI * fc);
}

// Fourth-order crossover prototype: two sections with dampings 2 cos ((2 +- p) pi / 8).
cplx lr4_h (double f, double fc, double shape, bool hp)
{
    double p = std::pow ((shape + 6) / 3, 0.465);
    cplx S = bilinear_s (f, fc), h = 1.0;
    for (double d : { 2 * std::cos ((2 + p) * M_PI / 8), 2 * std::cos ((2 - p) * M_PI / 8) })
    {
        h *= (hp ? S * S : 1.0) / (S * S + d * S + 1.0);
    }
    return h;
}

// Eighth-order Butterworth: |H|^2 = 1 / (1 + (W / Wc)^16) in prewarped frequency.
double bw8_db (double f, double fc, bool hp)
{
    double r = std::tan (M_PI * f) / std::tan (M_PI * fc);
    if (hp) r = 1 / r;
    return -10 * std::log10 (1 + std::pow (r, 16));
}

std::vector<float> lr4_impulse (float fc, float shape, bool hp, int block, int n = 20000)
{
    Lr4filter F;
    F.setpars (fc, shape);
    return impulse (n, block, [&] (int m, float *x, float *y)
    {
        if (hp) F.process_hipass (m, x, y);
        else F.process_lopass (m, x, y);
    });
}

const double FREQS [] = { 0.0005, 0.002, 0.01, 0.02, 0.05, 0.1, 0.2, 0.3, 0.4, 0.45 };

}


TEST (Lr4filter, MatchesPrototype)
{
    for (float fc : { 0.002f, 0.02f, 0.1f, 0.3f })
    {
        for (float shape : { -6.0f, -4.5f, -3.0f })
        {
            for (bool hp : { false, true })
            {
                int block = hp ? 21 : 256;
                auto h = lr4_impulse (fc, shape, hp, block);
                for (double f : FREQS)
                {
                    double want = db (std::abs (lr4_h (f, fc, shape, hp)));
                    if (want < -80) continue;
                    EXPECT_NEAR (db (std::abs (dft (h, f))), want, 0.01) << fc << " " << shape << " " << hp << " " << f;
                }
            }
        }
    }
}


TEST (Lr4filter, LinkwitzRileySumIsFlat)
{
    const float fc = 1000 / 48000.0f;
    auto lp = lr4_impulse (fc, -6, false, 1000);
    auto hp = lr4_impulse (fc, -6, true, 1);
    std::vector<float> sum (lp.size ());
    for (size_t i = 0; i < sum.size (); i++) sum [i] = lp [i] + hp [i];
    for (double f = 20 / 48000.0; f < 0.45; f *= 1.05) EXPECT_NEAR (db (std::abs (dft (sum, f))), 0.0, 0.01) << f;
    EXPECT_NEAR (db (std::abs (dft (lp, fc))), -6.02, 0.005);
    EXPECT_NEAR (db (std::abs (dft (hp, fc))), -6.02, 0.005);
}


TEST (Lr4filter, ShapeLaw)
{
    const float fc = 1000 / 48000.0f;
    for (float shape = -6; shape <= -3.0f; shape += 0.25f)
    {
        for (bool hp : { false, true })
        {
            auto h = lr4_impulse (fc, shape, hp, 256);
            EXPECT_NEAR (db (std::abs (dft (h, fc))), shape, 0.04) << shape << " " << hp;
        }
    }
    EXPECT_NEAR (db (std::abs (dft (lr4_impulse (fc, -3, false, 256), fc))), -3.01, 0.005);
}


TEST (Lr4filter, ClampsAndNaN)
{
    Lr4filter A, B;
    A.setpars (0.7f, -10.0f);
    B.setpars (0.48f, -6.0f);
    EXPECT_EQ (A.a0, B.a0);
    EXPECT_EQ (A.g, B.g);
    A.setpars (INFINITY, INFINITY);
    B.setpars (0.48f, -3.0f);
    EXPECT_EQ (A.a2, B.a2);
    A.setpars (NAN, -3.0f);
    A.setpars (0.1f, NAN);
    EXPECT_EQ (A.a2, B.a2);
    A.setpars (-INFINITY, -4.0f);
    B.setpars (1e-6f, -4.0f);
    EXPECT_EQ (A.a1, B.a1);
}


TEST (Bw8filter, MatchesButterworth)
{
    for (float fc : { 0.001f, 1000 / 48000.0f, 0.1f, 0.3f, 0.45f })
    {
        for (bool hp : { false, true })
        {
            Bw8filter F;
            F.init (fc);
            auto h = impulse (40000, hp ? 1000 : 1, [&] (int m, float *x, float *y)
            {
                if (hp) F.prochighpass (m, x, y, 1.0f);
                else F.proclowpass (m, x, y, 1.0f);
            });
            for (double f : FREQS)
            {
                double want = bw8_db (f, fc, hp);
                if (want < -70) continue;
                EXPECT_NEAR (db (std::abs (dft (h, f))), want, 0.01) << fc << " " << hp << " " << f;
            }
        }
    }
}


TEST (Bw8filter, OneKilohertzLowPass)
{
    Bw8filter F;
    F.init (1000 / 48000.0f);
    auto h = impulse (20000, 256, [&] (int m, float *x, float *y) { F.proclowpass (m, x, y, 1.0f); });
    EXPECT_NEAR (db (std::abs (dft (h, 100 / 48000.0))), 0.0, 0.001);
    EXPECT_NEAR (db (std::abs (dft (h, 1000 / 48000.0))), -3.01, 0.005);
    EXPECT_NEAR (db (std::abs (dft (h, 2000 / 48000.0))), -48.0, 0.6);   // about -48 dB (-48.47 with the prewarp)
}


TEST (Bw8filter, StableAtAndAboveNyquist)
{
    for (float fc : { 0.48f, 0.5f, 0.7f, 3.0f, INFINITY })
    {
        for (bool hp : { false, true })
        {
            Bw8filter F;
            F.init (fc);
            auto h = impulse (4000, 256, [&] (int m, float *x, float *y)
            {
                if (hp) F.prochighpass (m, x, y, 1.0f);
                else F.proclowpass (m, x, y, 1.0f);
            });
            double tail = 0;
            for (int i = 3000; i < 4000; i++) tail = std::max (tail, (double) std::fabs (h [i]));
            EXPECT_LT (tail, 1e-6) << fc << " " << hp;
            // Acts as 0.48.
            Bw8filter R;
            R.init (0.48f);
            EXPECT_EQ (F.c [0], R.c [0]);
            EXPECT_EQ (F.g, R.g);
        }
    }
    Bw8filter F;
    F.init (0.1f);
    float c0 = F.c [0];
    F.init (NAN);
    EXPECT_EQ (F.c [0], c0);
}


TEST (Lr4filter, BandInOnePassEqualsTwo)
{
    for (float shape : { -6.0f, -4.2f, -3.0f })
    {
        Lr4filter h1, l1, h2, l2;
        h1.setpars (0.004f, shape); h2.setpars (0.004f, shape);
        l1.setpars (0.1f, -6.0f - shape - 3.0f); l2.setpars (0.1f, -6.0f - shape - 3.0f);
        std::vector<float> x (5000), a (5000), b (5000);
        for (int i = 0; i < 5000; i++) x [i] = sinf (0.37f * i) + 0.3f * sinf (0.011f * i);
        for (int k = 0; k < 5000; k += 1000)
        {
            h1.process_hipass (1000, x.data () + k, a.data () + k);
            l1.process_lopass (1000, a.data () + k, a.data () + k);
            Lr4filter::process_band (h2, l2, 1000, x.data () + k, b.data () + k);
        }
        EXPECT_EQ (a, b) << shape;
        EXPECT_EQ (h1.s4, h2.s4);
        EXPECT_EQ (l1.s3, l2.s3);
    }
}


TEST (Bw8filter, BandInOnePassEqualsTwo)
{
    for (float fh : { 0.001f, 0.02f, 0.3f })
    {
        Bw8filter h1, l1, h2, l2;
        h1.init (fh); h2.init (fh);
        l1.init (0.05f); l2.init (0.05f);
        std::vector<float> x (5000), a (5000), b (5000);
        for (int i = 0; i < 5000; i++) x [i] = sinf (0.37f * i) + 0.3f * sinf (0.011f * i);
        for (int k = 0; k < 5000; k += 1000)
        {
            h1.prochighpass (1000, x.data () + k, a.data () + k, 1.0f);
            l1.proclowpass (1000, a.data () + k, a.data () + k, 1.0f);
            Bw8filter::procbandpass (h2, l2, 1000, x.data () + k, b.data () + k);
        }
        EXPECT_EQ (a, b) << fh;
        EXPECT_EQ (h1.s [7], h2.s [7]);
        EXPECT_EQ (l1.s [6], l2.s [6]);
    }
}
