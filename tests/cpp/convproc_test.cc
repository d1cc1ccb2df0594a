// Convproc against a direct convolution in double precision, run in sync
// mode (no deadlines: every partition is computed).

#include <math.h>
#include <sched.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <random>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include "convproc.h"

namespace {

typedef std::vector<float> Vec;

Vec noise (int n, unsigned seed)
{
    std::mt19937 g (seed);
    std::normal_distribution<float> d;
    Vec v (n);
    for (auto &x : v) x = d (g);
    return v;
}

// y += h * x, truncated to x's length.
void direct (std::vector<double> &y, const Vec &h, const Vec &x)
{
    for (size_t k = 0; k < h.size (); k++)
    {
        double g = h [k];
        if (g == 0) continue;
        for (size_t n = k; n < x.size (); n++) y [n] += g * x [n - k];
    }
}

double rel_db (const Vec &y, const std::vector<double> &r)
{
    double e = 0, s = 0;
    for (size_t n = 0; n < r.size (); n++)
    {
        e += (y [n] - r [n]) * (y [n] - r [n]);
        s += r [n] * r [n];
    }
    return 10 * log10 (e / s);
}

bool wait_stop (Convproc &C)
{
    for (int n = 0; n < 500; n++)
    {
        if (C.check_stop ()) return true;
        usleep (10000);
    }
    return false;
}

// Runs the engine over x (one array per input) and returns its outputs.
std::vector<Vec> run (Convproc &C, const std::vector<Vec> &x, int nout, bool sync = true)
{
    int B = C.quantum ();
    size_t N = x [0].size ();
    std::vector<Vec> y (nout, Vec (N));
    EXPECT_EQ (C.start_process (0, SCHED_OTHER), 0);
    for (size_t t = 0; t + B <= N; t += B)
    {
        for (size_t i = 0; i < x.size (); i++) memcpy (C.inpbuff [i] + C.inpoffs, &x [i][t], B * sizeof (float));
        C.process (sync);
        for (int o = 0; o < nout; o++) memcpy (&y [o][t], C.outbuff [o] + C.outoffs, B * sizeof (float));
    }
    EXPECT_EQ (C.stop_process (), 0);
    EXPECT_TRUE (wait_stop (C));
    EXPECT_EQ (C.state.load (), Convproc::ST_STOP);
    return y;
}

struct Case { int B; int len; };

class Accuracy : public ::testing::TestWithParam<Case> {};

TEST_P (Accuracy, MatchesDirectConvolution)
{
    Case c = GetParam ();
    Convproc C;
    ASSERT_EQ (C.configure (2, 2, c.len, c.B, c.B, 8192, 0.5f), 0);
    Vec h00 = noise (c.len, 1), h10 = noise (c.len, 2), h11 = noise ((c.len + 1) / 2, 3);
    ASSERT_EQ (C.impdata_create (0, 0, 1, h00.data (), 0, c.len), 0);
    ASSERT_EQ (C.impdata_create (1, 0, 1, h10.data (), 0, c.len), 0);
    ASSERT_EQ (C.impdata_create (1, 1, 1, h11.data (), 0, (int) h11.size ()), 0);
    int N = ((c.len + 3 * 4096) / c.B + 1) * c.B;
    std::vector<Vec> x = { noise (N, 4), noise (N, 5) };
    auto y = run (C, x, 2);
    std::vector<double> r0 (N), r1 (N);
    direct (r0, h00, x [0]);
    direct (r0, h10, x [1]);
    direct (r1, h11, x [1]);
    EXPECT_LT (rel_db (y [0], r0), -120) << "B " << c.B << " len " << c.len;
    EXPECT_LT (rel_db (y [1], r1), -120) << "B " << c.B << " len " << c.len;
}

INSTANTIATE_TEST_SUITE_P (Layouts, Accuracy, ::testing::Values (
    Case { 64, 1 }, Case { 64, 63 }, Case { 64, 257 }, Case { 64, 5000 }, Case { 64, 40000 },
    Case { 256, 1 }, Case { 256, 1024 }, Case { 256, 1025 }, Case { 256, 30000 },
    Case { 1000, 999 }, Case { 1000, 17000 }, Case { 1024, 50000 }, Case { 16, 3000 }),
    [] (const ::testing::TestParamInfo<Case> &p)
    {
        return "B" + std::to_string (p.param.B) + "_len" + std::to_string (p.param.len);
    });


TEST (Convproc, UnitImpulseCopiesInTheSamePeriod)
{
    Convproc C;
    ASSERT_EQ (C.configure (1, 3, 100000, 64, 64, 8192, 0.0f), 0);
    float one = 1.0f;
    ASSERT_EQ (C.impdata_create (0, 0, 1, &one, 0, 1), 0);
    ASSERT_EQ (C.impdata_create (0, 1, 1, &one, 20000, 20001), 0);   // a worker level, delay 20000
    Vec x = noise (64 * 500, 7);
    auto y = run (C, { x }, 3);
    for (size_t n = 0; n < x.size (); n++)
    {
        ASSERT_NEAR (y [0][n], x [n], 1e-6f * (1 + fabsf (x [n]))) << n;
        ASSERT_NEAR (y [1][n], n >= 20000 ? x [n - 20000] : 0.0f, 1e-5f) << n;
        ASSERT_EQ (y [2][n], 0.0f);
    }
}


TEST (Convproc, LayoutDoublesUpToMaxpart)
{
    Convproc C;
    ASSERT_EQ (C.configure (2, 2, 240000, 64, 64, 8192, 1.0f), 0);
    ASSERT_EQ (C.level_size (0), 64);
    ASSERT_EQ (C.level_parts (0), 4);
    int k = 1;
    for (; k < C.nlevels () - 1; k++)
    {
        EXPECT_EQ (C.level_size (k), 64 << k);
        EXPECT_EQ (C.level_parts (k), 2);
    }
    EXPECT_EQ (C.level_size (k), 8192);
    EXPECT_EQ (C.level_parts (k), (240000 - 16384 + 8191) / 8192);
    EXPECT_EQ (C.cleanup (), 0);
    // A sparse matrix weighs transforms more: the size stops doubling sooner.
    ASSERT_EQ (C.configure (2, 2, 240000, 64, 64, 8192, 0.0f), 0);
    EXPECT_EQ (C.nlevels (), 7);
    EXPECT_EQ (C.level_size (6), 4096);
    EXPECT_EQ (C.cleanup (), 0);
    // Short responses stay in the period's own partitions.
    ASSERT_EQ (C.configure (1, 1, 200, 64, 64, 8192, 1.0f), 0);
    EXPECT_EQ (C.nlevels (), 1);
    EXPECT_EQ (C.level_parts (0), 4);
}


TEST (Convproc, LinkUpdateClearStrides)
{
    const int L = 3000, B = 128;
    Convproc C;
    ASSERT_EQ (C.configure (2, 2, L, B, B, 8192, 1.0f), 0);
    Vec a = noise (2 * L, 11);
    Vec b = noise (L, 12);
    // Every second sample, and a reversed view.
    ASSERT_EQ (C.impdata_create (0, 0, 2, a.data (), 0, L), 0);
    ASSERT_EQ (C.impdata_create (1, 1, -1, b.data () + L - 1, 0, L), 0);
    ASSERT_EQ (C.impdata_link (0, 0, 1, 0), 0);
    // Overwrite frames 1000 .. 1499 of the shared response, through the link.
    Vec u = noise (500, 13);
    ASSERT_EQ (C.impdata_update (1, 0, 1, u.data (), 1000, 1500), 0);
    ASSERT_EQ (C.impdata_update (0, 1, 1, u.data (), 0, 10), Convproc::ERR_NODATA);
    Vec h0 (L), h1 (L);
    for (int n = 0; n < L; n++)
    {
        h0 [n] = (n >= 1000 && n < 1500) ? u [n - 1000] : a [2 * n];
        h1 [n] = b [L - 1 - n];
    }
    int N = 40 * B;
    std::vector<Vec> x = { noise (N, 14), noise (N, 15) };
    auto y = run (C, x, 2);
    std::vector<double> r0 (N), r1 (N);
    direct (r0, h0, x [0]);
    direct (r0, h0, x [1]);
    direct (r1, h1, x [1]);
    EXPECT_LT (rel_db (y [0], r0), -120);
    EXPECT_LT (rel_db (y [1], r1), -120);
    // Clearing the shared response silences both pairs.
    ASSERT_EQ (C.impdata_clear (0, 0), 0);
    y = run (C, x, 2);
    for (float v : y [0]) ASSERT_EQ (v, 0.0f);
    EXPECT_LT (rel_db (y [1], r1), -120);
}


TEST (Convproc, StatesAndErrors)
{
    Convproc C;
    float d [4] = { 1, 2, 3, 4 };
    EXPECT_EQ (C.state.load (), Convproc::ST_IDLE);
    EXPECT_EQ (C.impdata_create (0, 0, 1, d, 0, 4), Convproc::ERR_STATE);
    EXPECT_EQ (C.start_process (0, SCHED_OTHER), Convproc::ERR_STATE);
    EXPECT_EQ (C.process (false), 0);
    EXPECT_EQ (C.configure (0, 1, 100, 64, 64, 8192, 0.5f), Convproc::ERR_PARAM);
    EXPECT_EQ (C.configure (65, 1, 100, 64, 64, 8192, 0.5f), Convproc::ERR_PARAM);
    EXPECT_EQ (C.configure (1, 1, 0, 64, 64, 8192, 0.5f), Convproc::ERR_PARAM);
    EXPECT_EQ (C.configure (1, 1, 100, 64, 32, 8192, 0.5f), Convproc::ERR_PARAM);
    EXPECT_EQ (C.configure (1, 1, 100, 64, 64, 32, 0.5f), Convproc::ERR_PARAM);
    EXPECT_EQ (C.configure (1, 1, 100, 64, 64, 8192, NAN), Convproc::ERR_PARAM);
    EXPECT_EQ (C.configure (1, 1, 100, 64, 64, 8192, 1.5f), Convproc::ERR_PARAM);
    EXPECT_EQ (C.state.load (), Convproc::ST_IDLE);
    ASSERT_EQ (C.configure (64, 64, 100000, 256, 256, 8192, 0.1f), 0);
    EXPECT_EQ (C.configure (1, 1, 100, 64, 64, 8192, 0.5f), Convproc::ERR_STATE);
    EXPECT_EQ (C.impdata_create (64, 0, 1, d, 0, 4), Convproc::ERR_PARAM);
    EXPECT_EQ (C.impdata_create (0, 64, 1, d, 0, 4), Convproc::ERR_PARAM);
    EXPECT_EQ (C.impdata_create (0, 0, 1, d, -1, 3), Convproc::ERR_PARAM);
    EXPECT_EQ (C.impdata_create (0, 0, 1, d, 4, 3), Convproc::ERR_PARAM);
    EXPECT_EQ (C.impdata_link (0, 0, 0, 64), Convproc::ERR_PARAM);
    EXPECT_EQ (C.impdata_create (63, 63, 1, d, 99998, 100002), 0);   // cut at maxsize
    EXPECT_EQ (C.impdata_create (0, 0, 1, d, 50000, 50004), 0);
    EXPECT_EQ (C.stop_process (), Convproc::ERR_STATE);
    ASSERT_EQ (C.start_process (0, SCHED_OTHER), 0);
    EXPECT_EQ (C.state.load (), Convproc::ST_PROC);
    EXPECT_EQ (C.impdata_create (0, 0, 1, d, 0, 4), Convproc::ERR_STATE);
    EXPECT_EQ (C.impdata_clear (0, 0), Convproc::ERR_STATE);
    EXPECT_EQ (C.cleanup (), Convproc::ERR_STATE);
    EXPECT_FALSE (C.check_stop ());
    EXPECT_EQ (C.start_process (0, SCHED_OTHER), Convproc::ERR_STATE);
    for (int k = 0; k < 100; k++) C.process (true);
    EXPECT_EQ (C.stop_process (), 0);
    EXPECT_TRUE (wait_stop (C));
    EXPECT_EQ (C.cleanup (), 0);
    EXPECT_EQ (C.state.load (), Convproc::ST_IDLE);
    EXPECT_EQ (C.cleanup (), 0);
}


// Real-time mode, paced like a period clock: workers meet their deadlines on
// an idle machine and the output is exact; on a busy one the dropped blocks
// are counted, and only then may the output differ.
TEST (Convproc, RealTimeModeOnTime)
{
    const int B = 256, len = 20000;
    Convproc C;
    ASSERT_EQ (C.configure (1, 1, len, B, B, 8192, 1.0f), 0);
    Vec h = noise (len, 21);
    ASSERT_EQ (C.impdata_create (0, 0, 1, h.data (), 0, len), 0);
    int N = 200 * B;
    Vec x = noise (N, 22), y (N);
    ASSERT_EQ (C.start_process (0, SCHED_OTHER), 0);
    timespec t;
    clock_gettime (CLOCK_MONOTONIC, &t);
    for (int p = 0; p < N; p += B)
    {
        memcpy (C.inpbuff [0] + C.inpoffs, &x [p], B * sizeof (float));
        C.process (false);
        memcpy (&y [p], C.outbuff [0] + C.outoffs, B * sizeof (float));
        t.tv_nsec += 1000000000L * B / 48000;
        if (t.tv_nsec >= 1000000000L)
        {
            t.tv_sec++;
            t.tv_nsec -= 1000000000L;
        }
        clock_nanosleep (CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
    }
    unsigned late = C.nlate.load ();
    EXPECT_EQ (C.stop_process (), 0);
    EXPECT_TRUE (wait_stop (C));
    if (late) GTEST_SKIP () << late << " blocks late on a busy machine";
    std::vector<double> r (N);
    direct (r, h, x);
    EXPECT_LT (rel_db (y, r), -120);
}


TEST (Convproc, DestroyWhileProcessing)
{
    for (int k = 0; k < 20; k++)
    {
        Convproc C;
        ASSERT_EQ (C.configure (4, 4, 50000, 64, 64, 8192, 1.0f), 0);
        Vec h = noise (50000, k);
        for (int i = 0; i < 4; i++) ASSERT_EQ (C.impdata_create (i, i, 1, h.data (), 0, 50000), 0);
        ASSERT_EQ (C.start_process (0, SCHED_OTHER), 0);
        for (int n = 0; n < 50 * k; n++) C.process (n & 1);
    }
}

}
