// Near-field compensation filters against their analogue prototype
// (s/W)^l / theta_l (s/W) through the bilinear transform, evaluated directly
// from the reverse Bessel polynomial's coefficients.

#include <gtest/gtest.h>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>
#include "ambisonics/nffilt.h"
#include "filtertest.h"

using namespace filtertest;

namespace {

double fact (int n) { return n < 2 ? 1 : n * fact (n - 1); }

// Prototype response at f (fraction of the sample rate) for w = W / fsamp.
cplx prototype (int l, double w, double f)
{
    cplx z = std::polar (1.0, 2 * M_PI * f);
    cplx s = 2.0 * (z - 1.0) / (z + 1.0) / w;
    cplx theta = 0, sk = 1;
    for (int k = 0; k <= l; k++)
    {
        theta += fact (2 * l - k) / (std::pow (2.0, l - k) * fact (k) * fact (l - k)) * sk;
        sk *= s;
    }
    return std::pow (s, l) / theta;
}

std::unique_ptr<NFfiltbase> make (int l, float w, int nchan = 1)
{
    std::unique_ptr<NFfiltbase> F (NFfiltbase::create (l, nchan));
    F->init (w);
    return F;
}

std::vector<float> response (NFfiltbase &F, int n, int block)
{
    return impulse (n, block, [&] (int m, float *x, float *y) { F.process (m, &x, &y, 1.0f); });
}

}


// The section table as derived from theta_l (degree 5's second p, degree 6's
// second p and third q as the roots give them).
TEST (NFfilt, FactorsAreTheRootsOfTheReverseBesselPolynomials)
{
    const std::vector<std::vector<double>> table =
    {
        { 1 },
        { 3, 3 },
        { 3.6778, 6.4594, 2.3222 },
        { 4.2076, 11.4878, 5.7924, 9.1401 },
        { 4.6493, 18.1563, 6.7039, 14.2725, 3.6467 },
        { 5.0319, 26.514, 7.4714, 20.8528, 8.4967, 18.8011 },
        { 5.3714, 36.5968, 8.1403, 28.9365, 9.5166, 25.6664, 4.9718 },
        { 5.678, 48.432, 8.7366, 38.5693, 10.4097, 33.9347, 11.1758, 31.9772 }
    };
    for (int l = 1; l <= 8; l++)
    {
        const double *f = NFfiltbase::factors (l);
        ASSERT_NE (f, nullptr);
        for (int i = 0; i < l; i++) EXPECT_NEAR (f [i], table [l - 1][i], 6e-5) << "degree " << l << " factor " << i;
        // The product of the factors gives theta_l (0) = (2l)! / (2^l l!).
        double p = 1;
        for (int i = 0; i + 1 < l; i += 2) p *= f [i + 1];
        if (l & 1) p *= f [l - 1];
        EXPECT_NEAR (p / (fact (2 * l) / (std::pow (2.0, l) * fact (l))), 1.0, 1e-12) << "degree " << l;
    }
    EXPECT_EQ (NFfiltbase::factors (0), nullptr);
    EXPECT_EQ (NFfiltbase::factors (9), nullptr);
    EXPECT_EQ (NFfiltbase::create (9, 3), nullptr);
}


// Measured from the impulse response wherever the float output is far above
// its rounding noise (prototype above -60 dB), at several distances and
// sample rates, fed in blocks that do not divide the length.
TEST (NFfilt, ResponseIsTheBilinearTransformOfThePrototype)
{
    for (double fs : { 48000.0, 44100.0, 96000.0 })
    {
        for (double r : { 0.5, 1.0, 3.0 })
        {
            double w = 343 / (r * fs);
            for (int l = 1; l <= 8; l++)
            {
                auto F = make (l, (float) w);
                std::vector<float> h = response (*F, 1 << 15, 1000);
                double worst = 0;
                for (double f = 10 / fs; f < 0.45; f *= 1.05)
                {
                    cplx ref = prototype (l, w, f);
                    if (std::abs (ref) < 1e-3) continue;
                    worst = std::max (worst, std::fabs (db (std::abs (dft (h, f))) - db (std::abs (ref))));
                }
                EXPECT_LT (worst, 0.005) << "degree " << l << " fs " << fs << " r " << r;
            }
        }
    }
}


