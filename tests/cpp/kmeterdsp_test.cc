// Kmeterdsp: calibration, DC rejection, peak hold and fall, read semantics.

#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include "meters/kmeterdsp.h"

namespace {

std::vector<float> sine (int fsamp, double f, double amp, int len, int start = 0)
{
    std::vector<float> x (len);
    for (int i = 0; i < len; i++) x [i] = (float)(amp * sin (2 * M_PI * f * (i + start) / fsamp));
    return x;
}

// Runs x through the meter in periods of the given size (the last one
// shorter), reading after every period when read_each is set.
struct Reading { float rms, peak; };
std::vector<Reading> run (Kmeterdsp &K, const std::vector<float> &x, int period, bool read_each = true)
{
    std::vector<Reading> r;
    for (size_t k = 0; k < x.size (); k += period)
    {
        K.process (x.data () + k, (int) std::min ((size_t) period, x.size () - k));
        if (read_each)
        {
            Reading v;
            K.read (&v.rms, &v.peak);
            r.push_back (v);
        }
    }
    return r;
}

}


TEST (Kmeterdsp, Settings)
{
    struct Case { int fs, fsize, hold; };
    const Case cases [] = { { 48000, 1024, 23 }, { 48000, 256, 94 }, { 44100, 1000, 22 }, { 96000, 21, 2286 } };
    for (auto c : cases)
    {
        Kmeterdsp K;
        K.init (c.fs, c.fsize, 0.5f, 15.0f);
        double t = (double) c.fsize / c.fs;
        EXPECT_EQ (K.nhold, c.hold) << c.fs << " " << c.fsize;
        EXPECT_NEAR (K.fall, pow (10, -0.75 * t), 1e-6) << c.fsize;
        EXPECT_FLOAT_EQ (K.wdcf, 2 * 3.14 * 5 / c.fs);
        EXPECT_FLOAT_EQ (K.wrms, 9.72 / c.fs);
    }
    // Meters of different clients keep their own settings.
    Kmeterdsp A, B;
    A.init (48000, 1024, 0.5f, 15.0f);
    B.init (44100, 256, 0.5f, 15.0f);
    EXPECT_NEAR (A.fall, 0.9638, 1e-4);
    EXPECT_EQ (A.nhold, 23);
    EXPECT_EQ (B.nhold, 86);
}


TEST (Kmeterdsp, FullScaleSineReadsOne)
{
    for (int period : { 1, 21, 256, 1000 })
    {
        for (double f : { 50.0, 1000.0, 10000.0 })
        {
            Kmeterdsp K;
            K.init (48000, period, 0.5f, 15.0f);
            auto r = run (K, sine (48000, f, 1.0, 3 * 48000), period);
            // The mean square carries a ripple at 2f that the two low-passes
            // shrink; at 50 Hz it shows in the largest value per period, and
            // the 5 Hz DC filter takes 1 - 50 / sqrt (50^2 + 5^2) off the peak.
            double tol = (f < 100) ? 0.02 : 0.002;
            double dcf = f / hypot (f, 31.400002 / (2 * M_PI));
            EXPECT_NEAR (r.back ().rms, 1.0, tol) << period << " " << f;
            EXPECT_NEAR (r.back ().peak, dcf, 0.002) << period << " " << f;
        }
    }
}


TEST (Kmeterdsp, DcStepDecaysToZero)
{
    const int fs = 48000, period = 256;
    Kmeterdsp K;
    K.init (fs, period, 0.5f, 15.0f);
    auto r = run (K, std::vector<float> (12 * fs, 1.0f), period);
    EXPECT_GT (r [0].peak, 0.9f);
    // RMS: the DC filter's 32 ms decay through the two mean-square stages.
    EXPECT_LT (r [(int)(1.0 * fs / period)].rms, 0.02f);
    // In single precision the DC estimate stops moving once its increment is
    // below half a unit in the last place: a residue near 5e-5 (-87 dB) stays.
    EXPECT_LT (r.back ().rms, 1e-4f);
    // Peak: the hold, then 15 dB/s down to that residue.
    EXPECT_LT (r.back ().peak, 1e-4f);
    for (size_t k = 1; k < r.size (); k++)
    {
        if (r [k - 1].peak > 1e-4f)
        {
            EXPECT_LE (r [k].peak, r [k - 1].peak) << k;
        }
    }
}


