// Equaliser sections and gain: responses, stability, step counts, the step grid.

#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include "filters/svparam2.h"
#include "filters/eqgain.h"
#include "filters/stepgrid.h"
#include "filtertest.h"

using namespace filtertest;

namespace {

// The section's transfer function from its coefficients:
// H = 1 + (c0 w^2 + c1 c3 w + c2 c3 c4) / (w^2 + c3 w + c3 c4), w = z - 1.
cplx section_h (const Svparam2 &S, double f)
{
    cplx w = std::polar (1.0, 2 * M_PI * f) - 1.0;
    double c0 = S.c0, c1 = S.c1, c2 = S.c2, c3 = S.c3, c4 = S.c4;
    return 1.0 + (c0 * w * w + c1 * c3 * w + c2 * c3 * c4) / (w * w + c3 * w + c3 * c4);
}

// A section at fixed settings (as after its ramps have finished).
struct Fixed : Svparam2
{
    Fixed (int type, float f, float g, float s) : Svparam2 (type)
    {
        setpars (f, g, s);
        prepare (0);
    }
};

double gain_db (const Svparam2 &S, double f) { return db (std::abs (section_h (S, f))); }

// Largest pole radius of the section.
double pole_radius (const Svparam2 &S)
{
    // w^2 + c3 w + c3 c4 = 0, z = 1 + w
    double b = S.c3, c = (double) S.c3 * S.c4;
    cplx d = std::sqrt (cplx (b * b - 4 * c, 0));
    return std::max (std::abs (1.0 + (-b + d) / 2.0), std::abs (1.0 + (-b - d) / 2.0));
}

// Steps of 480 samples until a section's ack_count catches up.
int settle_steps (Svparam2 &S)
{
    for (int k = 0; k < 1000; k++)
    {
        S.prepare (480);
        if (S.ack_count == S.req_count.load ()) return k;
        std::vector<float> buf (480, 0.0f);
        float *p = buf.data ();
        S.process1 (480, 1, &p);
    }
    return -1;
}

int settle_steps (Eqgain &E)
{
    for (int k = 0; k < 1000; k++)
    {
        E.prepare (480);
        if (E.ack_count == E.req_count.load ()) return k;
        std::vector<float> buf (480, 1.0f);
        float *p = buf.data ();
        E.process (480, 1, &p, &p);
    }
    return -1;
}

}


TEST (Svparam2, ProcessMatchesTransferFunction)
{
    struct Case { int type; float f, g, s; };
    const Case cases [] =
    {
        { 0, 0.01f, 4.0f, 0.5f }, { 0, 0.002f, 0.2f, -1.0f }, { 1, 0.1f, 3.0f, 1.0f },
        { 1, 0.2f, 0.3f, 0.0f }, { 2, 0.02f, 5.0f, 1.0f }, { 3, 0.05f, 0.25f, 2.0f },
        { 4, 0.3f, 8.0f, 0.3f }, { 4, 0.001f, 0.1f, 1.0f },
    };
    for (const Case &c : cases)
    {
        for (int block : { 1, 21, 256, 1000 })
        {
            Fixed S (c.type, c.f, c.g, c.s);
            auto h = impulse (30000, block, [&] (int n, float *x, float *y)
            {
                std::copy (x, x + n, y);
                S.process1 (n, 1, &y);
            });
            for (double f : { 0.0005, 0.003, 0.01, 0.05, 0.2, 0.45 })
            {
                EXPECT_NEAR (db (std::abs (dft (h, f))), gain_db (S, f), 0.001)
                    << c.type << " " << c.f << " " << f << " block " << block;
            }
        }
    }
}


