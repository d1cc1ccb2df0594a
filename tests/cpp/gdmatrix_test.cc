// Gdmatrix: routing, gain ramps and delay crossfades against a reference
// computed in double from the whole input history, setter addressing and
// refusals, limits, missing ports.

#include <gtest/gtest.h>
#include <cmath>
#include <functional>
#include <random>
#include <vector>
#include "dynamics/gdmatrix.h"

namespace {

typedef std::vector<std::vector<float>> Multi;

// Runs one period of n samples starting at sample k of x into y.
void period (Gdmatrix &M, const Multi &x, Multi &y, int k, int n)
{
    float *ip [Gdmatrix::MAXCHAN], *op [Gdmatrix::MAXCHAN];
    for (int i = 0; i < M.ninp; i++) ip [i] = const_cast<float *> (x [i].data ()) + k;
    for (int o = 0; o < M.nout; o++) op [o] = y [o].data () + k;
    M.process (n, ip, op);
}

Multi sines (int nch, int len, double fs, double f0)
{
    Multi x (nch, std::vector<float> (len));
    for (int c = 0; c < nch; c++)
        for (int n = 0; n < len; n++) x [c][n] = (float) std::sin (2 * M_PI * f0 * (c + 1) * n / fs + c);
    return x;
}

// The settings of one route as the reference sees them.
struct Route { double g; int d; };

// Reference output of route (i, o) over one period: gain ramp from go to gn,
// or a crossfade from delay d0 to d1, read straight from the input history.
void reference_route (const std::vector<float> &x, int k, int n, Route old, Route now, double *acc)
{
    auto at = [&] (long m) { return (m < 0) ? 0.0 : (double) x [m]; };
    for (int j = 0; j < n; j++)
    {
        const double w = (j + 1) / (double) n;
        if (now.d != old.d) acc [j] += old.g * (1 - w) * at (k + j - old.d) + now.g * w * at (k + j - now.d);
        else
        {
            const bool same = std::fabs (now.g - old.g) <= 0.001 * (std::fabs (old.g) + std::fabs (now.g));
            acc [j] += (same ? now.g : old.g + w * (now.g - old.g)) * at (k + j - now.d);
        }
    }
}

}


TEST (Gdmatrix, SilentAfterCreation)
{
    for (float maxdelay : { 0.0f, 0.1f })
    {
        Gdmatrix M;
        M.init (3, 2, 48000, 256, maxdelay);
        Multi x = sines (3, 1024, 48000, 1000), y (2, std::vector<float> (1024, 5.0f));
        for (int k = 0; k < 1024; k += 256) period (M, x, y, k, 256);
        for (auto &ch : y) for (float v : ch) ASSERT_EQ (v, 0.0f);
    }
}


TEST (Gdmatrix, FirstGainRampsOverOnePeriod)
{
    for (int n : { 1, 21, 256, 1000 })
    {
        for (float maxdelay : { 0.0f, 0.05f })
        {
            Gdmatrix M;
            M.init (2, 2, 48000, n, maxdelay);
            Multi x = sines (2, 4 * n, 48000, 997), y (2, std::vector<float> (4 * n));
            M.set_gain (0, 0, 1.0f);
            for (int k = 0; k < 4 * n; k += n) period (M, x, y, k, n);
            for (int j = 0; j < n; j++) ASSERT_NEAR (y [0][j], x [0][j] * (j + 1) / (float) n, 1e-6f) << n << " " << j;
            for (int j = n; j < 4 * n; j++) ASSERT_EQ (y [0][j], x [0][j]);
            for (int j = 0; j < 4 * n; j++) ASSERT_EQ (y [1][j], 0.0f);
        }
    }
}


