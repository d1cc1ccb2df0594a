// Noise weighting filters against the standards' own curves: IEC 61672-1's
// analytic A and C weightings, the table of ITU-R BS.468, and the definition
// of the equivalent noise bandwidth; at each of the four supported rates.

#include <gtest/gtest.h>
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>
#include "meters/weighting.h"

namespace {

const int RATES [4] = { 44100, 48000, 88200, 96000 };
const int NIMP = 65536;   // impulse response length: every tail is below 1e-12 by then

// IEC 61672-1, the analytic expressions, in dB re 1 kHz.
const double F1 = 20.598997, F2 = 107.65265, F3 = 737.86223, F4 = 12194.217;

double iec_c_raw (double f)
{
    double f2 = f * f;
    return 20 * log10 (F4 * F4 * f2 / ((f2 + F1 * F1) * (f2 + F4 * F4)));
}

double iec_a_raw (double f)
{
    double f2 = f * f;
    return 20 * log10 (F4 * F4 * f2 * f2 / ((f2 + F1 * F1) * sqrt (f2 + F2 * F2) * sqrt (f2 + F3 * F3) * (f2 + F4 * F4)));
}

double iec_c (double f) { return iec_c_raw (f) - iec_c_raw (1000); }
double iec_a (double f) { return iec_a_raw (f) - iec_a_raw (1000); }

// ITU-R BS.468-4, its table.
struct Point { double f, db; };
const Point ITU468_TABLE [] =
{
    { 31.5, -29.9 }, { 63, -23.9 }, { 100, -19.8 }, { 200, -13.8 }, { 400, -7.8 },
    { 800, -1.9 }, { 1000, 0.0 }, { 2000, 5.6 }, { 3150, 9.0 }, { 4000, 10.5 },
    { 5000, 11.7 }, { 6300, 12.2 }, { 7100, 12.0 }, { 8000, 11.4 }, { 9000, 10.1 },
    { 10000, 8.1 }, { 12500, 0.0 }, { 14000, -5.3 }, { 16000, -11.7 }, { 20000, -22.2 }
};

// Third-octave centre frequencies from 31.5 Hz to 16 kHz.
const double THIRDS [] =
{
    31.5, 40, 50, 63, 80, 100, 125, 160, 200, 250, 315, 400, 500, 630, 800,
    1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000
};

// Runs a unit impulse through proc (called as proc (n, inp, out)) in
// blocks of the given size and returns the response.
template <class Proc> std::vector<float> impulse (Proc proc, int len, int block)
{
    std::vector<float> x (len, 0.0f), y (len, 0.0f);
    x [0] = 1.0f;
    for (int k = 0; k < len; k += block) proc (std::min (block, len - k), x.data () + k, y.data () + k);
    return y;
}

// Magnitude in dB of the response h at frequency f, by its transform in double.
double gain_db (const std::vector<float> &h, double f, int fsamp)
{
    std::complex<double> s (0), z (1), w = std::polar (1.0, -2 * M_PI * f / fsamp);
    for (size_t n = 0; n < h.size (); n++)
    {
        s += (double) h [n] * z;
        if ((n & 1023) == 1023) z = std::polar (1.0, -2 * M_PI * f / fsamp * (n + 1));
        else z *= w;
    }
    return 20 * log10 (std::abs (s));
}

std::vector<float> iec_impulse (int fsamp, bool a, int block = 1000)
{
    Iec_ACfilter F;
    EXPECT_EQ (F.init (fsamp), 0);
    return impulse ([&] (int n, const float *x, float *y) { F.process (n, x, a ? y : nullptr, a ? nullptr : y); }, NIMP, block);
}

std::vector<float> itu_impulse (int fsamp, bool ref2k, int block = 1000)
{
    Itu468filter F;
    EXPECT_EQ (F.init (fsamp, ref2k), 0);
    return impulse ([&] (int n, const float *x, float *y) { F.process (n, x, y); }, NIMP, block);
}

std::vector<float> enb_impulse (int fsamp, int block = 1000)
{
    Enb20kfilter F;
    EXPECT_EQ (F.init (fsamp), 0);
    return impulse ([&] (int n, const float *x, float *y) { F.process (n, x, y); }, NIMP, block);
}

}


