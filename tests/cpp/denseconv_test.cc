// Denseconv: the matrix convolution against a direct convolution in double,
// the partitioning of responses, the static work split between workers,
// worker counts, staged loading and the exit handshake.

#include <gtest/gtest.h>
#include <math.h>
#include <random>
#include <vector>
#include "convolution/denseconv.h"

typedef std::vector<float> Fvec;


// Runs n periods of the inputs x [i] (n * P samples each) through D.
static std::vector<Fvec> run (Denseconv &D, const std::vector<Fvec> &x, int n)
{
    int P = D.param.psize;
    std::vector<Fvec> y (D.param.nout, Fvec (n * P));
    std::vector<float *> ip (D.param.ninp), op (D.param.nout);
    for (int k = 0; k < n; k++)
    {
        for (int i = 0; i < D.param.ninp; i++) ip [i] = const_cast<float *> (x [i].data ()) + k * P;
        for (int o = 0; o < D.param.nout; o++) op [o] = y [o].data () + k * P;
        D.process (ip.data (), op.data ());
    }
    return y;
}


static Fvec noise (int n, unsigned seed)
{
    std::mt19937 g (seed);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f);
    Fvec v (n);
    for (auto &s : v) s = u (g);
    return v;
}


TEST (Denseconv, MatrixMatchesDirectConvolution)
{
    // Response lengths that fill partitions partly, exactly, or beyond
    // maxlen (cut at N partitions), one taken with step 2.
    struct Case { int ninp, nout, maxlen, P, nthr; };
    for (Case c : { Case { 3, 2, 1000, 256, 2 }, Case { 2, 5, 700, 64, 3 }, Case { 4, 1, 90, 100, 1 } })
    {
        Denseconv D (c.ninp, c.nout, c.maxlen, c.P, c.nthr, 0);
        ASSERT_TRUE (D.ok ());
        int N = D.param.nparts;
        ASSERT_EQ (N, (c.maxlen + c.P - 1) / c.P);
        std::vector<Fvec> h (c.ninp * c.nout);
        std::vector<int> len (c.ninp * c.nout);
        for (int k = 0; k < c.ninp * c.nout; k++)
        {
            int L = (k % 4 == 3) ? N * c.P + 50 : 1 + (k * 331) % c.maxlen;
            int step = (k % 3 == 1) ? 2 : 1;
            Fvec raw = noise (L * step, 100 + k);
            ASSERT_EQ (D.setimp (k % c.ninp, k / c.ninp, 0.5f, raw.data (), L, step), 0);
            EXPECT_EQ (D.param.imp_fd [k].nact, std::min (N, (L + c.P - 1) / c.P));
            len [k] = std::min (L, N * c.P);
            h [k].resize (len [k]);
            for (int j = 0; j < len [k]; j++) h [k][j] = 0.5f * raw [j * step];
        }
        int n = 2 * N + 5;
        std::vector<Fvec> x (c.ninp);
        for (int i = 0; i < c.ninp; i++) x [i] = noise (n * c.P, 7 + i);
        std::vector<Fvec> y = run (D, x, n);
        for (int o = 0; o < c.nout; o++)
        {
            double e = 0, r = 0;
            for (int t = 0; t < n * c.P; t++)
            {
                double s = 0;
                for (int i = 0; i < c.ninp; i++)
                {
                    const Fvec &H = h [i + o * c.ninp];
                    for (int j = 0; j < (int) H.size () && j <= t; j++) s += (double) H [j] * x [i][t - j];
                }
                e += (y [o][t] - s) * (y [o][t] - s);
                r += s * s;
            }
            EXPECT_LT (sqrt (e / r), 1e-6) << "P " << c.P << " output " << o;
        }
    }
}


TEST (Denseconv, SixHundredFramesFillThreePartitions)
{
    Denseconv D (1, 1, 1000, 256, 1, 0);
    ASSERT_EQ (D.param.nparts, 4);
    Fvec h (600, 0.0f);
    h [599] = 1.0f;
    D.setimp (0, 0, 1.0f, h.data (), 600, 1);
    EXPECT_EQ (D.param.imp_fd [0].nact, 3);
    // The last partition holds 88 frames: a unit impulse at its frame 87.
    std::vector<Fvec> x { noise (8 * 256, 3) };
    std::vector<Fvec> y = run (D, x, 8);
    for (int t = 0; t < 8 * 256; t++)
        ASSERT_NEAR (y [0][t], (t >= 599) ? x [0][t - 599] : 0.0f, 1e-6f) << t;
}