TEST (Gdmatrix, GainsMultiply)
{
    // Matrix x input x output gain, reached after a one-period ramp.
    struct Case { int i, o; float g; float out0, out1; };
    const Case cases [] =
    {
        { -1, 0, 0.5f, 0.5f * 2 + 0.5f * 3, 5 },   // output 0 halved
        { 0, -1, 0.0f, 3, 3 },                     // input 0 off everywhere
        { 1, -1, -2.0f, 2 - 6, 2 - 6 },            // input 1 inverted and doubled
        { -1, 1, 0.25f, 5, 5 * 0.25f },
        { 1, 1, 0.0f, 5, 2 },                      // one element
        { -1, -1, 9.0f, 5, 5 },                    // nothing
        { 2, 0, 9.0f, 5, 5 },                      // input out of range
        { 0, 2, 9.0f, 5, 5 },                      // output out of range
        { -1, 7, 9.0f, 5, 5 },
    };
    for (const Case &c : cases)
    {
        Gdmatrix M;
        M.init (2, 2, 48000, 64, 0.0f);
        // Every element 1, inputs at DC 2 and 3: both outputs 5.
        Multi x { std::vector<float> (640, 2.0f), std::vector<float> (640, 3.0f) }, y (2, std::vector<float> (640));
        M.set_gain (0, 0, 1.0f);
        M.set_gain (1, 0, 1.0f);
        M.set_gain (0, 1, 1.0f);
        M.set_gain (1, 1, 1.0f);
        EXPECT_EQ (M.set_gain (c.i, c.o, c.g), 0);
        for (int k = 0; k < 640; k += 64) period (M, x, y, k, 64);
        EXPECT_FLOAT_EQ (y [0][639], c.out0) << c.i << " " << c.o;
        EXPECT_FLOAT_EQ (y [1][639], c.out1) << c.i << " " << c.o;
    }
}


TEST (Gdmatrix, SmallChangeIsAStepLargeOneARamp)
{
    Gdmatrix M;
    M.init (1, 1, 48000, 100, 0.0f);
    Multi x { std::vector<float> (300, 1.0f) }, y (1, std::vector<float> (300));
    M.set_gain (0, 0, 1.0f);
    period (M, x, y, 0, 100);
    M.set_gain (0, 0, 1.0015f);    // 0.075 % of the sum: taken at once
    period (M, x, y, 100, 100);
    for (int j = 100; j < 200; j++) ASSERT_EQ (y [0][j], 1.0015f);
    M.set_gain (0, 0, 1.0045f);    // 0.15 %: ramped
    period (M, x, y, 200, 100);
    EXPECT_NEAR (y [0][200], 1.0015f + 0.003f / 100, 1e-6f);
    EXPECT_NEAR (y [0][249], 1.0015f + 0.003f * 50 / 100, 1e-6f);
    EXPECT_NEAR (y [0][299], 1.0045f, 1e-6f);
}


TEST (Gdmatrix, DelayLimits)
{
    struct Case { float maxdelay; int fs; int maxdel; float di, dm, dout; int route; };
    const Case cases [] =
    {
        { 0.01f, 48000, 480, 0, 0.02f, 0, 480 },          // saturates at the maximum
        { 0.01f, 48000, 480, 0.002f, 0.001f, 0.003f, 288 },
        { 0.01f, 48000, 480, -0.005f, 0.001f, 0, 0 },     // negative total counts as 0
        { 0.01f, 48000, 480, -0.001f, 0.003f, 0, 96 },    // negative parts add in
        { 0.01f, 48000, 480, -0.00099f, 0.003f, 0, 96 },  // -47.52 samples round to -48
        { 0.01f, 48000, 480, -0.00097f, 0.003f, 0, 97 },  // -46.56 to -47
        { 5.0f, 48000, 144000, 0, 4.0f, 0, 144000 },      // 5 s counts as 3 s
        { INFINITY, 44100, 132300, 0, 1e30f, 1e30f, 132300 },   // no overflow of the sum
        { 0.01f, 44100, 441, 0, -1e30f, -1e30f, 0 },
        { 1e-5f, 48000, 0, 0, 0.001f, 0, 0 },             // rounds to 0: no delay lines
        { -1.0f, 48000, 0, 0, 0.001f, 0, 0 },
        { NAN, 48000, 0, 0, 0.001f, 0, 0 },
    };
    for (const Case &c : cases)
    {
        Gdmatrix M;
        M.init (1, 1, c.fs, 64, c.maxdelay);
        EXPECT_EQ (M.maxdel, c.maxdel) << c.maxdelay;
        M.set_gain (0, 0, 1.0f);
        EXPECT_EQ (M.set_delay (0, -1, c.di), 0);
        EXPECT_EQ (M.set_delay (0, 0, c.dm), 0);
        EXPECT_EQ (M.set_delay (-1, 0, c.dout), 0);
        if (!c.maxdel)
        {
            EXPECT_EQ (M.dinp, nullptr);
            EXPECT_EQ (M.delays, nullptr);
        }
        // A click at sample 0 comes out at the route delay.
        const int len = 64 * (c.route / 64 + 3);
        Multi x { std::vector<float> (len) }, y (1, std::vector<float> (len));
        for (int k = 0; k < len; k += 64)
        {
            period (M, x, y, k, 64);
            if (k == 0) x [0][64] = 1.0f;    // after the first period's crossfade
        }
        for (int n = 0; n < len; n++) ASSERT_EQ (y [0][n], (n == 64 + c.route) ? 1.0f : 0.0f) << c.maxdelay << " " << n;
    }
}


