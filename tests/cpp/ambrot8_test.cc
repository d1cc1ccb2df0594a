// Ambrot8: rotated sources against the harmonics of the rotated direction,
// the quarter turn about z, dropped requests, ramps, and requests that cross
// threads whole.

#include <gtest/gtest.h>
#include <cmath>
#include <random>
#include <thread>
#include <atomic>
#include <chrono>
#include <vector>
#include "ambisonics/ambrot8.h"
#include "ambisonics/realspharm.h"

namespace {

// Signal buffers for one rotator: every input channel holds a constant.
struct Rig
{
    Rig (int degree, int nframes) :
        nch ((degree + 1) * (degree + 1)),
        inp (nch, std::vector<float> (nframes)),
        out (nch, std::vector<float> (nframes))
    {
        for (int c = 0; c < nch; c++) { ip [c] = inp [c].data (); op [c] = out [c].data (); }
    }
    void set_input (const float *g)
    {
        for (int c = 0; c < nch; c++) std::fill (inp [c].begin (), inp [c].end (), g [c]);
    }
    int nch;
    std::vector<std::vector<float>> inp, out;
    float *ip [81], *op [81];
};

// Rotation matrix of a unit quaternion (w, x, y, z), active, in x, y, z.
void quat_matrix (double w, double x, double y, double z, double R [3][3])
{
    R [0][0] = 1 - 2 * (y * y + z * z); R [0][1] = 2 * (x * y - w * z);     R [0][2] = 2 * (x * z + w * y);
    R [1][0] = 2 * (x * y + w * z);     R [1][1] = 1 - 2 * (x * x + z * z); R [1][2] = 2 * (y * z - w * x);
    R [2][0] = 2 * (x * z - w * y);     R [2][1] = 2 * (y * z + w * x);     R [2][2] = 1 - 2 * (x * x + y * y);
}

// The direction (azimuth, elevation) of R v, v given by its angles.
void rotate_direction (const double R [3][3], double az, double el, double &raz, double &rel)
{
    const double v [3] = { cos (az) * cos (el), sin (az) * cos (el), sin (el) };
    double u [3];
    for (int i = 0; i < 3; i++) u [i] = R [i][0] * v [0] + R [i][1] * v [1] + R [i][2] * v [2];
    raz = atan2 (u [1], u [0]);
    rel = atan2 (u [2], hypot (u [0], u [1]));
}

float max_diff (const Rmatrix &A, const Rmatrix &B)
{
    float d = 0;
    for (int i = 0; i < A.n * A.n; i++) d = std::max (d, fabsf (A.data [i] - B.data [i]));
    return d;
}

}


TEST (Ambrot8, RotatedSourcesMatchRotatedDirections)
{
    std::mt19937 rng (11);
    std::normal_distribution<double> N (0.0, 1.0);
    std::uniform_real_distribution<double> U (-M_PI, M_PI);
    float g [81], h [81];
    for (int degree = 1; degree <= 8; degree++)
    {
        Rig rig (degree, 64);
        for (int trial = 0; trial < 20; trial++)
        {
            double w = N (rng), x = N (rng), y = N (rng), z = N (rng);
            const double r = sqrt (w * w + x * x + y * y + z * z);
            double R [3][3];
            quat_matrix (w / r, x / r, y / r, z / r, R);
            Ambrot8 A (48000, degree);
            // Odd trials give the same rotation as angle and axis.
            if (trial & 1) A.set_quaternion (w, x, y, z, 0.0f);
            else A.set_rotation (2 * acos (w / r), x, y, z, 0.0f);
            const double az = U (rng), el = asin (2 * (trial + 0.5) / 20 - 1);
            realspharm (degree, az, el, g, true);
            rig.set_input (g);
            A.process (64, rig.ip, rig.op);
            double raz, rel;
            rotate_direction (R, az, el, raz, rel);
            realspharm (degree, raz, rel, h, true);
            for (int c = 0; c < rig.nch; c++)
                ASSERT_NEAR (rig.out [c][63], h [c], 1e-5) << "degree " << degree << " trial " << trial << " channel " << c;
        }
    }
}


