// Nmeterdsp: codes, hand-over of settings, the signal chain and readings.

#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>
#include "meters/nmeterdsp.h"

namespace {

std::vector<float> sine (int fsamp, double f, double amp, int len)
{
    std::vector<float> x (len);
    for (int i = 0; i < len; i++) x [i] = (float)(amp * sin (2 * M_PI * f * i / fsamp));
    return x;
}

// Runs x through the meter in periods; returns the output signal.
std::vector<float> run (Nmeterdsp &M, const std::vector<float> &x, int period)
{
    std::vector<float> y (x.size ());
    for (size_t k = 0; k < x.size (); k += period)
        M.process (x.data () + k, y.data () + k, (int) std::min ((size_t) period, x.size () - k));
    return y;
}

}


TEST (Nmeterdsp, SineReadings)
{
    // 1 kHz, amplitude 1, at 48 kHz.
    struct Case { int filter, detect; double expect, tol; };
    const Case cases [] =
    {
        { 1, 1, 1.0, 0.005 },       // 20 kHz bandwidth, RMS
        { 1, 2, 1.0, 0.005 },
        { 2, 1, 1.0, 0.012 },       // A: 0 dB at 1 kHz
        { 3, 1, 1.0, 0.012 },       // C
        { 4, 5, 1.0, 0.012 },       // 468 quasi-peak
        { 5, 1, 0.5239, 0.006 },    // 468 referred to 2 kHz
        { 5, 5, 0.5239, 0.006 },
        { 0, 3, 0.999, 0.003 },     // no weighting, VU
        { 7, 4, 0.999, 0.003 },
        { 1, 0, 0.0, 0.0 },         // no detector
        { 1, 9, 0.0, 0.0 },
    };
    auto x = sine (48000, 1000, 1.0, 48000 * 12);
    for (auto c : cases)
    {
        Nmeterdsp M;
        EXPECT_EQ (M.init (48000), 0);
        EXPECT_EQ (M.set_filter (c.filter, 0), (c.filter >= 1 && c.filter <= 5) ? 0 : -1);
        EXPECT_EQ (M.set_detect (c.detect), (c.detect >= 1 && c.detect <= 5) ? 0 : -1);
        run (M, x, 1000);
        EXPECT_NEAR (M.get_level (), c.expect, c.tol) << c.filter << " " << c.detect;
    }
}


TEST (Nmeterdsp, StartsIdleAndTakesChangesAtTheNextPeriod)
{
    Nmeterdsp M;
    ASSERT_EQ (M.init (44100), 0);
    EXPECT_EQ (M.filter, 0);
    EXPECT_EQ (M.detect, 0);
    EXPECT_FALSE (M.dcfilt);
    auto x = sine (44100, 1000, 0.5, 44100);
    auto y = run (M, x, 256);
    EXPECT_EQ (y, x);          // no DC removal, no weighting: a copy
    EXPECT_EQ (M.get_level (), 0.0f);

    M.set_filter (4, 1);
    M.set_detect (2);
    EXPECT_EQ (M.filter, 0);   // stored, not yet taken
    float s = 0.5f;
    M.process (&s, &s, 1);
    EXPECT_EQ (M.filter, 4);
    EXPECT_TRUE (M.dcfilt);
    EXPECT_EQ (M.detect, 2);
    EXPECT_TRUE (M.rmsdet.slow);
    EXPECT_EQ (M.itu468.g, 1.0f);
    M.set_filter (5, 0);
    M.process (&s, &s, 1);
    EXPECT_EQ (M.itu468.g, 0.5239f);
    M.set_detect (4);
    M.process (&s, &s, 1);
    EXPECT_TRUE (M.vumdet.slow);
}