TEST (Gdmatrix, DelayChangeCrossfades)
{
    // 1 kHz sine, route delay changed from 0 to 100 samples: in that period
    // the output fades linearly from the direct to the delayed sine, then it
    // is the delayed sine; no jump anywhere.
    for (int n : { 256, 1000 })
    {
        const double fs = 48000;
        Gdmatrix M;
        M.init (1, 1, (int) fs, n, 0.01f);
        Multi x = sines (1, 4 * n, fs, 1000), y (1, std::vector<float> (4 * n));
        M.set_gain (0, 0, 1.0f);
        period (M, x, y, 0, n);
        period (M, x, y, n, n);
        M.set_delay (0, 0, 100 / fs);
        EXPECT_EQ (M.dmat [0].load (), 100);
        period (M, x, y, 2 * n, n);
        period (M, x, y, 3 * n, n);
        for (int j = 0; j < n; j++)
        {
            const double w = (j + 1) / (double) n;
            const int m = 2 * n + j;
            ASSERT_NEAR (y [0][m], (1 - w) * x [0][m] + w * x [0][m - 100], 1e-6) << j;
            ASSERT_EQ (y [0][3 * n + j], x [0][3 * n + j - 100]);
        }
        // The largest step between samples stays that of the sine.
        const double smax = 2 * M_PI * 1000 / fs;
        for (int m = n + 1; m < 4 * n; m++) ASSERT_LT (std::fabs (y [0][m] - y [0][m - 1]), smax * 1.01) << m;
    }
}


TEST (Gdmatrix, MatchesReferenceUnderRandomChanges)
{
    // Random gains and delays, changed between periods, against the
    // reference computed in double from the whole input history.
    std::mt19937 rng (5);
    std::uniform_real_distribution<float> ug (-1.5f, 1.5f), ud (-0.002f, 0.006f);
    std::uniform_int_distribution<int> pick (-1, 3);
    const int fs = 48000, ninp = 3, nout = 4;
    for (int n : { 1, 21, 256, 1000 })
    {
        for (float maxdelay : { 0.0f, 0.005f })
        {
            Gdmatrix M;
            M.init (ninp, nout, fs, n, maxdelay);
            const int np = std::max (40, 20000 / n), len = np * n;
            Multi x = sines (ninp, len, fs, 313), y (nout, std::vector<float> (len));
            std::vector<double> gi (ninp, 1), go (nout, 1), gm (ninp * nout, 0);
            std::vector<int> di (ninp, 0), dout (nout, 0), dm (ninp * nout, 0);
            std::vector<Route> cur (ninp * nout, Route { 0, 0 });
            std::vector<double> acc (n);
            for (int p = 0; p < np; p++)
            {
                // A few changes before some periods, including none.
                for (int c = 0; c < (p % 3 == 0 ? 3 : 0); c++)
                {
                    int i = pick (rng), o = pick (rng);
                    if (i >= ninp) i = ninp - 1;
                    float g = ug (rng), t = ud (rng);
                    M.set_gain (i, o, g);
                    M.set_delay (i, o, t);
                    int d = (int) std::floor (t * (double) fs + 0.5);
                    if (i >= 0 && o >= 0) { gm [i + o * ninp] = g; dm [i + o * ninp] = d; }
                    else if (i >= 0) { gi [i] = g; di [i] = d; }
                    else if (o >= 0) { go [o] = g; dout [o] = d; }
                }
                period (M, x, y, p * n, n);
                for (int o = 0; o < nout; o++)
                {
                    std::fill (acc.begin (), acc.end (), 0.0);
                    for (int i = 0; i < ninp; i++)
                    {
                        const int k = i + o * ninp;
                        Route now { (double) (float) ((float) gm [k] * (float) gi [i] * (float) go [o]), 0 };
                        if (M.maxdel) now.d = std::min (M.maxdel, std::max (0, di [i] + dm [k] + dout [o]));
                        reference_route (x [i], p * n, n, cur [k], now, acc.data ());
                        cur [k] = now;
                    }
                    for (int j = 0; j < n; j++)
                        ASSERT_NEAR (y [o][p * n + j], acc [j], 2e-5) << n << " " << maxdelay << " p " << p << " o " << o << " j " << j;
                }
            }
        }
    }
}