TEST (Svparam2, ShelfEnds)
{
    for (float g : { 0.1f, 0.5f, 2.0f, 10.0f })
    {
        for (float s : { -1.0f, 0.0f, 1.0f })
        {
            Fixed L (0, 0.02f, g, s);
            EXPECT_NEAR (std::abs (section_h (L, 0.0)), g, 1e-4 * g);
            EXPECT_NEAR (std::abs (section_h (L, 0.5)), 1.0, 1e-4);
            Fixed H (1, 0.02f, g, s);
            EXPECT_NEAR (std::abs (section_h (H, 0.0)), 1.0, 1e-4);
            EXPECT_NEAR (std::abs (section_h (H, 0.5)), g, 1e-4 * g);
        }
    }
}


TEST (Svparam2, PeakGainAndMirror)
{
    for (int type : { 2, 3, 4 })
    {
        for (float f : { 0.001f, 0.02f, 0.2f, 0.45f })
        {
            for (float s : { 0.1f, 1.0f, 5.0f })
            {
                for (float gdb : { -20.0f, -6.0f, 3.0f, 20.0f })
                {
                    float g = powf (10, gdb / 20);
                    EXPECT_NEAR (gain_db (Fixed (type, f, g, s), f), gdb, 0.01) << type << " " << f << " " << s;
                }
                // Cut and boost of the same size.
                float g = powf (10, 12 / 20.0f);
                Fixed B (type, f, g, s), C = Fixed (type, f, 1 / g, s);
                for (double r : { 0.5, 0.8, 0.95, 1.05, 1.3, 2.0 })
                {
                    double x = f * r;
                    if (x >= 0.5) continue;
                    double sum = gain_db (B, x) + gain_db (C, x);
                    if (type == 2) EXPECT_GT (sum, 1e-3) << f << " " << r;   // cut narrower than boost
                    else EXPECT_NEAR (sum, 0.0, 0.01) << type << " " << f << " " << r;
                }
            }
        }
    }
}


TEST (Svparam2, StableEverywhere)
{
    for (int type = 0; type <= 4; type++)
    {
        for (float f = 1e-5f; f <= 0.5f; f *= 1.1f)
        {
            for (float g : { 0.1f, 0.5f, 0.99f, 1.01f, 3.0f, 10.0f })
            {
                for (float s : { -1.0f, 0.0f, 1.0f, 0.1f, 3.0f, 10.0f })
                {
                    Fixed S (type, f, g, s);
                    EXPECT_LT (pole_radius (S), 1.0) << type << " f " << f << " g " << g << " s " << s;
                }
            }
        }
    }
    // The low shelf stops at 0.3: higher requests act as 0.3.
    Svparam2 L (0);
    L.setpars (0.45f, 2.0f, 0.0f);
    EXPECT_FLOAT_EQ (L.freq, Svparam2::LOSHELF_FMAX);
    L.setpars (INFINITY, INFINITY, INFINITY);
    EXPECT_FLOAT_EQ (L.freq, Svparam2::LOSHELF_FMAX);
    EXPECT_FLOAT_EQ (L.gain, 10.0f);
    EXPECT_FLOAT_EQ (L.shape, 1.0f);
}


TEST (Svparam2, ClampsAndNaN)
{
    Svparam2 P (2);
    P.setpars (-1.0f, 0.0f, 100.0f);
    EXPECT_FLOAT_EQ (P.freq, 1e-5f);
    EXPECT_FLOAT_EQ (P.gain, 0.1f);
    EXPECT_FLOAT_EQ (P.shape, 10.0f);
    uint16_t req = P.req_count;
    P.setpars (0.1f, NAN, 1.0f);
    P.setpars (NAN, 1.0f, 1.0f);
    P.setpars (0.1f, 1.0f, NAN);
    EXPECT_EQ (P.req_count, req);
    EXPECT_FLOAT_EQ (P.freq, 1e-5f);
    Svparam2 H (1);
    H.setpars (0.9f, 20.0f, -5.0f);
    EXPECT_FLOAT_EQ (H.freq, 0.49f);
    EXPECT_FLOAT_EQ (H.gain, 10.0f);
    EXPECT_FLOAT_EQ (H.shape, -1.0f);
}


