// Band filter tables: every record against its band rule and the class 1
// acceptance limits; the filter against the records' transfer functions.
//
// Class 1 limits on relative attenuation (dB) at the octave-band breakpoints
// G^e (G = 10^0.3, base-ten), as tabled in IEC 61260 (1995, Table 1, class 1;
// also ANSI S1.11-2004), with the stop-band minima raised to those of
// IEC 61260-1:2014 class 1 from G^2 on (40.5, 60, 70 dB) where those are
// stricter. No copy of the standard is available here: the figures are the
// published values as this project knows them, and the test applies the
// stricter of the two editions wherever they differ. Third-octave
// breakpoints follow the standard's mapping
//   Omega_b = 1 + (G^(1/2b) - 1) / (G^(1/2) - 1) * (Omega_1 - 1)
// above the centre, and its reciprocal below. Frequencies at or above half
// the sample rate are not tested (the band there is cut by the Nyquist limit).

#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include <cstring>
#include "filters/bp6filter.h"
#include "filtertest.h"

using namespace filtertest;

namespace {

struct Limit { double e, least, most; };
const Limit CLASS1 [] =
{
    { 0, -0.3, 0.3 }, { 1 / 8.0, -0.3, 0.4 }, { 1 / 4.0, -0.3, 0.6 }, { 3 / 8.0, -0.3, 1.3 },
    { 1 / 2.0, 2.0, 5.0 }, { 1, 17.5, INFINITY }, { 2, 40.5, INFINITY }, { 3, 60.0, INFINITY },
    { 4, 70.0, INFINITY }
};

const Bp6table *const TABLES [2][5] =
{
    { &Oct1filt44, &Oct1filt48, &Oct1filt88, &Oct1filt96, &Oct1filt192 },
    { &Oct3filt44, &Oct3filt48, &Oct3filt88, &Oct3filt96, &Oct3filt192 }
};

double centre (int system, int band)
{
    return (system == 1) ? 1000 * std::pow (2.0, band - 5) : 1000 * std::pow (10.0, (band - 17) / 10.0);
}

double half_band (int system)
{
    return (system == 1) ? std::sqrt (2.0) : std::pow (10.0, 0.05);
}

// The record's transfer function, in double precision.
cplx record_h (const Bp6param &P, double f)
{
    cplx z = std::polar (1.0, 2 * M_PI * f), w = z - 1.0;
    auto D = [&] (double a, double b) { return w * w + a * w + b; };
    switch (P.form)
    {
    case 0: return (double) P.gain * std::pow (w, 3) * std::pow (z + 1.0, 3) / (D (P.c1, P.c2) * D (P.c3, P.c4) * D (P.c5, P.c6));
    case 1: return (double) P.gain * std::pow (w, 4) * std::pow (z + 1.0, 2) / (D (P.c1, P.c2) * D (P.c3, P.c4) * D (P.c5, P.c6));
    default: return (double) P.gain * std::pow (w, 4) / (D (P.c1, P.c2) * D (P.c3, P.c4));
    }
}

double record_db (const Bp6param &P, double hz, double fs) { return db (std::abs (record_h (P, hz / fs))); }

double max_pole_radius (const Bp6param &P)
{
    double r = 0;
    const float c [6] = { P.c1, P.c2, P.c3, P.c4, P.c5, P.c6 };
    for (int i = 0; i < (P.form == 2 ? 4 : 6); i += 2)
    {
        cplx d = std::sqrt (cplx ((double) c [i] * c [i] - 4.0 * c [i + 1], 0));
        r = std::max (r, std::abs (1.0 + (-(double) c [i] + d) / 2.0));
        r = std::max (r, std::abs (1.0 + (-(double) c [i] - d) / 2.0));
    }
    return r;
}

}