TEST (Weighting, AandCFollowIec61672)
{
    for (int fs : RATES)
    {
        auto hA = iec_impulse (fs, true);
        auto hC = iec_impulse (fs, false);
        double worstA = 0, worstC = 0;
        for (double f : THIRDS)
        {
            double dA = gain_db (hA, f, fs) - iec_a (f);
            double dC = gain_db (hC, f, fs) - iec_c (f);
            EXPECT_LT (fabs (dA), 0.35) << "A at " << f << " Hz, fs " << fs;
            EXPECT_LT (fabs (dC), 0.35) << "C at " << f << " Hz, fs " << fs;
            worstA = std::max (worstA, fabs (dA));
            worstC = std::max (worstC, fabs (dC));
        }
        // A 1 kHz sine passes unchanged.
        EXPECT_LT (fabs (gain_db (hA, 1000, fs)), 0.1) << fs;
        EXPECT_LT (fabs (gain_db (hC, 1000, fs)), 0.1) << fs;
        printf ("fs %5d: largest deviation from IEC 61672 31.5 Hz..16 kHz: A %.3f dB, C %.3f dB\n", fs, worstA, worstC);
    }
}


TEST (Weighting, Itu468FollowsItuTable)
{
    double worst_all = 0;
    for (int fs : RATES)
    {
        auto h = itu_impulse (fs, false);
        auto h2 = itu_impulse (fs, true);
        double worst = 0, worst_f = 0;
        for (const Point &p : ITU468_TABLE)
        {
            if (p.f >= fs / 2) continue;
            double g = gain_db (h, p.f, fs);
            double d = g - p.db;
            if (p.f <= 12500)
            {
                EXPECT_LT (fabs (d), 0.1) << p.f << " Hz, fs " << fs;
            }
            if (p.f <= 20000 && fabs (d) > worst)
            {
                worst = fabs (d);
                worst_f = p.f;
            }
            // Referred to 2 kHz: the same curve, 5.6 dB lower.
            double d2 = gain_db (h2, p.f, fs) - (p.db - 5.6);
            if (p.f <= 12500)
            {
                EXPECT_LT (fabs (d2), 0.1) << "2k-referred " << p.f << " Hz, fs " << fs;
            }
            EXPECT_NEAR (gain_db (h2, p.f, fs) - g, 20 * log10 (0.5239), 1e-3) << p.f;
        }
        EXPECT_LT (fabs (gain_db (h, 1000, fs)), 0.1);
        EXPECT_LT (fabs (gain_db (h2, 2000, fs)), 0.1);
        worst_all = std::max (worst_all, worst);
        printf ("fs %5d: largest deviation from ITU-R BS.468 up to 20 kHz: %.3f dB at %g Hz\n", fs, worst, worst_f);
    }
    RecordProperty ("itu468_worst_db_x1000", (int) lround (worst_all * 1000));
    EXPECT_LT (worst_all, 0.1);
}


TEST (Weighting, Enb20kBandwidthAndDcGain)
{
    for (int fs : RATES)
    {
        auto h = enb_impulse (fs);
        double dc = 0, e = 0;
        for (float x : h)
        {
            dc += x;
            e += (double) x * x;
        }
        // Parseval: the integral of |H|^2 from 0 to fs/2 is fs/2 times the energy.
        double enb = 0.5 * fs * e / (dc * dc);
        EXPECT_NEAR (dc, 1.0, 1e-4) << fs;
        EXPECT_NEAR (enb, 20000.0, 200.0) << fs;
        printf ("fs %5d: equivalent noise bandwidth %.1f Hz, DC gain %.6f\n", fs, enb, dc);

        // A constant input settles to the same constant.
        Enb20kfilter F;
        F.init (fs);
        std::vector<float> x (4096, 0.25f), y (4096);
        F.process (4096, x.data (), y.data ());
        EXPECT_NEAR (y.back (), 0.25f, 1e-6f) << fs;
    }
}


