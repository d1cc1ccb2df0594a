// Noise detectors: calibration on a steady sine, ballistics against their
// analytic step responses and the ITU-R 468 tone-burst figures.

#include <gtest/gtest.h>
#include <cmath>
#include <functional>
#include <vector>
#include "meters/detectors.h"

namespace {

// A sine of the given amplitude and frequency, starting at phase 0.
std::vector<float> sine (int fsamp, double f, double amp, int len)
{
    std::vector<float> x (len);
    for (int i = 0; i < len; i++) x [i] = (float)(amp * sin (2 * M_PI * f * i / fsamp));
    return x;
}

// Feeds x to a detector in blocks and returns the reading after each block.
template <class D> std::vector<float> readings (D &det, const std::vector<float> &x, int block)
{
    std::vector<float> r;
    for (size_t k = 0; k < x.size (); k += block)
    {
        int n = (int) std::min ((size_t) block, x.size () - k);
        det.process (n, x.data () + k);
        r.push_back (det.reading ());
    }
    return r;
}

}


TEST (Detectors, SineOfAmplitudeOneReadsOne)
{
    struct Case { const char *name; std::function<float (const std::vector<float>&)> run; double expect, tol; };
    const int fs = 48000;
    auto x = sine (fs, 1000, 1.0, 20 * fs);
    const Case cases [] =
    {
        { "rms fast", [&] (const std::vector<float> &x) { RMSdetect D; D.init (fs, false); return readings (D, x, 256).back (); }, 1.00, 0.002 },
        { "rms slow", [&] (const std::vector<float> &x) { RMSdetect D; D.init (fs, true);  return readings (D, x, 256).back (); }, 1.00, 0.002 },
        { "vu",       [&] (const std::vector<float> &x) { VUMdetect D; D.init (fs, false); return readings (D, x, 256).back (); }, 0.999, 0.002 },
        { "vu slow",  [&] (const std::vector<float> &x) { VUMdetect D; D.init (fs, true);  return readings (D, x, 256).back (); }, 0.999, 0.002 },
        { "468",      [&] (const std::vector<float> &x) { Itu468detect D; D.init (fs);     return readings (D, x, 256).back (); }, 1.000, 0.003 },
    };
    for (const Case &c : cases)
    {
        float r = c.run (x);
        EXPECT_NEAR (r, c.expect, c.tol) << c.name;
        printf ("%-8s reads %.4f\n", c.name, r);
    }
}


TEST (Detectors, RmsTimeConstants)
{
    // A constant input of 1 (mean square 1): m = 1 - exp (-t / tau) with tau
    // 125 ms, or 1 s when slow; the reading is sqrt (2 m).
    for (int fs : { 44100, 96000 })
    {
        for (bool slow : { false, true })
        {
            double tau = slow ? 1.0 : 0.125;
            RMSdetect D;
            D.init (fs, slow);
            std::vector<float> x ((int)(3 * tau * fs), 1.0f);
            auto r = readings (D, x, 1000);
            for (size_t k = 0; k < r.size (); k++)
            {
                double t = std::min ((k + 1) * 1000.0, (double) x.size ()) / fs;
                EXPECT_NEAR (r [k], sqrt (2 * (1 - exp (-t / tau))), 2e-3) << fs << " " << slow << " " << t;
            }
        }
    }
}


TEST (Detectors, VuBallistics)
{
    // A steady 1 kHz sine switched on: overshoot about 1.3 %, 99 % after about 0.3 s.
    for (bool slow : { false, true })
    {
        const int fs = 48000;
        const double scale = slow ? 10 : 1;
        VUMdetect D;
        D.init (fs, slow);
        auto x = sine (fs, 1000, 1.0, (int)(3 * scale * fs));
        auto r = readings (D, x, 48);   // one reading per sine cycle
        float final = r.back (), top = 0;
        int t99 = -1;
        for (size_t k = 0; k < r.size (); k++)
        {
            top = std::max (top, r [k]);
            if (t99 < 0 && r [k] >= 0.99f * final) t99 = (int) k;
        }
        double overshoot = top / final - 1;
        double t = (t99 + 1) * 48.0 / fs / scale;
        EXPECT_NEAR (overshoot, 0.013, 0.003) << slow;
        EXPECT_NEAR (t, 0.3, 0.03) << slow;
        printf ("vu%s: overshoot %.2f %%, 99 %% after %.3f s\n", slow ? " slow" : "", 100 * overshoot, t * scale);
    }
}