TEST (Nmeterdsp, ChangeRestartsTheChosenElement)
{
    Nmeterdsp M;
    M.init (96000);
    M.set_filter (2, 0);
    M.set_detect (5);
    run (M, sine (96000, 300, 1.0, 20000), 1000);
    EXPECT_NE (M.iec_ac.h1, 0.0f);
    EXPECT_NE (M.itudet.q, 0.0f);
    // Selecting C restarts the A/C chain; a new detector restarts from 0.
    M.set_filter (3, 0);
    M.set_detect (5);
    float z = 0.0f;
    M.process (&z, &z, 0);
    EXPECT_EQ (M.iec_ac.h1, 0.0f);
    EXPECT_EQ (M.iec_ac.l2, 0.0f);
    EXPECT_EQ (M.itudet.q, 0.0f);
    EXPECT_EQ (M.get_level (), 0.0f);
    // Setting the same filter again also restarts it.
    run (M, sine (96000, 300, 1.0, 2000), 1000);
    M.set_filter (3, 0);
    M.process (&z, &z, 0);
    EXPECT_EQ (M.iec_ac.h1, 0.0f);
}


TEST (Nmeterdsp, DcRemoval)
{
    const int fs = 48000;
    std::vector<float> x (3 * fs, 0.5f);
    for (int dc : { 0, 1 })
    {
        Nmeterdsp M;
        M.init (fs);
        M.set_filter (0, dc);
        M.set_detect (1);
        auto y = run (M, x, 21);
        if (dc)
        {
            // A 5 Hz first-order high-pass: exp (-31.415 t) of the step.
            EXPECT_NEAR (y [4799], 0.5 * exp (-31.415 * 4799 / fs), 2e-3);
            EXPECT_LT (fabs (y.back ()), 1e-4f);
            EXPECT_LT (M.get_level (), 1e-3f);
        }
        else
        {
            EXPECT_NEAR (M.get_level (), sqrt (2 * 0.25), 1e-3);
        }
    }
}


TEST (Nmeterdsp, BlockSizeDoesNotMatter)
{
    const int fs = 88200;
    auto x = sine (fs, 5000, 0.3, 25000);
    for (int f = 1; f <= 5; f++)
    {
        Nmeterdsp A;
        A.init (fs);
        A.set_filter (f, 1);
        A.set_detect (5);
        auto ya = run (A, x, (int) x.size ());
        for (int block : { 1, 21, 256, 1000 })
        {
            Nmeterdsp B;
            B.init (fs);
            B.set_filter (f, 1);
            B.set_detect (5);
            EXPECT_EQ (run (B, x, block), ya) << f << " " << block;
            EXPECT_EQ (B.get_level (), A.get_level ()) << f << " " << block;
        }
    }
}


TEST (Nmeterdsp, UnsupportedRate)
{
    Nmeterdsp M;
    EXPECT_NE (M.init (32000), 0);
    M.set_filter (2, 0);
    M.set_detect (1);
    auto y = run (M, sine (32000, 1000, 1.0, 3200), 320);
    for (float v : y) EXPECT_EQ (v, 0.0f);
    EXPECT_LT (M.get_level (), 1e-12f);   // only the anti-denormal constant
}


TEST (Nmeterdsp, RequestsRacingThePeriodsAreTakenWhole)
{
    // The Python thread sets (filter, dc) pairs that always match; the
    // process thread must never see a mixed pair.
    Nmeterdsp M;
    M.init (48000);
    std::atomic<bool> stop (false);
    std::thread setter ([&] {
        unsigned k = 0;
        while (!stop.load ())
        {
            k++;
            M.set_filter (1 + (k & 1), k & 1);
            M.set_detect (1 + 2 * (k & 1));
        }
    });
    std::vector<float> x (64, 0.1f), y (64);
    int bad = 0;
    for (int i = 0; i < 200000; i++)
    {
        M.process (x.data (), y.data (), 64);
        if (M.filter != 0 && M.dcfilt != (M.filter == 2)) bad++;
    }
    stop = true;
    setter.join ();
    EXPECT_EQ (bad, 0);
}