TEST (Weighting, UnsupportedRateGivesSilence)
{
    for (int fs : { 32000, 22050, 0, 192000 })
    {
        Enb20kfilter E;
        Iec_ACfilter I;
        Itu468filter T;
        EXPECT_EQ (E.init (fs), 1);
        EXPECT_EQ (I.init (fs), 1);
        EXPECT_EQ (T.init (fs, false), 1);
        EXPECT_TRUE (E.bad_rate && I.bad_rate && T.bad_rate);
        std::vector<float> x (100, 1.0f), a (100, 7.0f), c (100, 7.0f), y (100, 7.0f);
        E.process (100, x.data (), y.data ());
        for (float v : y) EXPECT_EQ (v, 0.0f);
        y.assign (100, 7.0f);
        T.process (100, x.data (), y.data ());
        for (float v : y) EXPECT_EQ (v, 0.0f);
        I.process (100, x.data (), a.data (), c.data ());
        for (int i = 0; i < 100; i++) EXPECT_TRUE (a [i] == 0.0f && c [i] == 0.0f);
        EXPECT_TRUE (E.w1 == 0 && I.h1 == 0 && I.l2 == 0 && T.s0 == 0 && T.s31 == 0);
    }
    // A supported rate after an unsupported one clears the flag.
    Enb20kfilter E;
    EXPECT_EQ (E.init (32000), 1);
    EXPECT_EQ (E.init (48000), 0);
    EXPECT_FALSE (E.bad_rate);
}


TEST (Weighting, BlockSizeAndAliasingDoNotMatter)
{
    const int len = 5000;
    for (int fs : RATES)
    {
        auto a0 = iec_impulse (fs, true, len);
        auto t0 = itu_impulse (fs, false, len);
        auto e0 = enb_impulse (fs, len);
        for (int block : { 1, 21, 256, 1000 })
        {
            EXPECT_EQ (iec_impulse (fs, true, block), a0) << block;
            EXPECT_EQ (itu_impulse (fs, false, block), t0) << block;
            EXPECT_EQ (enb_impulse (fs, block), e0) << block;
        }
        // In place.
        Itu468filter T;
        T.init (fs, false);
        std::vector<float> x (NIMP, 0.0f);
        x [0] = 1.0f;
        T.process (NIMP, x.data (), x.data ());
        EXPECT_EQ (x, t0);
        Iec_ACfilter I;
        I.init (fs);
        x.assign (NIMP, 0.0f);
        x [0] = 1.0f;
        I.process (NIMP, x.data (), x.data (), nullptr);
        EXPECT_EQ (x, a0);
    }
}


TEST (Weighting, COnlyStillAdvancesTheAStages)
{
    Iec_ACfilter P, Q;
    P.init (48000);
    Q.init (48000);
    std::vector<float> x (3000), a1 (3000), c1 (3000), c2 (3000);
    for (int i = 0; i < 3000; i++) x [i] = sinf (0.05f * i) + 0.3f * sinf (0.7f * i);
    P.process (3000, x.data (), a1.data (), c1.data ());
    Q.process (3000, x.data (), nullptr, c2.data ());
    EXPECT_EQ (c1, c2);
    EXPECT_EQ (P.h3, Q.h3);
    EXPECT_EQ (P.h4, Q.h4);
    EXPECT_NE (Q.h3, 0.0f);
    // Neither output: the chain still runs.
    Q.reset ();
    Q.process (3000, x.data (), nullptr, nullptr);
    EXPECT_EQ (P.h4, Q.h4);
}


TEST (Weighting, ResetKeepsCoefficients)
{
    Itu468filter T;
    T.init (96000, true);
    auto h0 = impulse ([&] (int n, const float *x, float *y) { T.process (n, x, y); }, 2000, 2000);
    T.reset ();
    auto h1 = impulse ([&] (int n, const float *x, float *y) { T.process (n, x, y); }, 2000, 2000);
    EXPECT_EQ (h0, h1);
    EXPECT_EQ (T.g, 0.5239f);
}
