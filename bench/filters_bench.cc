// Cost of the multichannel filters per channel, second-order section and
// sample, at every vector level this processor has (scalar, avx2, avx512),
// for 1, 16 and 64 channels in periods of 256 samples, the way the clients
// call them (process_multi, out of place); and the latency bound of one
// section's recursion: one loop-carried chain of a multiply and four adds,
// the path every section here has from its state back to its state.
// bench/filters_sosfilt.py runs this and scipy.signal.sosfilt in one run and
// prints the ratios.
//   cmake -S . -B build/bench -DVESK_BENCH=ON -DVESK_MODULES=OFF && cmake --build build/bench
//   build/bench/bench/filters_bench            (a table)
//   build/bench/bench/filters_bench raw        (one line per figure)

#include <time.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>
#include "filters/simdlevel.h"
#include "filters/eqgain.h"
#include "filters/svparam2.h"
#include "filters/stepgrid.h"
#include "filters/lr4filter.h"
#include "filters/bw8filter.h"
#include "filters/bp6filter.h"

namespace {

// Time this thread ran: on a machine shared with other work, time spent
// waiting for a core is not counted.
double now_ns (void)
{
    timespec t;
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e9 * t.tv_sec + t.tv_nsec;
}
const int FSIZE = 256;
const long TOTAL = 20000000L;    // channel-samples per measurement

struct Buffers
{
    Buffers (int nchan) : x (nchan, std::vector<float> (FSIZE)), y (nchan, std::vector<float> (FSIZE)), ip (nchan), op (nchan)
    {
        for (int i = 0; i < nchan; i++)
        {
            for (int n = 0; n < FSIZE; n++) x [i][n] = 0.3f * sinf (0.01f * n + i);
            ip [i] = x [i].data ();
            op [i] = y [i].data ();
        }
    }
    std::vector<std::vector<float>> x, y;
    std::vector<float *> ip, op;
};

// Runs period () over nchan channels, best of 3; returns ns per channel-sample.
double timeit (int nchan, const std::function<void (void)> &period)
{
    for (long k = 0; k < 50; k++) period ();
    long periods = TOTAL / ((long) nchan * FSIZE);
    double best = 1e30;
    for (int r = 0; r < 3; r++)
    {
        double t0 = now_ns ();
        for (long k = 0; k < periods; k++) period ();
        double t = now_ns () - t0;
        if (t < best) best = t;
    }
    return best / ((double) periods * nchan * FSIZE);
}

double equaliser (int level, int nchan, bool ramping)
{
    const int step = 480;
    Eqgain G;
    G.bypass = false;
    G.gain = 0.9f;
    G.req_count++;
    std::vector<std::unique_ptr<Svparam2>> S;
    Svparam2 *P [8];
    const char types [8] = { 0, 2, 3, 4, 2, 3, 4, 1 };
    for (int i = 0; i < 8; i++)
    {
        S.emplace_back (new Svparam2 (types [i]));
        S [i]->bypass = false;
        S [i]->setpars (0.002f * (i + 1) * (i + 1), 2.0f, (i == 0 || i == 7) ? 0.5f : 1.0f);
        P [i] = S [i].get ();
    }
    Buffers B (nchan);
    int left = 0;
    long steps = 0;
    return timeit (nchan, [&] ()
    {
        step_grid (FSIZE, step, left, [&] (bool begin, int off, int n)
        {
            float *ip [100], *op [100];
            if (begin)
            {
                // A new gain target every step keeps every section interpolating.
                if (ramping) for (auto &s : S) s->setpars (s->freq, (steps & 1) ? 2.0f : 1.6f, s->shape);
                steps++;
                G.prepare (step);
                for (auto &s : S) s->prepare (step);
            }
            for (int i = 0; i < nchan; i++)
            {
                ip [i] = B.ip [i] + off;
                op [i] = B.op [i] + off;
            }
            Svparam2::process_multi (level, G, P, 8, n, nchan, ip, op);
        });
    });
}

double crossover (int level, int nchan, int mode)
{
    std::vector<Lr4filter> hp (nchan), lp (nchan);
    std::vector<Lr4filter *> H (nchan), L (nchan);
    for (int i = 0; i < nchan; i++)
    {
        hp [i].setpars (0.01f, -6);
        lp [i].setpars (0.05f, -6);
        H [i] = &hp [i];
        L [i] = &lp [i];
    }
    Buffers B (nchan);
    return timeit (nchan, [&] ()
    {
        Lr4filter::process_multi (level, mode, FSIZE, nchan, H.data (), L.data (), B.ip.data (), B.op.data ());
    });
}

double butterworth (int level, int nchan, int mode)
{
    std::vector<Bw8filter> hp (nchan), lp (nchan);
    std::vector<Bw8filter *> H (nchan), L (nchan);
    for (int i = 0; i < nchan; i++)
    {
        hp [i].init (0.01f);
        lp [i].init (0.05f);
        H [i] = &hp [i];
        L [i] = &lp [i];
    }
    Buffers B (nchan);
    return timeit (nchan, [&] ()
    {
        Bw8filter::process_multi (level, mode, FSIZE, nchan, H.data (), L.data (), B.ip.data (), B.op.data ());
    });
}

double bandfilter (int level, int nchan)
{
    std::vector<Bp6filter> F (nchan);
    std::vector<Bp6filter *> P (nchan);
    for (int i = 0; i < nchan; i++)
    {
        F [i].setparam (&Oct1filt48.param [5]);
        P [i] = &F [i];
    }
    Buffers B (nchan);
    return timeit (nchan, [&] ()
    {
        Bp6filter::process_multi (level, FSIZE, nchan, P.data (), B.ip.data (), B.op.data ());
    });
}

// One section's loop-carried path: s -> x - s -> - t -> a * -> + e -> s +,
// a multiply and four adds, as in every filter here. ns per iteration.
template <class T>
double chain (void)
{
    volatile T vx = 0.3, vt = 0.01, va = 0.1, ve = 1e-20;
    const T x = vx, t = vt, a = va, e = ve;
    const long N = 50000000L;
    double best = 1e30;
    T s = 0;
    for (int r = 0; r < 3; r++)
    {
        double t0 = now_ns ();
        for (long n = 0; n < N; n++) s = s + (a * ((x - s) - t) + e);
        double d = (now_ns () - t0) / N;
        if (d < best) best = d;
    }
    volatile T sink = s;
    (void) sink;
    return best;
}

}