TEST (Svparam2, StepCounts)
{
    // 100 Hz to 10 kHz at 48 kHz: 21 steps.
    Svparam2 S (2);
    S.bypass = false;
    S.setpars (100 / 48000.0f, 2.0f, 1.0f);
    settle_steps (S);
    S.setpars (10000 / 48000.0f, 2.0f, 1.0f);
    EXPECT_EQ (settle_steps (S), 21);
    EXPECT_EQ (S.mode, 1);
    // Section gain 1 -> 10: 3 steps; 10 -> 0.1: 7 steps.
    Svparam2 G (2);
    G.bypass = false;
    G.setpars (0.1f, 10.0f, 1.0f);   // frequency and shape as at construction
    EXPECT_EQ (settle_steps (G), 3);
    G.setpars (0.1f, 0.1f, 1.0f);
    EXPECT_EQ (settle_steps (G), 7);
    // Make-up gain: the same counts.
    Eqgain E;
    E.bypass = false;
    E.gain = 10.0f;
    E.req_count++;
    EXPECT_EQ (settle_steps (E), 3);
    E.gain = 0.1f;
    E.req_count++;
    EXPECT_EQ (settle_steps (E), 7);
    EXPECT_EQ (E.mode, 1);
    EXPECT_NEAR (E.gain_cur, 0.1f, 1e-5f);
}


TEST (Svparam2, UnityGainGoesInactive)
{
    Svparam2 S (3);
    S.bypass = false;
    S.setpars (0.01f, 4.0f, 1.0f);
    settle_steps (S);
    EXPECT_EQ (S.mode, 1);
    S.setpars (0.01f, 1.0005f, 1.0f);
    settle_steps (S);
    EXPECT_EQ (S.mode, 0);
    EXPECT_EQ (S.z1 [0], 0.0);
    // Bypass brings the gain to 1 and the section to rest as well.
    S.setpars (0.01f, 4.0f, 1.0f);
    settle_steps (S);
    S.bypass = true;
    S.req_count++;
    settle_steps (S);
    EXPECT_EQ (S.mode, 0);
}


TEST (Svparam2, InterpolationEndsOnExactCoefficients)
{
    Svparam2 S (4);
    S.bypass = false;
    S.setpars (0.05f, 5.0f, 2.0f);
    settle_steps (S);
    Fixed R (4, 0.05f, 5.0f, 2.0f);
    EXPECT_EQ (S.c0, R.c0);
    EXPECT_EQ (S.c3, R.c3);
    EXPECT_EQ (S.c4, R.c4);
}


TEST (Svparam2, ChannelsAgreeWhileRamping)
{
    // Several channels, grouped internally, see identical coefficients.
    for (int nchan : { 1, 3, 4, 7, 100 })
    {
        Svparam2 S (0);
        S.bypass = false;
        S.setpars (0.01f, 8.0f, 0.5f);
        std::vector<std::vector<float>> buf (nchan, std::vector<float> (480));
        std::vector<float *> p (nchan);
        for (int k = 0; k < 5; k++)
        {
            S.prepare (480);
            for (int i = 0; i < nchan; i++)
            {
                for (int n = 0; n < 480; n++) buf [i][n] = sinf (0.01f * (n + 480 * k));
                p [i] = buf [i].data ();
            }
            S.process1 (480, nchan, p.data ());
            for (int i = 1; i < nchan; i++) ASSERT_EQ (buf [i], buf [0]) << nchan;
        }
    }
}


TEST (StepGrid, ChunksAcrossPeriods)
{
    int left = 0;
    std::vector<std::pair<bool, int>> got;
    for (int period = 0; period < 2; period++)
    {
        step_grid (1000, 480, left, [&] (bool begin, int off, int n) { got.push_back ({ begin, n }); });
    }
    std::vector<std::pair<bool, int>> want =
        { { true, 480 }, { true, 480 }, { true, 40 }, { false, 440 }, { true, 480 }, { true, 80 } };
    EXPECT_EQ (got, want);
}
