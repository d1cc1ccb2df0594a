// Rngen: seeding, reproducibility, the polar method pair order, and the
// distribution against the normal CDF.

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>
#include <fcntl.h>
#include <algorithm>
#include <vector>
#include "signals/rngen.h"

namespace {

// The seed spreading written out byte by byte: eight successive values of
// the 32-bit LCG after 100 warm-up steps, top byte of each, first one most
// significant.
uint64_t spread (uint32_t s)
{
    unsigned char b [8];
    for (int i = 0; i < 100; i++) s = s * 1103515245u + 12345u;
    for (int i = 0; i < 8; i++)
    {
        if (i) s = s * 1103515245u + 12345u;
        b [i] = s >> 24;
    }
    uint64_t r = 0;
    for (int i = 0; i < 8; i++) r = r * 256 + b [i];
    return r;
}

// Reference uniform value from a state, in long double; rounded through
// float first when the float operations are followed (their u is the 32-bit
// value rounded to float, minus 1).
long double uref (uint64_t &st, bool in_float = false)
{
    st = st * 6364136223846793005ULL + 1442695040888963407ULL;
    if (in_float) return ldexpf ((float)(uint32_t)(st >> 32), -31) - 1.0f;
    return ldexpl ((long double)(st >> 32), -31) - 1.0L;
}

// Kolmogorov-Smirnov distance of a sample from N(0, sigma²).
double ks_normal (std::vector<double> x, double sigma)
{
    std::sort (x.begin (), x.end ());
    double d = 0, n = x.size ();
    for (size_t i = 0; i < x.size (); i++)
    {
        double F = 0.5 * erfc (-x [i] / (sigma * sqrt (2.0)));
        d = std::max (d, std::max (fabs (F - i / n), fabs (F - (i + 1) / n)));
    }
    return d;
}

struct Moments { double mean, var, kurt; };

Moments moments (const std::vector<double> &x)
{
    double s1 = 0, s2 = 0, s4 = 0, n = x.size ();
    for (double v : x) s1 += v;
    double m = s1 / n;
    for (double v : x)
    {
        double d = (v - m) * (v - m);
        s2 += d;
        s4 += d * d;
    }
    return { m, s2 / n, (s4 / n) / ((s2 / n) * (s2 / n)) };
}

// Restores the random device after a test points it elsewhere.
struct DeviceGuard
{
    const char *saved = Rngen::_device;
    ~DeviceGuard (void) { Rngen::_device = saved; }
};

}


TEST (Rngen, SeedSpreadsOverSixtyFourBits)
{
    for (unsigned seed : { 1u, 2u, 12345u, 0x80000000u, 0xffffffffu })
    {
        Rngen R (seed);
        EXPECT_EQ (R.rstate, spread (seed)) << seed;
        EXPECT_FALSE (R.have_d);
        EXPECT_FALSE (R.have_f);
    }
}


TEST (Rngen, SameSeedSameSequence)
{
    Rngen A (77), B (77), C (78);
    int same_c = 0;
    for (int i = 0; i < 1000; i++)
    {
        double a = A.grand (), b = B.grand (), c = C.grand ();
        EXPECT_EQ (a, b);
        same_c += (a == c);
        EXPECT_EQ (A.grandf (), B.grandf ());
        double a1, a2, b1, b2;
        A.grand (&a1, &a2);
        B.grand (&b1, &b2);
        EXPECT_EQ (a1, b1);
        EXPECT_EQ (a2, b2);
    }
    EXPECT_EQ (same_c, 0);
    // Re-seeding restarts the sequence and drops the waiting value.
    Rngen D (5);
    double d0 = D.grand ();
    D.init (5);
    EXPECT_EQ (D.grand (), d0);
}


TEST (Rngen, SeedZeroDiffers)
{
    Rngen A (0), B (0);
    EXPECT_NE (A.rstate, B.rstate);
    int same = 0;
    for (int i = 0; i < 100; i++) same += (A.grand () == B.grand ());
    EXPECT_EQ (same, 0);
}


TEST (Rngen, GrandReturnsBothValuesOfOnePair)
{
    // Follows the generator with its own rejection loop in long double.
    for (bool use_float : { false, true })
    {
        Rngen R (4242);
        uint64_t st = R.rstate;
        for (int k = 0; k < 2000; k++)
        {
            long double u, v, r;
            do
            {
                u = uref (st, use_float);
                v = uref (st, use_float);
                r = use_float ? (long double)((float) u * (float) u + (float) v * (float) v) : u * u + v * v;
            }
            while (r > 1 || r < (use_float ? 1e-20L : 1e-40L));
            long double f = sqrtl (-2 * logl (r) / r);
            double x1 = use_float ? R.grandf () : R.grand ();
            EXPECT_EQ (R.rstate, st);
            double x2 = use_float ? R.grandf () : R.grand ();
            EXPECT_EQ (R.rstate, st);   // the second value draws nothing
            double tol = use_float ? 1e-5 : 1e-14;
            ASSERT_NEAR (x1, (double)(u * f), tol * (1 + fabs (x1))) << k;
            ASSERT_NEAR (x2, (double)(v * f), tol * (1 + fabs (x2))) << k;
        }
    }
}