int main (int ac, char *av [])
{
    // Arguments: "raw" for one line per figure, any other word selects the
    // items whose names contain it.
    bool raw = false;
    const char *only = nullptr;
    for (int i = 1; i < ac; i++)
    {
        if (!strcmp (av [i], "raw")) raw = true;
        else only = av [i];
    }
    struct Item { const char *name; int sections; std::function<double (int, int)> run; };
    const Item items [] =
    {
        { "equaliser, 8 sections, steady", 8, [] (int l, int c) { return equaliser (l, c, false); } },
        { "equaliser, 8 sections, ramping", 8, [] (int l, int c) { return equaliser (l, c, true); } },
        { "crossover output, hp + lp", 4, [] (int l, int c) { return crossover (l, c, 3); } },
        { "crossover output, hp", 2, [] (int l, int c) { return crossover (l, c, 1); } },
        { "butterworth band-pass", 8, [] (int l, int c) { return butterworth (l, c, 3); } },
        { "butterworth high-pass", 4, [] (int l, int c) { return butterworth (l, c, 1); } },
        { "octave band filter", 3, [] (int l, int c) { return bandfilter (l, c); } },
    };
    const double bf = chain<float> (), bd = chain<double> ();
    if (raw)
    {
        printf ("bound\tfloat\t%.4f\nbound\tdouble\t%.4f\n", bf, bd);
    }
    else
    {
        printf ("latency bound of one section's recursion: float %.2f ns, double %.2f ns per sample\n\n", bf, bd);
        printf ("%-34s %4s %8s %10s %16s\n", "", "ch", "level", "ns/ch-smp", "ns/ch-sect-smp");
    }
    for (int nchan : { 1, 16, 64 })
    {
        for (const Item &it : items)
        {
            if (only && !strstr (it.name, only)) continue;
            for (int level = SIMD_SCALAR; level <= simd_supported (); level++)
            {
                double ns = it.run (level, nchan);
                if (raw) printf ("%s\t%d\t%d\t%s\t%.4f\n", it.name, it.sections, nchan, simd_name (level), ns / it.sections);
                else printf ("%-34s %4d %8s %10.2f %16.3f\n", it.name, nchan, simd_name (level), ns, ns / it.sections);
                fflush (stdout);
            }
        }
    }
    return 0;
}
