// Channels side by side in vector lanes against the plain code, channel by
// channel: every level this processor has, channel counts that fill whole
// vectors and counts that do not, blocks that do not divide the signal, and
// settings that differ from channel to channel. The lanes do the plain
// code's arithmetic in the same order, so the outputs must be identical;
// only the equaliser fuses its multiply-adds, and stays within 1e-6 of each
// channel's peak.

#include <gtest/gtest.h>
#include <xmmintrin.h>
#include <stdlib.h>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>
#include "filters/simdlevel.h"
#include "filters/lr4filter.h"
#include "filters/bw8filter.h"
#include "filters/bp6filter.h"
#include "filters/svparam2.h"
#include "filters/eqgain.h"
#include "filters/stepgrid.h"
#include "meters/kmeterdsp.h"
#include "meters/nmeterdsp.h"
#include "dynamics/peaklim.h"

namespace {

const int COUNTS [] = { 1, 3, 16, 17, 64, 100 };
const int LEN = 3000;

typedef std::vector<std::vector<float>> Chans;

// Noise with bursts, different on every channel.
Chans noise (int nch, int len)
{
    std::mt19937 rng (nch);
    std::normal_distribution<float> g (0.0f, 0.3f);
    Chans x (nch, std::vector<float> (len));
    for (int c = 0; c < nch; c++)
        for (int n = 0; n < len; n++) x [c][n] = g (rng) * (((n / 500) & 1) ? 3.0f : 0.1f);
    return x;
}

// Runs period (n, inp, out) over x in blocks of the given size (cycling
// through 1, 21, 256 and 1000 when block is 0), out of place.
Chans run_blocks (const Chans &x, int block, const std::function<void (int, float **, float **)> &period)
{
    const int nch = (int) x.size ();
    const int sizes [] = { 1, 21, 256, 1000 };
    Chans y (nch, std::vector<float> (LEN));
    std::vector<float *> ip (nch), op (nch);
    for (int k = 0, b = 0; k < LEN; b++)
    {
        int m = block ? block : sizes [b % 4];
        if (m > LEN - k) m = LEN - k;
        for (int c = 0; c < nch; c++)
        {
            ip [c] = const_cast<float *> (x [c].data ()) + k;
            op [c] = y [c].data () + k;
        }
        period (m, ip.data (), op.data ());
        k += m;
    }
    return y;
}

// The wider levels this processor can run.
std::vector<int> wide_levels (void)
{
    std::vector<int> v;
    for (int l = SIMD_AVX2; l <= simd_supported (); l++) v.push_back (l);
    return v;
}

void expect_same (const Chans &a, const Chans &b, const char *what, int level, int nch)
{
    for (size_t c = 0; c < a.size (); c++)
    {
        for (int n = 0; n < LEN; n++)
        {
            if (a [c][n] != b [c][n])
            {
                ADD_FAILURE () << what << " " << simd_name (level) << ", " << nch << " channels: channel "
                               << c << " sample " << n << ": " << b [c][n] << " against " << a [c][n];
                return;
            }
        }
    }
}

void expect_close (const Chans &a, const Chans &b, const char *what, int level, int nch)
{
    for (size_t c = 0; c < a.size (); c++)
    {
        float peak = 0;
        for (float v : a [c]) peak = std::max (peak, std::fabs (v));
        for (int n = 0; n < LEN; n++)
        {
            if (!(std::fabs (a [c][n] - b [c][n]) <= 1e-6f * peak))
            {
                ADD_FAILURE () << what << " " << simd_name (level) << ", " << nch << " channels: channel "
                               << c << " sample " << n << ": " << b [c][n] << " against " << a [c][n]
                               << " (peak " << peak << ")";
                return;
            }
        }
    }
}


TEST (Lanes, DispatchFollowsTheEnvironment)
{
    const int sup = simd_supported ();
    struct { const char *value; int expect; } cases [] =
    {
        { "scalar", SIMD_SCALAR },
        { "avx2", std::min (sup, (int) SIMD_AVX2) },
        { "avx512", sup },            // never wider than the processor
        { "nonsense", sup },
    };
    for (auto &c : cases)
    {
        setenv ("VESK_SIMD", c.value, 1);
        EXPECT_EQ (simd_level (), c.expect) << c.value;
    }
    unsetenv ("VESK_SIMD");
    EXPECT_EQ (simd_level (), sup);
}


TEST (Lanes, CrossoverFilters)
{
    for (int nch : COUNTS)
    {
        Chans x = noise (nch, LEN);
        for (int mode = 1; mode <= 3; mode++)
        {
            auto run = [&] (int level)
            {
                std::vector<Lr4filter> hp (nch), lp (nch);
                std::vector<Lr4filter *> H (nch), L (nch);
                for (int c = 0; c < nch; c++)
                {
                    hp [c].setpars (0.0005f * (c + 1), -6.0f + 0.03f * c);
                    lp [c].setpars (0.49f / (c + 1), -3.0f - 0.03f * c);
                    H [c] = &hp [c];
                    L [c] = &lp [c];
                }
                return run_blocks (x, 0, [&] (int n, float **ip, float **op)
                {
                    Lr4filter::process_multi (level, mode, n, nch, H.data (), L.data (), ip, op);
                });
            };
            Chans ref = run (SIMD_SCALAR);
            for (int level : wide_levels ()) expect_same (ref, run (level), "Lr4filter", level, nch);
        }
    }
}


TEST (Lanes, ButterworthFilters)
{
    for (int nch : COUNTS)
    {
        Chans x = noise (nch, LEN);
        for (int mode = 1; mode <= 3; mode++)
        {
            auto run = [&] (int level)
            {
                std::vector<Bw8filter> hp (nch), lp (nch);
                std::vector<Bw8filter *> H (nch), L (nch);
                for (int c = 0; c < nch; c++)
                {
                    hp [c].init (0.0005f * (c + 1));
                    lp [c].init (0.49f / (c + 1));
                    H [c] = &hp [c];
                    L [c] = &lp [c];
                }
                return run_blocks (x, 0, [&] (int n, float **ip, float **op)
                {
                    Bw8filter::process_multi (level, mode, n, nch, H.data (), L.data (), ip, op);
                });
            };
            Chans ref = run (SIMD_SCALAR);
            for (int level : wide_levels ()) expect_same (ref, run (level), "Bw8filter", level, nch);
        }
    }
}


TEST (Lanes, BandFilters)
{
    // Every third-octave band at 48 kHz and every octave band at 44.1 kHz
    // (all three forms), one per channel, and some channels off.
    std::vector<const Bp6param *> recs;
    for (int k = 0; k < Oct3filt48.nband; k++) recs.push_back (Oct3filt48.param + k);
    for (int k = 0; k < Oct1filt44.nband; k++) recs.push_back (Oct1filt44.param + k);
    recs.push_back (nullptr);
    for (int nch : COUNTS)
    {
        Chans x = noise (nch, LEN);
        auto run = [&] (int level)
        {
            std::vector<Bp6filter> F (nch);
            std::vector<Bp6filter *> P (nch);
            for (int c = 0; c < nch; c++)
            {
                F [c].setparam (recs [(c * 7) % recs.size ()]);
                P [c] = &F [c];
            }
            return run_blocks (x, 0, [&] (int n, float **ip, float **op)
            {
                Bp6filter::process_multi (level, n, nch, P.data (), ip, op);
            });
        };
        Chans ref = run (SIMD_SCALAR);
        for (int level : wide_levels ()) expect_same (ref, run (level), "Bp6filter", level, nch);
    }
}


TEST (Lanes, EqualiserWhileRamping)
{
    // All section types, some inactive; new settings and make-up gains now
    // and then keep sections and the gain interpolating across periods.
    const char types [8] = { 0, 2, 3, 4, 1, 2, 3, 4 };
    for (int nch : COUNTS)
    {
        Chans x = noise (nch, LEN);
        auto run = [&] (int level)
        {
            Eqgain G;
            std::vector<std::unique_ptr<Svparam2>> S;
            Svparam2 *P [8];
            for (int i = 0; i < 8; i++)
            {
                S.emplace_back (new Svparam2 (types [i]));
                P [i] = S [i].get ();
            }
            int left = 0, steps = 0;
            return run_blocks (x, 0, [&] (int nframes, float **ip, float **op)
            {
                step_grid (nframes, 100, left, [&] (bool begin, int off, int n)
                {
                    if (begin)
                    {
                        if (steps % 7 == 0)
                        {
                            const int r = steps / 7;
                            G.bypass = false;
                            G.gain = (r & 1) ? 0.3f : 3.0f;
                            G.req_count++;
                            for (int i = 0; i < 8; i++)
                            {
                                S [i]->bypass = (i == 5);
                                S [i]->setpars (0.0003f * (i + 1) * (r + 3), (r + i) & 1 ? 8.0f : 0.15f,
                                                (i < 1 || i == 4) ? 0.5f : 2.0f);
                            }
                        }
                        steps++;
                        G.prepare (100);
                        for (auto &s : S) s->prepare (100);
                    }
                    float *a [100], *b [100];
                    for (int c = 0; c < nch; c++)
                    {
                        a [c] = ip [c] + off;
                        b [c] = op [c] + off;
                    }
                    Svparam2::process_multi (level, G, P, 8, n, nch, a, b);
                });
            });
        };
        Chans ref = run (SIMD_SCALAR);
        for (int level : wide_levels ()) expect_close (ref, run (level), "equaliser", level, nch);
    }
}


TEST (Lanes, EqualiserFlushesDenormalsAndRestoresTheCallersMode)
{
    // States left in the denormal range (a signal that has died away) come
    // out as zeros, and the caller's floating-point mode is as it was.
    const unsigned csr = _mm_getcsr ();
    for (int level : wide_levels ())
    {
        Eqgain G;
        Svparam2 S (Svparam2::PEAK_FIXED);
        S.bypass = false;
        S.setpars (0.2f, 4.0f, 1.0f);
        S.prepare (0);
        Svparam2 *P [1] = { &S };
        const int nch = 17;
        for (int c = 0; c < nch; c++) S.z1 [c] = S.z2 [c] = 1e-310;
        std::vector<float> x (nch, 0.0f), y (nch, 1.0f);
        std::vector<float *> ip (nch), op (nch);
        for (int c = 0; c < nch; c++)
        {
            ip [c] = &x [c];
            op [c] = &y [c];
        }
        Svparam2::process_multi (level, G, P, 1, 1, nch, ip.data (), op.data ());
        EXPECT_EQ (csr, _mm_getcsr ()) << simd_name (level);
        for (int c = 0; c < nch; c++)
        {
            EXPECT_EQ (0.0, S.z1 [c]) << simd_name (level) << " channel " << c;
            EXPECT_EQ (0.0, S.z2 [c]) << simd_name (level) << " channel " << c;
            EXPECT_EQ (0.0f, y [c]) << simd_name (level) << " channel " << c;
        }
    }
}



TEST (Lanes, LevelMeters)
{
    for (int nch : COUNTS)
    {
        Chans x = noise (nch, LEN);
        // Readings after every period, and one input missing (silence).
        auto run = [&] (int level)
        {
            std::vector<Kmeterdsp> K (nch);
            std::vector<Kmeterdsp *> P (nch);
            for (int c = 0; c < nch; c++)
            {
                K [c].init (48000 + 1000 * c, 256, 0.05f * c, 10.0f + c);
                P [c] = &K [c];
            }
            Chans r (nch);
            run_blocks (x, 0, [&] (int n, float **ip, float **)
            {
                if (nch > 2) ip [2] = nullptr;
                Kmeterdsp::process_multi (level, P.data (), ip, nch, n);
                for (int c = 0; c < nch; c++)
                {
                    float a, b;
                    K [c].read (&a, &b);
                    r [c].push_back (a);
                    r [c].push_back (b);
                    r [c].push_back (K [c].ms1);
                    r [c].push_back (K [c].dc);
                }
            });
            return r;
        };
        Chans ref = run (SIMD_SCALAR);
        for (int level : wide_levels ())
        {
            Chans r = run (level);
            EXPECT_EQ (ref, r) << "Kmeterdsp " << simd_name (level) << ", " << nch << " channels";
        }
    }
}


TEST (Lanes, NoiseMeters)
{
    // Every filter (none, 1 .. 5, and an unknown code) with and without DC
    // removal, with every detector, across the channels; settings change
    // half way. The outputs and the readings after every period must agree.
    for (int nch : COUNTS)
    {
        Chans x = noise (nch, LEN);
        auto run = [&] (int level)
        {
            std::vector<Nmeterdsp> M (nch);
            std::vector<Nmeterdsp *> P (nch);
            for (int c = 0; c < nch; c++)
            {
                M [c].init (c & 4 ? 44100 : 96000);
                M [c].set_filter (c % 7, c & 1);
                M [c].set_detect ((c / 7 + c) % 6);
                P [c] = &M [c];
            }
            Chans lev (nch);
            int k = 0;
            Chans y = run_blocks (x, 0, [&] (int n, float **ip, float **op)
            {
                if (k++ == 5)
                    for (int c = 0; c < nch; c++)
                    {
                        M [c].set_filter ((c + 3) % 7, c & 2);
                        M [c].set_detect ((c + 2) % 6);
                    }
                Nmeterdsp::process_multi (level, P.data (), ip, op, nch, n);
                for (int c = 0; c < nch; c++) lev [c].push_back (M [c].get_level ());
            });
            for (int c = 0; c < nch; c++) y [c].insert (y [c].end (), lev [c].begin (), lev [c].end ());
            return y;
        };
        Chans ref = run (SIMD_SCALAR);
        for (int level : wide_levels ())
        {
            Chans r = run (level);
            EXPECT_EQ (ref, r) << "Nmeterdsp " << simd_name (level) << ", " << nch << " channels";
        }
    }
}



TEST (Lanes, PeakLimiter)
{
    // Limiting hard (+12 dB into -6 dB) with the input gain ramping; the
    // wider levels fuse the recursions' multiply-adds, so they agree to
    // within 1e-6 of the peak.
    for (int nch : COUNTS)
    {
        Chans x = noise (nch, LEN);
        auto run = [&] (int level)
        {
            Peaklim P;
            P.init (48000, nch);
            P.simd = level;
            P.set_inpgain (12.0f);
            P.set_threshold (-6.0f);
            P.set_release (0.02f);
            int k = 0;
            return run_blocks (x, 0, [&] (int n, float **ip, float **op)
            {
                if (k++ == 4) P.set_inpgain (3.0f);
                P.process (n, ip, op);
            });
        };
        Chans ref = run (SIMD_SCALAR);
        for (int level : wide_levels ()) expect_close (ref, run (level), "Peaklim", level, nch);
    }
}

}