TEST (Gdmatrix, RefusedValuesKeepTheSetting)
{
    Gdmatrix M;
    M.init (2, 2, 48000, 64, 0.1f);
    M.set_gain (0, 1, 0.5f);
    M.set_delay (0, 1, 0.001f);
    for (float bad : { NAN, INFINITY, -INFINITY, 2e12f, -2e12f })
    {
        EXPECT_EQ (M.set_gain (0, 1, bad), -1) << bad;
        EXPECT_EQ (M.set_gain (-1, 1, bad), -1) << bad;
    }
    for (float bad : { NAN, INFINITY, -INFINITY }) EXPECT_EQ (M.set_delay (0, 1, bad), -1) << bad;
    EXPECT_EQ (M.gmat [0 + 1 * 2].load (), 0.5f);
    EXPECT_EQ (M.gout [1].load (), 1.0f);
    EXPECT_EQ (M.dmat [0 + 1 * 2].load (), 48);
    // The largest gains accepted cannot overflow as a product of three.
    EXPECT_EQ (M.set_gain (0, 1, 1e12f), 0);
    EXPECT_EQ (M.set_gain (0, -1, -1e12f), 0);
    EXPECT_EQ (M.set_gain (-1, 1, 1e12f), 0);
    EXPECT_TRUE (std::isfinite (M.gmat [2].load () * M.ginp [0].load () * M.gout [1].load ()));
    // Without delay lines set_delay does nothing.
    Gdmatrix N;
    N.init (2, 2, 48000, 64, 0.0f);
    EXPECT_EQ (N.set_delay (0, 0, 0.5f), 0);
    EXPECT_EQ (N.dmat, nullptr);
}


TEST (Gdmatrix, CountsAndEmptySides)
{
    Gdmatrix M;
    M.init (150, 101, 48000, 64, 0.0f);
    EXPECT_EQ (M.ninp, 100);
    EXPECT_EQ (M.nout, 100);
    M.init (-1, 3, 48000, 64, 0.01f);
    EXPECT_EQ (M.ninp, 0);
    // No inputs: the outputs are cleared.
    Multi x, y (3, std::vector<float> (64, 1.0f));
    period (M, x, y, 0, 64);
    for (auto &ch : y) for (float v : ch) ASSERT_EQ (v, 0.0f);
    M.init (2, 0, 48000, 64, 0.01f);
    Multi x2 = sines (2, 64, 48000, 100), y2;
    period (M, x2, y2, 0, 64);
}


TEST (Gdmatrix, MissingPortsAndOtherPeriods)
{
    // A missing input is silence, a missing output is skipped; with delay
    // lines a period of another size gives silence instead of reading past them.
    for (float maxdelay : { 0.0f, 0.01f })
    {
        Gdmatrix M;
        M.init (2, 2, 48000, 64, maxdelay);
        for (int i = 0; i < 2; i++) for (int o = 0; o < 2; o++) M.set_gain (i, o, 1.0f);
        std::vector<float> a (128, 0.5f), o0 (128, 9.0f);
        float *ip [2] = { nullptr, a.data () }, *op [2] = { o0.data (), nullptr };
        M.process (64, ip, op);
        M.process (64, ip, op);
        EXPECT_EQ (o0 [63], 0.5f);
        M.process (128, ip, op);
        EXPECT_EQ (o0 [127], maxdelay ? 0.0f : 0.5f) << maxdelay;
    }
}