TEST (Rngen, PairsHaveHalfVariance)
{
    Rngen R (99);
    uint64_t st = R.rstate;
    // Pairs follow the same rejection loop, scaled by sqrt(-ln r / r).
    for (int k = 0; k < 500; k++)
    {
        long double u, v, r;
        do
        {
            u = uref (st);
            v = uref (st);
            r = u * u + v * v;
        }
        while (r > 1 || r < 1e-40L);
        long double f = sqrtl (-logl (r) / r);
        double a, b;
        R.grand (&a, &b);
        ASSERT_NEAR (a, (double)(u * f), 1e-14 * (1 + fabs (a)));
        ASSERT_NEAR (b, (double)(v * f), 1e-14 * (1 + fabs (b)));
    }
    // Pair operations leave a waiting value alone.
    R.grand ();
    ASSERT_TRUE (R.have_d);
    double spare = R.spare_d, a, b;
    R.grand (&a, &b);
    EXPECT_TRUE (R.have_d);
    EXPECT_EQ (R.grand (), spare);
    float fa, fb;
    R.grandf ();
    ASSERT_TRUE (R.have_f);
    float fspare = R.spare_f;
    R.grandf (&fa, &fb);
    EXPECT_EQ (R.grandf (), fspare);
}


TEST (Rngen, Distribution)
{
    // 10^6 values: sampling errors are about 0.001 for the mean, 0.0014 for
    // the variance (relative), 0.005 for the kurtosis; bounds are 4 to 5 of those.
    const int N = 1000000;
    Rngen R (0);
    std::vector<double> d (N), f (N), a (N), b (N);
    for (int i = 0; i < N; i++) d [i] = R.grand ();
    for (int i = 0; i < N; i++) f [i] = R.grandf ();
    for (int i = 0; i < N; i++) R.grand (&a [i], &b [i]);
    std::vector<float> fa (N), fb (N);
    for (int i = 0; i < N; i++) R.grandf (&fa [i], &fb [i]);
    std::vector<double> ga (fa.begin (), fa.end ()), gb (fb.begin (), fb.end ());

    struct Case { const char *name; std::vector<double> *x; double var; };
    Case cases [] = { { "grand", &d, 1.0 }, { "grandf", &f, 1.0 },
                      { "pair a", &a, 0.5 }, { "pair b", &b, 0.5 },
                      { "pairf a", &ga, 0.5 }, { "pairf b", &gb, 0.5 } };
    for (auto &c : cases)
    {
        Moments m = moments (*c.x);
        EXPECT_NEAR (m.mean, 0.0, 0.005 * sqrt (c.var)) << c.name;
        EXPECT_NEAR (m.var / c.var, 1.0, 0.007) << c.name;
        EXPECT_NEAR (m.kurt, 3.0, 0.03) << c.name;
        // 1.95 / sqrt(N) is the 0.1 % critical value of the KS statistic.
        EXPECT_LT (ks_normal (*c.x, sqrt (c.var)), 1.95 / sqrt ((double) N)) << c.name;
    }
    // The two values of a pair are uncorrelated.
    double sab = 0;
    for (int i = 0; i < N; i++) sab += a [i] * b [i];
    EXPECT_NEAR (sab / N / 0.5, 0.0, 0.005);
}


TEST (Rngen, DeviceBytesBecomeTheState)
{
    DeviceGuard guard;
    char path [] = "/tmp/vesk-rngen-XXXXXX";
    int fd = mkstemp (path);
    ASSERT_GE (fd, 0);
    uint64_t want = 0x0123456789abcdefULL;
    ASSERT_EQ (write (fd, &want, 8), 8);
    close (fd);
    Rngen::_device = path;
    Rngen R (1);
    R.grand ();
    EXPECT_EQ (R.init_urandom (), 0);
    EXPECT_EQ (R.rstate, want);
    EXPECT_TRUE (R.have_d);   // init_urandom keeps the waiting value
    R.init (0);
    EXPECT_EQ (R.rstate, want);
    EXPECT_FALSE (R.have_d);

    // A device that ends before 8 bytes counts as failed.
    fd = open (path, O_WRONLY | O_TRUNC);
    ASSERT_EQ (write (fd, &want, 5), 5);
    close (fd);
    EXPECT_EQ (R.init_urandom (), 1);
    unlink (path);
}


TEST (Rngen, SeedsFromTimeWithoutDevice)
{
    DeviceGuard guard;
    Rngen::_device = "/nonexistent/vesk-no-random-device";
    Rngen R (1);
    EXPECT_EQ (R.init_urandom (), 1);
    time_t t0 = time (nullptr);
    R.init (0);
    time_t t1 = time (nullptr);
    EXPECT_TRUE (R.rstate == spread ((uint32_t) t0) || R.rstate == spread ((uint32_t) t1));
    // The sequence is usable as ever.
    double s = 0;
    for (int i = 0; i < 10000; i++) s += R.grand () * R.grand ();
    EXPECT_TRUE (isfinite (s));
}