TEST (Kmeterdsp, PeakHoldsThenFalls15dBPerSecond)
{
    const int fs = 48000;
    for (int period : { 256, 1024 })
    {
        Kmeterdsp K;
        K.init (fs, period, 0.5f, 15.0f);
        const int hold = K.nhold;
        const double t = (double) period / fs;
        // One period of a 1 kHz burst of amplitude 0.5, then silence.
        auto x = sine (fs, 1000, 0.5, period);
        x.resize (period * (hold + 200), 0.0f);
        auto r = run (K, x, period);
        const float top = r [0].peak;
        EXPECT_NEAR (top, 0.5f, 5e-3f);
        for (int k = 1; k <= hold; k++) EXPECT_EQ (r [k].peak, top) << period << " " << k;
        for (int k = hold + 1; k < (int) r.size (); k++)
        {
            double fall_db = 20 * log10 (top / r [k].peak);
            EXPECT_NEAR (fall_db, 15.0 * (k - hold) * t, 1e-3 * (k - hold)) << period << " " << k;
        }
        EXPECT_LT (r [hold + 1].peak, top);
    }
}


TEST (Kmeterdsp, ReadRestartsTheRmsMaximum)
{
    const int fs = 48000, period = 1000;
    Kmeterdsp K;
    K.init (fs, period, 0.5f, 15.0f);
    run (K, sine (fs, 1000, 1.0, fs), period, false);
    float a, b, pa, pb;
    // Two reads within one period: the same RMS.
    K.read (&a, &pa);
    K.read (&b, &pb);
    EXPECT_EQ (a, b);
    EXPECT_EQ (pa, pb);
    EXPECT_NEAR (a, 1.0f, 0.002f);
    // After a read, the next period restarts the maximum: a quieter signal
    // reads lower at once ...
    auto quiet = sine (fs, 1000, 0.1, 4 * fs);
    K.process (quiet.data (), period);
    K.read (&a, &pa);
    EXPECT_LT (a, 1.0f);
    // ... while without reads the maximum is kept.
    Kmeterdsp L;
    L.init (fs, period, 0.5f, 15.0f);
    run (L, sine (fs, 1000, 1.0, fs), period, false);
    run (L, quiet, period, false);
    L.read (&b, &pb);
    EXPECT_NEAR (b, 1.0f, 0.002f);
}


TEST (Kmeterdsp, EmptyPeriodAndMissingInput)
{
    const int fs = 44100, period = 256;
    Kmeterdsp K, N, Z;
    K.init (fs, period, 0.5f, 15.0f);
    N.init (fs, period, 0.5f, 15.0f);
    Z.init (fs, period, 0.5f, 15.0f);
    run (K, sine (fs, 440, 0.8, fs), period, false);
    run (N, sine (fs, 440, 0.8, fs), period, false);
    run (Z, sine (fs, 440, 0.8, fs), period, false);
    float r0, p0, r1, p1;
    K.read (&r0, &p0);
    // n = 0: no samples, the largest square is 0, so the period only counts down the hold.
    K.process (nullptr, 0);
    K.read (&r1, &p1);
    EXPECT_EQ (p1, p0);
    EXPECT_NEAR (r1, r0, 0.05f);
    // A null input is silence.
    std::vector<float> zeros (period, 0.0f);
    for (int i = 0; i < 100; i++)
    {
        N.process (nullptr, period);
        Z.process (zeros.data (), period);
    }
    EXPECT_EQ (N.dc, Z.dc);
    EXPECT_EQ (N.ms2, Z.ms2);
    EXPECT_EQ (N.peak.load (), Z.peak.load ());
    EXPECT_LT (N.peak.load (), 0.8f);
}