TEST (Ambrot8, QuarterTurnAboutZ)
{
    Ambrot8 A (48000, 8);
    A.set_rotation (M_PI / 2, 0, 0, 1, 0);
    Rig rig (8, 16);
    float g [81], h [81];
    for (double el : { 0.0, 0.5, -1.2 })
    {
        realspharm (8, 0.0, el, g, true);
        realspharm (8, M_PI / 2, el, h, true);
        rig.set_input (g);
        A.process (16, rig.ip, rig.op);
        for (int c = 0; c < 81; c++) ASSERT_NEAR (rig.out [c][15], h [c], 1e-5) << el << " " << c;
    }
    // Output y = input x, z = z, x = -y (rows and columns in order y, z, x).
    const float expect [3][3] = { { 0, 0, 1 }, { 0, 1, 0 }, { -1, 0, 0 } };
    for (int i = -1; i <= 1; i++)
        for (int j = -1; j <= 1; j++) EXPECT_NEAR ((*A.mcurr [1]) (i, j), expect [i + 1][j + 1], 1e-7);
}


TEST (Ambrot8, InvalidRequestsAreDropped)
{
    Ambrot8 A (48000, 3);
    Rig rig (3, 32);
    A.set_rotation (0.7f, 1, 2, 3, 0);
    A.process (32, rig.ip, rig.op);
    Rmatrix before (3);
    before.copy (*A.mcurr [3]);
    const unsigned count = A.request.count ();
    struct { bool quat; float a, x, y, z; } bad [] =
    {
        { false, 0.0f, 1, 0, 0 },            // angle 0
        { false, 1.0f, 0, 0, 0 },            // no axis
        { false, NAN, 1, 0, 0 },
        { false, INFINITY, 1, 0, 0 },
        { false, 1.0f, NAN, 0, 0 },
        { false, 1.0f, INFINITY, 0, 0 },
        { false, 1.0f, 1e-30f, 0, 0 },       // sine over length overflows
        { true, 0, 0, 0, 0 },
        { true, NAN, 0, 0, 0 },
        { true, 1, INFINITY, 0, 0 },
        { true, 1e-30f, 0, 0, 0 },           // length underflows
    };
    for (auto &b : bad)
    {
        if (b.quat) A.set_quaternion (b.a, b.x, b.y, b.z, 0);
        else A.set_rotation (b.a, b.x, b.y, b.z, 0);
    }
    A.process (32, rig.ip, rig.op);
    EXPECT_EQ (A.request.count (), count);
    EXPECT_EQ (max_diff (*A.mcurr [3], before), 0.0f);
    // A quaternion of any length is normalised: (2, 0, 0, 0) is no rotation.
    A.set_quaternion (2, 0, 0, 0, 0);
    A.process (32, rig.ip, rig.op);
    EXPECT_EQ (max_diff (*A.mcurr [3], Rmatrix (3)), 0.0f);
}


TEST (Ambrot8, RampRunsAcrossPeriods)
{
    // 0.5 s at 48000 Hz: 24000 samples, over periods of 256 that do not
    // divide it. Channel 1 (y) carries 1 and everything else 0, so output
    // channel 3 (x) shows element (x, y), which moves from 0 to -1 under a
    // quarter turn about z.
    Ambrot8 A (48000, 2);
    Rig rig (2, 256);
    float g [9] = { 0, 1, 0, 0, 0, 0, 0, 0, 0 };
    rig.set_input (g);
    A.set_rotation (M_PI / 2, 0, 0, 1, 0.5f);
    std::vector<float> x;
    for (int k = 0; k < 100; k++)
    {
        A.process (256, rig.ip, rig.op);
        if (k == 0) { EXPECT_EQ (A.nramp, 24000 - 256); }
        x.insert (x.end (), rig.out [3].begin (), rig.out [3].end ());
    }
    for (int s = 0; s < 24000; s++) ASSERT_NEAR (x [s], -(s + 1) / 24000.0f, 2e-6f) << s;
    for (size_t s = 24000; s < x.size (); s++) ASSERT_NEAR (x [s], -1.0f, 1e-6f) << s;
    EXPECT_EQ (A.nramp, 0);
    EXPECT_LT (max_diff (*A.mcurr [2], *A.mtarg [2]), 1e-6f);

    // Ramp times clamp to 0 .. 1 s.
    A.set_rotation (1, 1, 0, 0, 5.0f);
    A.update ();
    EXPECT_EQ (A.nramp, 48000);
    A.set_rotation (1, 0, 1, 0, -1.0f);
    A.update ();
    EXPECT_EQ (A.nramp, 0);
}


