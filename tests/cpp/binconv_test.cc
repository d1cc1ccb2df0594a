// Binaural convolution against exact convolution in double precision,
// the impulse cases, partition counts, and filter replacement while another
// thread processes.

#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>
#include "ambisonics/binconv.h"

namespace {

typedef std::vector<float> Sig;

// Runs nper periods of the given inputs (one per channel, nper * fsize
// samples each) through B; returns left and right.
std::vector<Sig> run (Binconv &B, const std::vector<Sig> &x, int nper)
{
    int n = B.fsize;
    std::vector<Sig> y (2, Sig (nper * n));
    for (int k = 0; k < nper; k++)
    {
        float *inp [Binconv::MAXCH], *out [2] = { y [0].data () + k * n, y [1].data () + k * n };
        for (int i = 0; i < B.nch; i++) inp [i] = const_cast<float *> (x [i].data ()) + k * n;
        B.process (inp, out);
    }
    return y;
}

std::vector<Sig> noise (int nch, int n, unsigned seed)
{
    std::mt19937 gen (seed);
    std::normal_distribution<float> d;
    std::vector<Sig> x (nch, Sig (n));
    for (auto &c : x) for (auto &v : c) v = d (gen);
    return x;
}

// Left = sum over channels of x_i * h_i with the channels of negative order
// negated on the right, exact in double for the first n samples.
std::vector<std::vector<double>> reference (const std::vector<Sig> &x, const std::vector<Sig> &h, int nch, int n)
{
    std::vector<std::vector<double>> g (2, std::vector<double> (n, 0.0));
    for (int l = 0, i = 0; i < nch; l++)
    {
        for (int m = -l; m <= l; m++, i++)
        {
            auto &acc = g [m < 0 ? 1 : 0];
            for (size_t j = 0; j < h [i].size (); j++)
                for (int t = (int) j; t < n; t++) acc [t] += (double) h [i][j] * x [i][t - j];
        }
    }
    std::vector<std::vector<double>> y (2, std::vector<double> (n));
    for (int t = 0; t < n; t++)
    {
        y [0][t] = g [0][t] + g [1][t];
        y [1][t] = g [0][t] - g [1][t];
    }
    return y;
}

double rel_error_db (const Sig &y, const std::vector<double> &r)
{
    double e = 0, s = 0;
    for (size_t t = 0; t < r.size (); t++)
    {
        e += (y [t] - r [t]) * (y [t] - r [t]);
        s += r [t] * r [t];
    }
    return 10 * std::log10 (e / s);
}

}


TEST (Binconv, SizesFollowMaxlenAndPeriod)
{
    Binconv B (3, 1000, 256);
    EXPECT_EQ (B.nch, 16);
    EXPECT_EQ (B.nparts, 4);
    EXPECT_EQ (B.fftsize, 512);
    EXPECT_EQ (B.nbin, 257);
    Binconv C (12, 5000, 64);
    EXPECT_EQ (C.degree, 8);
    EXPECT_EQ (C.nch, 81);
    EXPECT_EQ (C.maxlen, 2048);
    EXPECT_EQ (C.nparts, 32);
    Binconv D (1, 0, 32);
    EXPECT_EQ (D.nparts, 1);
    EXPECT_EQ (D.setimp (4, 1.0f, nullptr, 0, 1), 1);
    EXPECT_EQ (D.setimp (-1, 1.0f, nullptr, 0, 1), 1);
    EXPECT_EQ (D.setimp (3, 1.0f, nullptr, 0, 1), 0);
}


// maxlen 1000 with periods of 256 takes 1024 filter samples: a 1 at sample
// 1023 is heard, one at 1024 is not.
TEST (Binconv, MaxlenRoundsUpToWholePartitions)
{
    const int n = 256, nper = 10;
    for (int pos : { 1023, 1024 })
    {
        Binconv B (1, 1000, n);
        Sig h (1100, 0.0f);
        h [pos] = 1.0f;
        ASSERT_EQ (B.setimp (0, 1.0f, h.data (), (int) h.size (), 1), 0);
        std::vector<Sig> x (4, Sig (n * nper, 0.0f));
        x [0][5] = 1.0f;
        auto y = run (B, x, nper);
        for (int t = 0; t < n * nper; t++)
        {
            float want = (pos < 1024 && t == pos + 5) ? 1.0f : 0.0f;
            ASSERT_NEAR (y [0][t], want, 1e-6f) << "filter pos " << pos << " sample " << t;
            ASSERT_EQ (y [0][t], y [1][t]);
        }
    }
}


// Channel 0 unit impulse copies to both ears; channel 1 (m = -1) goes to the
// left and negated to the right; a 1 at fsize + 3 delays across periods.
TEST (Binconv, ImpulseFilters)
{
    const int n = 64, nper = 8;
    auto x = noise (4, n * nper, 1);
    struct Case { int chan; int pos; float right; };
    for (Case c : { Case { 0, 0, 1.0f }, Case { 1, 0, -1.0f }, Case { 3, n + 3, 1.0f }, Case { 1, n + 3, -1.0f } })
    {
        Binconv B (1, 256, n);
        Sig h (c.pos + 1, 0.0f);
        h [c.pos] = 1.0f;
        B.setimp (c.chan, 1.0f, h.data (), (int) h.size (), 1);
        auto y = run (B, x, nper);
        for (int t = 0; t < n * nper; t++)
        {
            float want = t >= c.pos ? x [c.chan][t - c.pos] : 0.0f;
            ASSERT_NEAR (y [0][t], want, 1e-5f) << "channel " << c.chan << " sample " << t;
            ASSERT_NEAR (y [1][t], c.right * want, 1e-5f) << "channel " << c.chan << " sample " << t;
        }
    }
}