TEST (Bp6table, Layout)
{
    const float rates [5] = { 44100, 48000, 88200, 96000, 192000 };
    for (int s = 0; s < 2; s++)
    {
        for (int r = 0; r < 5; r++)
        {
            EXPECT_EQ (TABLES [s][r]->fsamp, rates [r]);
            EXPECT_EQ (TABLES [s][r]->nband, s ? 31 : 10);
            const Bp6table *t1, *t3;
            EXPECT_EQ (bp6_tables ((int) rates [r], &t1, &t3), 0);
            EXPECT_EQ (t1, TABLES [0][r]);
            EXPECT_EQ (t3, TABLES [1][r]);
        }
    }
    const Bp6table *t1, *t3;
    EXPECT_EQ (bp6_tables (32000, &t1, &t3), -1);
    EXPECT_EQ (t1, nullptr);
    // Forms near the Nyquist frequency.
    for (int s = 0; s < 2; s++)
    {
        for (int r = 0; r < 5; r++)
        {
            const Bp6table *T = TABLES [s][r];
            for (int k = 0; k < T->nband; k++)
            {
                int want = 0;
                if (r == 0 && s == 0) want = (k == 8) ? 1 : (k == 9) ? 2 : 0;
                if (r == 0 && s == 1) want = (k == 28 || k == 29) ? 1 : (k == 30) ? 2 : 0;
                if (r == 1 && s == 0) want = (k >= 8) ? 1 : 0;
                if (r == 1 && s == 1) want = (k >= 28) ? 1 : 0;
                if (r >= 2 && s == 0 && k >= 1) want = TABLES [0][r == 4 ? 3 : r - 2]->param [k - 1].form;
                EXPECT_EQ (T->param [k].form, want) << s << " " << r << " " << k;
            }
        }
    }
}


TEST (Bp6table, PublishedRowsAndCrossRateIdentities)
{
    const Bp6param &a = Oct1filt48.param [5];
    EXPECT_EQ (a.gain, 5.87669711e-05f);
    EXPECT_EQ (a.c1, 0.0816530436f);
    EXPECT_EQ (a.c6, 0.0306240991f);
    const Bp6param &b = Oct3filt48.param [17];
    EXPECT_EQ (b.gain, 2.32257503e-06f);
    EXPECT_EQ (b.c5, 0.0338011384f);
    const Bp6param &c = Oct1filt44.param [8];
    EXPECT_EQ (c.form, 1);
    EXPECT_EQ (c.c3, 1.23940206f);
    const Bp6param &d = Oct1filt44.param [9];
    EXPECT_EQ (d.form, 2);
    EXPECT_EQ (d.gain, 0.0626523867f);
    EXPECT_EQ (d.c5, 0.0f);
    const Bp6param &e = Oct3filt44.param [30];
    EXPECT_EQ (e.c4, 2.97534108f);
    const Bp6param &f = Oct3filt192.param [0];
    EXPECT_EQ (f.gain, 2.95320002e-13f);
    EXPECT_EQ (f.c2, 4.26316888e-07f);
    // Records repeat where the normalised frequency coincides.
    const Bp6table *pairs [3][2] = { { &Oct1filt88, &Oct1filt44 }, { &Oct1filt96, &Oct1filt48 }, { &Oct1filt192, &Oct1filt96 } };
    for (auto &p : pairs)
    {
        for (int k = 1; k <= 9; k++)
        {
            EXPECT_EQ (0, memcmp (&p [0]->param [k], &p [1]->param [k - 1], sizeof (Bp6param))) << p [0]->fsamp << " " << k;
        }
    }
}


TEST (Bp6table, EveryRecordMeetsItsBandRule)
{
    const double G = std::pow (10.0, 0.3);
    for (int s = 0; s < 2; s++)
    {
        int b = s ? 3 : 1;
        double ratio = (std::pow (G, 1.0 / (2 * b)) - 1) / (std::sqrt (G) - 1);
        for (int r = 0; r < 5; r++)
        {
            const Bp6table *T = TABLES [s][r];
            double fs = T->fsamp;
            for (int k = 0; k < T->nband; k++)
            {
                const Bp6param &P = T->param [k];
                double fc = centre (b, k);
                EXPECT_LT (max_pole_radius (P), 1.0) << fs << " " << b << " " << k;
                EXPECT_NEAR (record_db (P, fc, fs), 0.0, 1e-4) << fs << " " << b << " " << k;
                for (double edge : { fc / half_band (b), fc * half_band (b) })
                {
                    if (edge >= fs / 2) continue;
                    double x = record_db (P, edge, fs);
                    // -3.1 and -3.2 dB as stated to 0.001 dB: the published
                    // records sit at -3.1002 and -3.2001 dB.
                    EXPECT_LE (x, -2.9) << fs << " " << b << " " << k;
                    EXPECT_GE (x, (b == 1 ? -3.1 : -3.2) - 5e-4) << fs << " " << b << " " << k;
                }
                for (const Limit &L : CLASS1)
                {
                    double w = 1 + ratio * (std::pow (G, L.e) - 1);
                    for (double f : { fc * w, fc / w })
                    {
                        if (f >= fs / 2) continue;
                        double att = -record_db (P, f, fs);
                        EXPECT_GE (att, L.least) << fs << " " << b << " " << k << " at " << f;
                        EXPECT_LE (att, L.most) << fs << " " << b << " " << k << " at " << f;
                    }
                }
                // Beyond G^4 the last limit holds on, down to 1 Hz and up to Nyquist.
                double w4 = 1 + ratio * (std::pow (G, 4.0) - 1);
                for (double r = 1.0; r < 1e4; r *= 1.3)
                {
                    for (double f : { fc * w4 * r, fc / (w4 * r) })
                    {
                        if (f >= fs / 2 || f < 1) continue;
                        EXPECT_GE (-record_db (P, f, fs), 70.0) << fs << " " << b << " " << k << " at " << f;
                    }
                }
                // Between breakpoints, as a stepped mask: the pass band stays
                // under the limit of the next breakpoint outwards, the stop
                // band above the limit of the breakpoint inside it.
                for (int i = 0; i + 1 < 9; i++)
                {
                    double w0 = 1 + ratio * (std::pow (G, CLASS1 [i].e) - 1);
                    double w1 = 1 + ratio * (std::pow (G, CLASS1 [i + 1].e) - 1);
                    for (int j = 1; j < 8; j++)
                    {
                        double w = w0 * std::pow (w1 / w0, j / 8.0);
                        for (double f : { fc * w, fc / w })
                        {
                            if (f >= fs / 2) continue;
                            double att = -record_db (P, f, fs);
                            if (i < 4)
                            {
                                EXPECT_LE (att, CLASS1 [i + 1].most) << fs << " " << b << " " << k << " at " << f;
                                EXPECT_GE (att, -0.3) << fs << " " << b << " " << k << " at " << f;
                            }
                            else
                            {
                                EXPECT_GE (att, CLASS1 [i].least) << fs << " " << b << " " << k << " at " << f;
                            }
                        }
                    }
                }
            }
        }
    }
}