TEST (Detectors, Itu468ToneBursts)
{
    // ITU-R 468: single 5 kHz bursts of 200 ms and 5 ms read -1.9 and -7.9 dB
    // relative to the steady tone.
    const int fs = 48000;
    Itu468detect S;
    S.init (fs);
    float steady = readings (S, sine (fs, 5000, 1.0, 10 * fs), 480).back ();
    struct Case { double ms, db; } cases [] = { { 200, -1.9 }, { 5, -7.9 } };
    for (auto c : cases)
    {
        Itu468detect D;
        D.init (fs);
        auto x = sine (fs, 5000, 1.0, (int)(c.ms * fs / 1000));
        x.resize (2 * fs, 0.0f);
        auto r = readings (D, x, 1);
        float top = *std::max_element (r.begin (), r.end ());
        double db = 20 * log10 (top / steady);
        EXPECT_NEAR (db, c.db, 0.3) << c.ms << " ms";
        printf ("468 burst %3g ms: %.2f dB\n", c.ms, db);
    }
}


TEST (Detectors, EmptyBlockChangesNothing)
{
    const int fs = 44100;
    auto x = sine (fs, 440, 0.7, fs);
    RMSdetect R;
    VUMdetect V;
    Itu468detect I;
    R.init (fs, false);
    V.init (fs, false);
    I.init (fs);
    R.process (fs, x.data ());
    V.process (fs, x.data ());
    I.process (fs, x.data ());
    float r = R.reading (), v = V.reading (), i = I.reading ();
    R.process (0, x.data ());
    V.process (0, x.data ());
    I.process (0, nullptr);
    EXPECT_EQ (R.reading (), r);
    EXPECT_EQ (V.reading (), v);
    EXPECT_EQ (I.reading (), i);
}


TEST (Detectors, ZeroInputDecays)
{
    const int fs = 48000;
    auto x = sine (fs, 1000, 1.0, fs);
    std::vector<float> z (10 * fs, 0.0f);
    RMSdetect R;
    VUMdetect V;
    Itu468detect I;
    R.init (fs, false);
    V.init (fs, false);
    I.init (fs);
    R.process (fs, x.data ());
    V.process (fs, x.data ());
    I.process (fs, x.data ());
    auto rr = readings (R, z, 21);
    auto rv = readings (V, z, 21);
    auto ri = readings (I, z, 21);
    for (size_t k = 1; k < rr.size (); k++)
    {
        // Down to the floor that the anti-denormal constant keeps.
        if (rr [k - 1] > 1e-10f)
        {
            EXPECT_LE (rr [k], rr [k - 1]);
        }
        EXPECT_LE (ri [k], ri [k - 1]);
        EXPECT_GE (rv [k], 0.0f);
    }
    EXPECT_LT (rr.back (), 1e-6f);
    EXPECT_LT (rv.back (), 1e-3f);
    EXPECT_LT (ri.back (), 0.01f);   // the slow 0.65 / s second-stage decay
    // The VU reading swings below its target on the way down and is held at 0.
    EXPECT_EQ (V.q >= 0.0f, true);
    EXPECT_EQ (*std::min_element (rv.begin (), rv.end ()), 0.0f);
}


TEST (Detectors, BlockSizeDoesNotMatter)
{
    const int fs = 88200;
    auto x = sine (fs, 3000, 0.5, 30000);
    for (int block : { 1, 21, 256, 1000 })
    {
        VUMdetect A, B;
        Itu468detect C, D;
        A.init (fs, false);
        B.init (fs, false);
        C.init (fs);
        D.init (fs);
        A.process ((int) x.size (), x.data ());
        C.process ((int) x.size (), x.data ());
        readings (B, x, block);
        readings (D, x, block);
        EXPECT_NEAR (A.reading (), B.reading (), 1e-6f) << block;
        EXPECT_EQ (C.reading (), D.reading ()) << block;
    }
}