// Random filters on every channel, of lengths that do and do not fill whole
// partitions, strided and scaled, against the exact convolution.
TEST (Binconv, EqualsExactConvolution)
{
    struct Case { int degree, fsize, maxlen, len; };
    for (Case c : { Case { 1, 256, 1000, 1000 }, Case { 1, 256, 1024, 1024 }, Case { 2, 64, 300, 257 },
                    Case { 3, 128, 512, 1 }, Case { 3, 128, 512, 384 }, Case { 8, 32, 100, 100 } })
    {
        Binconv B (c.degree, c.maxlen, c.fsize);
        int nper = (c.len + 3 * c.fsize) / c.fsize + 2;
        auto x = noise (B.nch, nper * c.fsize, 2);
        auto hs = noise (B.nch, 2 * c.len, 3);
        std::vector<Sig> h (B.nch, Sig (c.len));
        for (int i = 0; i < B.nch; i++)
        {
            for (int j = 0; j < c.len; j++) h [i][j] = 0.5f * hs [i][2 * j];
            ASSERT_EQ (B.setimp (i, 0.5f, hs [i].data (), c.len, 2), 0);
        }
        auto y = run (B, x, nper);
        auto r = reference (x, h, B.nch, nper * c.fsize);
        EXPECT_LT (rel_error_db (y [0], r [0]), -120) << "degree " << c.degree << " len " << c.len;
        EXPECT_LT (rel_error_db (y [1], r [1]), -120) << "degree " << c.degree << " len " << c.len;
    }
}


// Clearing a filter (null or length 0) silences its channel from the next
// period; reset clears the history and overlaps but keeps the filters.
TEST (Binconv, ClearAndReset)
{
    const int n = 128;
    Binconv B (1, 512, n);
    auto x = noise (4, 4 * n, 4);
    Sig h (300, 0.25f);
    for (int i = 0; i < 4; i++) B.setimp (i, 1.0f, h.data (), 300, 1);
    run (B, x, 4);
    B.setimp (0, 1.0f, nullptr, 300, 1);
    B.setimp (1, 1.0f, h.data (), 0, 1);
    B.setimp (2, 1.0f, nullptr, 0, 1);
    B.setimp (3, 1.0f, nullptr, 0, 1);
    // The next period carries only the overlap of the last one; from then on
    // all channels are silent.
    run (B, x, 1);
    auto y = run (B, x, 2);
    for (int t = 0; t < 2 * n; t++) ASSERT_EQ (y [0][t], 0.0f);
    std::vector<Sig> silent (4, Sig (4 * n, 0.0f));
    B.setimp (0, 1.0f, h.data (), 300, 1);
    B.reset ();
    auto s = run (B, silent, 4);
    for (int t = 0; t < 4 * n; t++) ASSERT_EQ (s [0][t], 0.0f);
    auto a = run (B, x, 4);
    Binconv C (1, 512, n);
    C.setimp (0, 1.0f, h.data (), 300, 1);
    auto b = run (C, x, 4);
    for (int t = 0; t < 4 * n; t++) ASSERT_NEAR (a [0][t], b [0][t], 1e-5f);
}


// One thread loads the same filters over and over while another processes:
// every table the process thread takes is whole, so the output never
// differs from a convolver whose filters were loaded once.
TEST (Binconv, ReloadingWhileProcessingNeverDisturbsTheOutput)
{
    const int n = 64, nper = 4000;
    Binconv A (2, 512, n), B (2, 512, n);
    auto hs = noise (9, 512, 5);
    for (int i = 0; i < 9; i++)
    {
        A.setimp (i, 1.0f, hs [i].data (), 512, 1);
        B.setimp (i, 1.0f, hs [i].data (), 512, 1);
    }
    auto x = noise (9, n * 16, 6);
    std::atomic<bool> stop (false);
    std::atomic<int> loads (0);
    std::thread loader ([&]
    {
        for (int k = 0; !stop.load (); k++)
        {
            A.setimp (k % 9, 1.0f, hs [k % 9].data (), 512, 1);
            loads.fetch_add (1);
        }
    });
    Sig ya (n), yb (n), za (n), zb (n);
    for (int k = 0; k < nper; k++)
    {
        float *inp [9], *oa [2] = { ya.data (), za.data () }, *ob [2] = { yb.data (), zb.data () };
        for (int i = 0; i < 9; i++) inp [i] = x [i].data () + (k % 16) * n;
        A.process (inp, oa);
        B.process (inp, ob);
        ASSERT_EQ (ya, yb) << "period " << k;
        ASSERT_EQ (za, zb) << "period " << k;
    }
    stop.store (true);
    loader.join ();
    EXPECT_GT (loads.load (), 100);
}