TEST (Ambrot8, RampTimeZeroAppliesAtNextPeriod)
{
    Ambrot8 A (44100, 1);
    Rig rig (1, 100);
    float g [4] = { 0.5f, 1, 0, 0 };
    rig.set_input (g);
    A.process (100, rig.ip, rig.op);
    EXPECT_EQ (rig.out [3][99], 0.0f);
    A.set_rotation (M_PI / 2, 0, 0, 1, 0);
    A.process (100, rig.ip, rig.op);
    for (int s = 0; s < 100; s++)
    {
        ASSERT_EQ (rig.out [0][s], 0.5f);
        ASSERT_NEAR (rig.out [3][s], -1.0f, 1e-7f);
        ASSERT_NEAR (rig.out [1][s], 0.0f, 1e-7f);
    }
}


TEST (Ambrot8, RequestDuringRampRestartsFromMatricesReached)
{
    Ambrot8 A (48000, 4);
    Rig rig (4, 1000);
    A.set_rotation (2.0f, 1, 1, 0, 0.5f);
    for (int k = 0; k < 12; k++) A.process (1000, rig.ip, rig.op);
    EXPECT_EQ (A.nramp, 12000);
    Rmatrix reached [5] = { Rmatrix (1), Rmatrix (1), Rmatrix (2), Rmatrix (3), Rmatrix (4) };
    for (int l = 1; l <= 4; l++) reached [l].copy (*A.mcurr [l]);
    A.set_rotation (-1.0f, 0, 0, 1, 0.1f);
    A.update ();
    EXPECT_EQ (A.nramp, 4800);
    for (int l = 1; l <= 4; l++) EXPECT_EQ (max_diff (*A.mcurr [l], reached [l]), 0.0f) << l;
    for (int k = 0; k < 5; k++) A.process (1000, rig.ip, rig.op);
    EXPECT_EQ (A.nramp, 0);
    Ambrot8 B (48000, 4);
    B.set_rotation (-1.0f, 0, 0, 1, 0);
    B.process (1000, rig.ip, rig.op);
    for (int l = 1; l <= 4; l++) EXPECT_LT (max_diff (*A.mcurr [l], *B.mcurr [l]), 1e-6f) << l;
}


TEST (Ambrot8, DegreeZeroCopiesChannelZero)
{
    Ambrot8 A (48000, 0);
    float in [7] = { 1, 2, 3, 4, 5, 6, 7 }, out [7] = {};
    float *ip [1] = { in }, *op [1] = { out };
    A.set_rotation (1.0f, 0, 1, 0, 0);
    A.process (7, ip, op);
    EXPECT_EQ (A.request.count (), 1u);
    EXPECT_FALSE (A.request.pending (A.nack));
    for (int s = 0; s < 7; s++) EXPECT_EQ (out [s], in [s]);
}


TEST (Ambrot8, RequestsAreNeverTakenHalfWritten)
{
    // A writer alternates two rotations as fast as it can while the process
    // side takes them: every matrix taken must be one of the two, never a
    // mixture of their quaternions.
    Ambrot8 A (48000, 1), P (48000, 1), Q (48000, 1);
    P.set_quaternion (0.6f, 0.8f, 0, 0, 0);
    Q.set_quaternion (0.6f, 0, 0, -0.8f, 0);
    P.update ();
    Q.update ();
    std::atomic<bool> stop (false);
    std::thread writer ([&] {
        for (unsigned k = 0; !stop.load (); k++)
        {
            if (k & 1) A.set_quaternion (0.6f, 0.8f, 0, 0, 0);
            else A.set_quaternion (0.6f, 0, 0, -0.8f, 0);
        }
    });
    int taken = 0;
    const auto t0 = std::chrono::steady_clock::now ();
    while (taken < 20000 && std::chrono::steady_clock::now () - t0 < std::chrono::seconds (5))
    {
        const unsigned before = A.nack;
        A.update ();
        if (A.nack == before) continue;
        taken++;
        const float dp = max_diff (*A.mtarg [1], *P.mtarg [1]);
        const float dq = max_diff (*A.mtarg [1], *Q.mtarg [1]);
        ASSERT_TRUE (dp == 0.0f || dq == 0.0f) << dp << " " << dq;
    }
    stop.store (true);
    writer.join ();
    EXPECT_GT (taken, 100);
}