TEST (Bp6filter, ProcessMatchesRecord)
{
    // The three forms at several rates, including the slowest record.
    struct Case { const Bp6table *T; int band; };
    const Case cases [] =
    {
        { &Oct1filt48, 5 }, { &Oct1filt48, 9 }, { &Oct1filt44, 8 }, { &Oct1filt44, 9 },
        { &Oct3filt44, 30 }, { &Oct3filt48, 30 }, { &Oct3filt96, 0 }, { &Oct1filt192, 0 }
    };
    for (const Case &c : cases)
    {
        const Bp6param &P = c.T->param [c.band];
        int n = (int) std::min (2e6, 60 / (1 - max_pole_radius (P)));
        Bp6filter F;
        F.setparam (&P);
        auto h = impulse (n, 1000, [&] (int m, float *x, float *y) { F.process (m, x, y); });
        double fc = (c.T->nband == 10) ? centre (1, c.band) : centre (3, c.band);
        for (double r : { 0.5, 0.8, 1.0, 1.1, 1.25 })
        {
            double f = fc * r / c.T->fsamp;
            if (f >= 0.5) continue;
            EXPECT_NEAR (db (std::abs (dft (h, f))), db (std::abs (record_h (P, f))), 0.001)
                << c.T->fsamp << " " << c.band << " " << r;
        }
    }
}


TEST (Bp6filter, OneKilohertzSine)
{
    // Steady-state amplitude of a 1 kHz sine at 48 kHz through bands 5 and 4.
    for (int band : { 5, 4 })
    {
        Bp6filter F;
        F.setparam (&Oct1filt48.param [band]);
        std::vector<float> x (96000), y (96000);
        for (int i = 0; i < 96000; i++) x [i] = (float) std::sin (2 * M_PI * 1000 * i / 48000.0);
        for (int i = 0; i < 96000; i += 256) F.process (std::min (256, 96000 - i), x.data () + i, y.data () + i);
        double peak = 0;
        for (int i = 48000; i < 96000; i++) peak = std::max (peak, (double) std::fabs (y [i]));
        if (band == 5) EXPECT_NEAR (db (peak), 0.0, 0.001);
        else EXPECT_NEAR (db (peak), -22.9, 0.3);
    }
}


TEST (Bp6filter, OffAndRestart)
{
    Bp6filter F;
    std::vector<float> x (100, 1.0f), y (100, 5.0f);
    F.process (100, x.data (), y.data ());
    for (float v : y) EXPECT_EQ (v, 0.0f);
    F.setparam (&Oct1filt48.param [5]);
    F.process (100, x.data (), y.data ());
    EXPECT_NE (F.z1, 0.0);
    F.setparam (&Oct1filt48.param [5]);   // same record: states kept
    EXPECT_NE (F.z1, 0.0);
    F.setparam (&Oct1filt48.param [4]);   // new record: restart
    EXPECT_EQ (F.z1, 0.0);
    EXPECT_EQ (F.z6, 0.0);
}
