// Dither: the quantiser's limits, the three processes against a direct
// model of their generator and noise filter, continuity across calls, and
// the spectrum of the noise-shaped error against the filter's own response.

#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include <vector>
#include "audiofile/dither.h"

namespace {

typedef void (Dither::*Proc) (int, const float *, short *, int, int);
const Proc procs [] = { &Dither::proc_rectangular, &Dither::proc_triangular, &Dither::proc_lipschitz };

std::vector<float> noise (int n, float amp, uint32_t seed = 99)
{
    std::vector<float> x (n);
    for (int i = 0; i < n; i++)
    {
        seed = seed * 69069u + 1u;
        x [i] = amp * ((float) (seed >> 8) / 8388608.0f - 1.0f);
    }
    return x;
}

}


TEST (Dither, StartsFromSeed)
{
    Dither D;
    EXPECT_EQ (D._ind, 63);
    EXPECT_EQ (D._ran, 1234567u);
    EXPECT_EQ (Dither::_div, 4294967296.0f);
    for (float e : D._err) EXPECT_EQ (e, 0.0f);
}


TEST (Dither, FullScaleGivesSymmetricLimits)
{
    std::vector<float> pos (5000, 1.0f), neg (5000, -1.0f);
    std::vector<short> out (5000);
    for (int p = 0; p < 2; p++)
    {
        Dither D;
        (D.*procs [p]) (5000, pos.data (), out.data (), 1, 1);
        for (short s : out) ASSERT_EQ (s, 32767);
        (D.*procs [p]) (5000, neg.data (), out.data (), 1, 1);
        for (short s : out) ASSERT_EQ (s, -32767);
    }
    // The shaped dither may swing past full scale; the clamp still holds.
    Dither D;
    D.proc_lipschitz (5000, neg.data (), out.data (), 1, 1);
    for (short s : out) ASSERT_GE (s, -32767);
}


// A direct model of the three processes, written from their definition.
TEST (Dither, MatchesModel)
{
    const int n = 3000;
    std::vector<float> x = noise (n, 0.3f);
    for (int p = 0; p < 3; p++)
    {
        SCOPED_TRACE (p);
        Dither D;
        std::vector<short> out (n);
        (D.*procs [p]) (n, x.data (), out.data (), 1, 1);
        uint32_t ran = 1234567;
        auto u = [&ran] () { ran = ran * 1103515245u + 12345u; return (float) ran / 4294967296.0f; };
        float prev = 0;
        std::vector<float> err;   // errors, newest last
        for (int k = 0; k < n; k++)
        {
            float q;
            if (p == 0) q = rintf (x [k] * 32768.0f + (u () - 0.5f));
            else if (p == 1) { float v = u (); q = rintf ((x [k] * 32768.0f + v) - prev); prev = v; }
            else
            {
                float e [5] = { 0, 0, 0, 0, 0 };
                for (int j = 0; j < 5 && j < (int) err.size (); j++) e [j] = err [err.size () - 1 - j];
                float y = x [k] * 32768.0f - 2.033f * e [0] + 2.165f * e [1] - 1.959f * e [2] + 1.59f * e [3] - 0.615f * e [4];
                float u1 = u (), u2 = u ();
                q = rintf ((y + u1) - u2);
                err.push_back (q - y);
            }
            q = fminf (fmaxf (q, -32767.0f), 32767.0f);
            ASSERT_EQ (out [k], (short) q) << "sample " << k;
        }
        EXPECT_EQ (D._ran, ran);
    }
}


// Calls of any length continue the same sequence: ring, index and generator
// run on without a seam.
TEST (Dither, ContinuesAcrossCalls)
{
    const int n = 2600;
    std::vector<float> x = noise (n, 0.5f);
    const int parts [] = { 1, 21, 256, 1000, 63, 64, 65, 1130 };
    for (int p = 0; p < 3; p++)
    {
        SCOPED_TRACE (p);
        Dither A, B;
        std::vector<short> whole (n), pieces (n);
        (A.*procs [p]) (n, x.data (), whole.data (), 1, 1);
        int k = 0;
        for (int len : parts)
        {
            (B.*procs [p]) (len, x.data () + k, pieces.data () + k, 1, 1);
            k += len;
        }
        ASSERT_EQ (k, n);
        EXPECT_EQ (whole, pieces);
        EXPECT_EQ (A._ran, B._ran);
        EXPECT_EQ (A._ind, B._ind);
        B.reset ();
        EXPECT_EQ (B._ran, 1234567u);
        EXPECT_EQ (B._ind, 63);
    }
}


