// Fader2: step counts, ramp shapes and their independence of the period size.

#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include "dynamics/fader2.h"

namespace {

// Runs constant input 1.0 through all channels of the fader for n samples in
// periods of the given size, and returns the gains seen by channel c.
std::vector<float> run (Fader2 &F, int n, int period, int c = 0)
{
    std::vector<float> inp (period, 1.0f);
    std::vector<std::vector<float>> out (F.nchan, std::vector<float> (n));
    float *ip [Fader2::MAXCHAN], *op [Fader2::MAXCHAN];
    for (int k = 0; k < n; k += period)
    {
        for (int i = 0; i < F.nchan; i++)
        {
            ip [i] = inp.data ();
            op [i] = out [i].data () + k;
        }
        F.process (std::min (period, n - k), ip, op);
    }
    return out [c];
}

// Number of 480-sample steps before the gain sits at its target.
int steps_to_settle (const std::vector<float> &g, float target)
{
    int last = -1;
    for (size_t i = 0; i < g.size (); i++) if (g [i] != target) last = (int) i;
    return (last + 480) / 480;
}

}


TEST (Fader2, SilentUntilFirstMasterGain)
{
    Fader2 F (1, 48000);
    F.setgain (0, 0.0f);
    auto g = run (F, 1920, 256);
    for (float x : g) EXPECT_EQ (x, 0.0f);
    F.setgain (-1, 0.0f);
    g = run (F, 960, 256);
    // Fade in within one step: 1/480, 2/480, ..., 1.
    for (int i = 0; i < 480; i++) EXPECT_NEAR (g [i], (i + 1) / 480.0f, 1e-5f) << i;
    for (int i = 480; i < 960; i++) EXPECT_EQ (g [i], 1.0f);
}


TEST (Fader2, DecibelConversion)
{
    Fader2 F (2, 48000);
    F.setgain (-1, -120.0f);
    EXPECT_NEAR (F.gain, 1e-6f, 1e-12f);
    EXPECT_GT (F.gain, 0.0f);
    F.setgain (-1, -120.1f);
    EXPECT_EQ (F.gain, 0.0f);
    F.setgain (-1, -INFINITY);
    EXPECT_EQ (F.gain, 0.0f);
    F.setgain (-1, -6.0f);
    EXPECT_FLOAT_EQ (F.gain, (float) pow (10.0, -0.3));
    // Refused values keep the previous setting.
    EXPECT_EQ (F.setgain (-1, NAN), -1);
    EXPECT_EQ (F.setgain (-1, INFINITY), -1);
    EXPECT_EQ (F.setgain (0, 400.0f), -1);
    EXPECT_FLOAT_EQ (F.gain, (float) pow (10.0, -0.3));
    EXPECT_EQ (F.chans [0].gain, 1.0f);
    // Index beyond the channels is ignored.
    EXPECT_EQ (F.setgain (2, -20.0f), 0);
    EXPECT_EQ (F.chans [0].gain, 1.0f);
    EXPECT_EQ (F.chans [1].gain, 1.0f);
}


TEST (Fader2, StepCounts)
{
    struct Case { float from_db, to_db; int steps; };
    const Case cases [] =
    {
        { 0.0f, -12.0411998f, 2 },   // 1 -> 0.25 through 0.5
        { -12.0411998f, 0.0f, 2 },   // 0.25 -> 1
        { 0.0f, -200.0f, 1 },        // 1 -> 0
        { 0.0f, -40.0f, 7 },         // six halvings, then the rest
        { -40.0f, 0.0f, 7 },
        { 0.0f, -6.0f, 1 },
    };
    for (const Case &c : cases)
    {
        Fader2 F (1, 48000);
        F.setgain (-1, c.from_db);
        run (F, 48000, 256);
        F.setgain (-1, c.to_db);
        auto g = run (F, 48000, 256);
        float target = (c.to_db < -120) ? 0.0f : (float) pow (10.0, 0.05 * c.to_db);
        EXPECT_NEAR (g.back (), target, 1e-7f);
        EXPECT_EQ (steps_to_settle (g, g.back ()), c.steps) << c.from_db << " -> " << c.to_db;
        // Never more than a factor of two within a step.
        for (size_t i = 480; i < g.size (); i += 480)
        {
            if (g [i - 480] > 0 && g [i] > 0)
            {
                EXPECT_LE (std::max (g [i] / g [i - 480], g [i - 480] / g [i]), 2.0f + 1e-5f);
            }
        }
    }
}


TEST (Fader2, RampShapeIndependentOfPeriod)
{
    std::vector<float> ref;
    for (int period : { 1, 21, 256, 480, 1000, 1024 })
    {
        Fader2 F (1, 48000);
        F.setgain (-1, 0.0f);
        // Change the gain at sample 3000 (mid-step): the change starts at the next boundary.
        auto a = run (F, 3000, period);
        F.setgain (-1, -40.0f);
        auto b = run (F, 6000, period);
        a.insert (a.end (), b.begin (), b.end ());
        if (ref.empty ()) ref = a;
        EXPECT_EQ (a, ref) << "period " << period;
    }
}


TEST (Fader2, MuteLogic)
{
    Fader2 F (2, 48000);
    F.setgain (-1, 0.0f);
    run (F, 960, 256);
    F.setmute (-1, true);
    F.setmute (1, true);
    auto g = run (F, 960, 256, 1);
    EXPECT_NEAR (g [479], 0.0f, 1e-5f);       // faded out within one step, up to rounding
    EXPECT_EQ (g [480], 0.0f);                // and exactly silent from the next step
    F.setmute (-1, false);
    EXPECT_EQ (run (F, 960, 256, 0).back (), 1.0f);   // channel 0 back
    EXPECT_EQ (run (F, 960, 256, 1).back (), 0.0f);   // channel 1 still muted
}


TEST (Fader2, ChannelClamp)
{
    EXPECT_EQ (Fader2 (150, 48000).nchan, 100);
    EXPECT_EQ (Fader2 (-3, 48000).nchan, 0);
    EXPECT_EQ (Fader2 (4, 44100).step_len, 441);
    Fader2 F (0, 48000);
    F.process (256, nullptr, nullptr);        // nothing to do, nothing touched
}
