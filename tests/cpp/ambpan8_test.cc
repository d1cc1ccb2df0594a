// Ambpan8 and realspharm: closed formulas against the recursion, N3D against
// SN3D, directions beyond the poles, ramps over periods, adding panners.

#include <gtest/gtest.h>
#include <cmath>
#include <random>
#include <vector>
#include "ambisonics/ambpan8.h"
#include "ambisonics/realspharm.h"

namespace {

// Runs n samples of constant input 1 through the panner in periods of the
// given size and returns channel c.
std::vector<float> run (Ambpan8 &P, int n, int period, int c)
{
    const int nch = (P.degree + 1) * (P.degree + 1);
    std::vector<float> inp (period, 1.0f);
    std::vector<std::vector<float>> out (nch, std::vector<float> (n));
    float *op [81];
    for (int k = 0; k < n; k += period)
    {
        for (int i = 0; i < nch; i++) op [i] = out [i].data () + k;
        P.process (std::min (period, n - k), inp.data (), op, false);
    }
    return out [c];
}

}


TEST (Ambpan8, ClosedFormulasMatchRecursion)
{
    std::mt19937 rng (5);
    std::uniform_real_distribution<float> U (-7, 7);
    float g [81], h [81];
    for (bool semi : { true, false })
        for (int degree = 1; degree <= 4; degree++)
        {
            Ambpan8 P (48000, degree, semi);
            for (int k = 0; k < 20000; k++)
            {
                // Random directions, the poles, and elevations past them.
                float a = U (rng), e = U (rng);
                if (k < 4) e = (k & 1 ? -1 : 1) * (float) (M_PI / 2);
                P.encode4 (a, e, g);
                realspharm (degree, a, e, h, semi);
                for (int c = 0; c < (degree + 1) * (degree + 1); c++)
                    ASSERT_NEAR (g [c], h [c], semi ? 2e-7f : 6e-7f) << degree << " " << a << " " << e << " " << c;
            }
        }
}


TEST (Ambpan8, N3DIsSN3DScaledByDegree)
{
    float s [81], n [81];
    realspharm (8, 0.3, -0.7, s, true);
    realspharm (8, 0.3, -0.7, n, false);
    for (int l = 0; l <= 8; l++)
        for (int c = l * l; c <= l * l + 2 * l; c++) EXPECT_NEAR (n [c], s [c] * sqrtf (2 * l + 1), 1e-6f) << c;
    // Degree above 8 acts as 8; degree 0 or less writes channel 0 only.
    float t [100];
    for (float &x : t) x = 7.0f;
    realspharm (12, 0.3, -0.7, t, true);
    for (int c = 0; c < 81; c++) EXPECT_EQ (t [c], s [c]);
    EXPECT_EQ (t [81], 7.0f);
    realspharm (-1, 0.3, -0.7, t, true);
    EXPECT_EQ (t [0], 1.0f);
    EXPECT_EQ (t [1], s [1]);
}


TEST (Ambpan8, ElevationBeyondThePole)
{
    // Elevation 120 at azimuth a is elevation 60 at azimuth a + 180.
    for (int degree : { 1, 3, 4, 5, 8 })
    {
        Ambpan8 P (48000, degree, true);
        float g [81], h [81];
        P.encode (0.4f, (float) (120 * M_PI / 180), g);
        P.encode ((float) (0.4 + M_PI), (float) (60 * M_PI / 180), h);
        for (int c = 0; c < (degree + 1) * (degree + 1); c++) ASSERT_NEAR (g [c], h [c], 1e-6f) << degree << " " << c;
    }
}


TEST (Ambpan8, RampOverTwoPeriods)
{
    // 0.01 s at 48000 Hz is 480 samples: 256 in the first period, 224 in
    // the second, whose remaining 32 samples hold the final gain.
    Ambpan8 P (48000, 1, true);
    P.set_direction (90, 0, 0.01f);
    auto x = run (P, 1024, 256, 3);    // channel 3 (x) moves from 1 to 0
    for (int s = 0; s < 480; s++) ASSERT_NEAR (x [s], 1 - (s + 1) / 480.0f, 1e-6f) << s;
    for (int s = 480; s < 1024; s++) ASSERT_NEAR (x [s], 0.0f, 1e-7f) << s;
    EXPECT_EQ (P.nramp, 0);

    Ambpan8 Q (48000, 1, true);
    Q.set_direction (90, 0, 0.01f);
    run (Q, 256, 256, 1);
    EXPECT_EQ (Q.nramp, 224);
    run (Q, 256, 256, 1);
    EXPECT_EQ (Q.nramp, 0);
}


TEST (Ambpan8, RampTimeZeroAndRestartFromGainReached)
{
    Ambpan8 P (48000, 2, true);
    P.set_direction (90, 0, 0);
    auto y = run (P, 256, 256, 1);
    for (float v : y) ASSERT_EQ (v, 1.0f);
    // A request during a ramp starts from the gain reached.
    P.set_direction (0, 0, 1.0f);
    run (P, 12000, 1000, 1);
    const float g0 = P.gcurr [1];
    EXPECT_NEAR (g0, 0.75f, 1e-5f);
    P.set_direction (90, 0, 0.5f);
    auto z = run (P, 24000, 1000, 1);
    for (int s = 0; s < 24000; s++) ASSERT_NEAR (z [s], g0 + (s + 1) * (1 - g0) / 24000, 2e-6f) << s;
    // Ramp times clamp to 0 .. 1 s; non-finite angles drop the request.
    P.set_direction (0, 0, 3.0f);
    P.update ();
    EXPECT_EQ (P.nramp, 48000);
    const unsigned n = P.request.count ();
    P.set_direction (NAN, 0, 0);
    P.set_direction (0, INFINITY, 0);
    EXPECT_EQ (P.request.count (), n);
}


TEST (Ambpan8, AddingPanners)
{
    // Two panners adding into one set equal one panner fed their sum.
    Ambpan8 A (48000, 5, true), B (48000, 5, true), S (48000, 5, true);
    for (Ambpan8 *P : { &A, &B, &S }) P->set_direction (-30, 20, 0);
    std::vector<float> a (100), b (100), s (100);
    for (int i = 0; i < 100; i++) { a [i] = sinf (i * 0.1f); b [i] = cosf (i * 0.37f); s [i] = a [i] + b [i]; }
    std::vector<std::vector<float>> o1 (36, std::vector<float> (100)), o2 = o1;
    float *p1 [36], *p2 [36];
    for (int c = 0; c < 36; c++) { p1 [c] = o1 [c].data (); p2 [c] = o2 [c].data (); }
    A.process (100, a.data (), p1, false);
    B.process (100, b.data (), p1, true);
    S.process (100, s.data (), p2, false);
    for (int c = 0; c < 36; c++)
        for (int i = 0; i < 100; i++) ASSERT_NEAR (o1 [c][i], o2 [c][i], 1e-6f) << c << " " << i;
}