TEST (Denseconv, NullEmptiesAndBadIndexChangesNothing)
{
    Denseconv D (2, 3, 64, 32, 2, 0);
    Fvec one { 1.0f };
    for (int i = 0; i < 2; i++)
        for (int o = 0; o < 3; o++) ASSERT_EQ (D.setimp (i, o, 1.0f + i + 10 * o, one.data (), 1, 1), 0);
    EXPECT_EQ (D.setimp (2, 0, 1.0f, one.data (), 1, 1), 1);
    EXPECT_EQ (D.setimp (0, 3, 1.0f, one.data (), 1, 1), 1);
    EXPECT_EQ (D.setimp (-1, 0, 1.0f, nullptr, 0, 0), 1);
    EXPECT_EQ (D.setimp (1, 2, 1.0f, nullptr, 0, 0), 0);
    EXPECT_EQ (D.param.imp_fd [1 + 2 * 2].nact, 0);
    std::vector<Fvec> x { Fvec (4 * 32, 1.0f), Fvec (4 * 32, 1.0f) };
    std::vector<Fvec> y = run (D, x, 4);
    // Output o sums the gains 1 + i + 10 o over i, less the emptied path.
    for (int o = 0; o < 3; o++)
    {
        float want = (1 + 10 * o) + ((o == 2) ? 0 : 2 + 10 * o);
        for (float v : y [o]) ASSERT_NEAR (v, want, 1e-4f);
    }
}


TEST (Denseconv, WorkersShareOutputsRoundRobin)
{
    // Each worker's output phase writes exactly its own outputs.
    Denseconv D (2, 8, 64, 16, 3, 0);
    ASSERT_EQ (D.param.nthr, 3);
    std::vector<Fvec> x (2, Fvec (16, 0.0f));
    std::vector<Fvec> y (8, Fvec (16));
    float *ip [2] = { x [0].data (), x [1].data () };
    float *op [8];
    for (int o = 0; o < 8; o++) op [o] = y [o].data ();
    D.param.inp_data = ip;
    D.param.out_data = op;
    const std::vector<int> want [3] = { { 0, 3, 6 }, { 1, 4, 7 }, { 2, 5 } };
    for (int t = 0; t < 3; t++)
    {
        for (auto &v : y) std::fill (v.begin (), v.end (), NAN);
        D.workers [t]->proc_outputs ();
        std::vector<int> got;
        for (int o = 0; o < 8; o++)
            if (!isnan (y [o][0])) got.push_back (o);
        EXPECT_EQ (got, want [t]) << "worker " << t;
    }
}


TEST (Denseconv, WorkerCountIsClamped)
{
    for (auto c : { std::make_pair (0, 1), std::make_pair (-5, 1), std::make_pair (16, 16), std::make_pair (40, 16) })
    {
        Denseconv D (1, 1, 16, 16, c.first, 0);
        EXPECT_EQ (D.param.nthr, c.second);
        int n = 0;
        for (Workthr *W : D.workers) n += (W != nullptr);
        EXPECT_EQ (n, c.second);
    }
}


TEST (Denseconv, StagedResponseTakesEffectBetweenPeriods)
{
    Denseconv D (1, 2, 64, 32, 2, 0);
    Fvec a { 1.0f }, b { 0.0f, -2.0f };
    D.setimp (0, 1, 1.0f, a.data (), 1, 1);
    EXPECT_EQ (D.stageimp (1, 0, 1.0f, b.data (), 2, 1), 1);
    ASSERT_EQ (D.stageimp (0, 1, 1.0f, b.data (), 2, 1), 0);
    EXPECT_TRUE (D.staged ());
    EXPECT_EQ (D.stageimp (0, 0, 1.0f, b.data (), 2, 1), 2);
    std::vector<Fvec> x { noise (2 * 32, 5) };
    std::vector<Fvec> y = run (D, x, 1);
    EXPECT_NEAR (y [1][10], x [0][10], 1e-6f);            // not taken yet
    EXPECT_TRUE (D.takeimp ());
    EXPECT_FALSE (D.staged ());
    EXPECT_FALSE (D.takeimp ());
    EXPECT_FALSE (D.unstage ());                           // already taken
    std::vector<Fvec> x2 { Fvec (x [0].begin () + 32, x [0].end ()) };
    y = run (D, x2, 1);
    for (int t = 1; t < 32; t++) ASSERT_NEAR (y [1][t], -2.0f * x2 [0][t - 1], 1e-5f);
    // A withdrawn request is never taken.
    ASSERT_EQ (D.stageimp (0, 1, 1.0f, nullptr, 0, 0), 0);
    EXPECT_TRUE (D.unstage ());
    EXPECT_FALSE (D.takeimp ());
    EXPECT_EQ (D.param.imp_fd [0 + 1 * 1].nact, 1);   // still b
}


TEST (Denseconv, CreateAndDestroyLoop)
{
    // Workers acknowledge their exit: no fixed sleep, no thread left behind.
    std::vector<Fvec> x (3, Fvec (64, 0.25f));
    for (int k = 0; k < 40; k++)
    {
        Denseconv D (3, 4, 200, 64, 1 + k % 5, 0);
        ASSERT_TRUE (D.ok ());
        if (k % 2) run (D, x, 1);
    }
}