// Interleaved channels with identical signals get identical output; the
// steps select every second sample in and out.
TEST (Dither, StridesAndIdenticalChannels)
{
    const int n = 1500;
    std::vector<float> mono = noise (n, 0.7f), inter (2 * n);
    for (int i = 0; i < n; i++) inter [2 * i] = inter [2 * i + 1] = mono [i];
    for (int p = 0; p < 3; p++)
    {
        Dither L, R, M;
        std::vector<short> out (2 * n), ref (n);
        (L.*procs [p]) (n, inter.data (), out.data (), 2, 2);
        (R.*procs [p]) (n, inter.data () + 1, out.data () + 1, 2, 2);
        (M.*procs [p]) (n, mono.data (), ref.data (), 1, 1);
        for (int i = 0; i < n; i++)
        {
            ASSERT_EQ (out [2 * i], out [2 * i + 1]);
            ASSERT_EQ (out [2 * i], ref [i]);
        }
    }
}


// The total error of the noise-shaped process, out - 32768 x, is the
// quantiser's own error filtered by H(z) = 1 - 2.033 z^-1 + 2.165 z^-2
// - 1.959 z^-3 + 1.59 z^-4 - 0.615 z^-5. Its measured power spectrum divided
// by |H|^2 must be flat (white quantiser error), and it must rise with
// frequency as |H|^2 does. Rectangular dither stays flat.
TEST (Dither, ShapedErrorFollowsFilter)
{
    const int N = 256, blocks = 600, n = N * blocks;
    std::vector<float> x = noise (n, 0.25f);
    std::vector<short> out (n);
    const double h [6] = { 1, -2.033, 2.165, -1.959, 1.59, -0.615 };
    const int bins [] = { 4, 16, 32, 48, 64, 80, 96, 112, 124 };
    const int nb = sizeof (bins) / sizeof (bins [0]);
    for (int p : { 0, 2 })
    {
        Dither D;
        (D.*procs [p]) (n, x.data (), out.data (), 1, 1);
        double psd [nb] = {};
        for (int b = 0; b < blocks; b++)
        {
            for (int j = 0; j < nb; j++)
            {
                double re = 0, im = 0;
                for (int i = 0; i < N; i++)
                {
                    int k = b * N + i;
                    double e = out [k] - (double) (x [k] * 32768.0f);
                    double w = 0.5 - 0.5 * cos (2 * M_PI * i / N);
                    re += w * e * cos (2 * M_PI * bins [j] * i / N);
                    im -= w * e * sin (2 * M_PI * bins [j] * i / N);
                }
                psd [j] += re * re + im * im;
            }
        }
        double ratio [nb], mean = 0;
        for (int j = 0; j < nb; j++)
        {
            double hr = 0, hi = 0;
            for (int t = 0; t < 6; t++)
            {
                hr += h [t] * cos (2 * M_PI * bins [j] * t / N);
                hi -= h [t] * sin (2 * M_PI * bins [j] * t / N);
            }
            double H2 = (p == 2) ? hr * hr + hi * hi : 1.0;
            ratio [j] = psd [j] / H2;
            mean += ratio [j] / nb;
        }
        for (int j = 0; j < nb; j++)
        {
            SCOPED_TRACE (testing::Message () << "process " << p << " bin " << bins [j]);
            EXPECT_NEAR (10 * log10 (ratio [j] / mean), 0.0, 1.0);
        }
        if (p == 2)
        {
            EXPECT_GT (psd [nb - 1], 100 * psd [0]);   // rises by more than 20 dB
        }
    }
}