TEST (NFfilt, Degree2AtOneMetre)
{
    double fs = 48000, w = 343 / fs;
    auto F = make (2, (float) w);
    std::vector<float> h = response (*F, 1 << 15, 256);
    EXPECT_NEAR (std::abs (dft (h, 20 / fs)), 0.044, 0.001);
    EXPECT_NEAR (std::abs (dft (h, 100 / fs)), 0.61, 0.005);
    EXPECT_NEAR (std::abs (dft (h, 500 / fs)), 0.98, 0.005);
    EXPECT_NEAR (std::abs (dft (h, 10000 / fs)), 1.0, 1e-3);
}


// Every degree has l zeros at DC: a constant input dies away. Degree 1 stops
// within half a rounding step of its single state (1/(2A) at DC, 140 at 1 m),
// 8e-6 of the input; the sections of higher degrees take it to nothing.
TEST (NFfilt, ConstantInputDecaysToZero)
{
    for (int l = 1; l <= 8; l++)
    {
        auto F = make (l, 343.0f / 48000.0f, 3);
        std::vector<float> x (48000, 1.0f), y0 (x.size ()), y1 (x.size ()), y2 (x.size ());
        float *inp [3] = { x.data (), x.data (), x.data () };
        float *out [3] = { y0.data (), y1.data (), y2.data () };
        F->process ((int) x.size (), inp, out, 1.0f);
        for (float *y : out)
        {
            EXPECT_GT (y [0], 0.8f) << "degree " << l;
            float m = 0;
            for (size_t i = 24000; i < x.size (); i++) m = std::max (m, std::fabs (y [i]));
            EXPECT_LT (m, l == 1 ? 1e-5f : 1e-30f) << "degree " << l;
        }
    }
}


// In place equals separate buffers, whatever the block size; channels keep
// their own states.
TEST (NFfilt, InPlaceEqualsOutOfPlace)
{
    const int n = 5000, nch = 5;
    for (int l = 1; l <= 8; l++)
    {
        for (int block : { 1, 21, 256, 1000 })
        {
            auto A = make (l, 343.0f / 44100.0f, nch);
            auto B = make (l, 343.0f / 44100.0f, nch);
            std::vector<std::vector<float>> x (nch, std::vector<float> (n)), y (nch, std::vector<float> (n)), z (x);
            for (int c = 0; c < nch; c++)
                for (int i = 0; i < n; i++) x [c][i] = z [c][i] = std::sin (0.001 * (c + 1) * i * i) + (i == 7 * c);
            for (int k = 0; k < n; k += block)
            {
                int m = std::min (block, n - k);
                float *xi [nch], *yi [nch], *zi [nch];
                for (int c = 0; c < nch; c++)
                {
                    xi [c] = x [c].data () + k;
                    yi [c] = y [c].data () + k;
                    zi [c] = z [c].data () + k;
                }
                A->process (m, xi, yi, 0.5f);
                B->process (m, zi, zi, 0.5f);
            }
            for (int c = 0; c < nch; c++) ASSERT_EQ (y [c], z [c]) << "degree " << l << " block " << block;
            // Channel 0 through a filter of its own gives the same.
            auto C = make (l, 343.0f / 44100.0f, 1);
            std::vector<float> x0 (x [0]), y0 (n);
            float *xp = x0.data (), *yp = y0.data ();
            C->process (n, &xp, &yp, 0.5f);
            ASSERT_EQ (y0, y [0]) << "degree " << l;
        }
    }
}


// Far away the filter is the identity; reset clears the states, init again too.
TEST (NFfilt, FarDistanceIsIdentityAndResetClearsStates)
{
    for (int l = 1; l <= 8; l++)
    {
        auto F = make (l, 0.0f);
        EXPECT_FLOAT_EQ (F->gain, 1.0f);
        for (int i = 0; i < l; i++) EXPECT_EQ (F->coef [i], 0.0f);
        std::vector<float> h = response (*F, 100, 7);
        EXPECT_NEAR (h [0], 1.0f, 1e-6f);
        for (int i = 1; i < 100; i++) EXPECT_NEAR (h [i], 0.0f, 1e-6f);

        F->init (343.0f / 48000.0f);
        std::vector<float> a = response (*F, 300, 300);
        F->reset ();
        std::vector<float> b = response (*F, 300, 300);
        EXPECT_EQ (a, b) << "degree " << l;
        F->init (343.0f / 48000.0f);
        EXPECT_EQ (response (*F, 300, 300), a) << "degree " << l;
    }
}
