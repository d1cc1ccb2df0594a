// Cost per meter and sample of the level meter and of whole noise meter
// channels (DC removal, weighting filter, detector), 16 and 64 meters on
// periods of 256 samples of noise at 48 kHz, at every vector level this
// processor has: "scalar" is the plain code, meter by meter, as before the
// lanes; the others run the meters side by side. Thread CPU time, best of 3.
// Run by hand: build/bench/bench/meters_bench [seconds per item]

#include <time.h>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <vector>
#include "filters/simdlevel.h"
#include "meters/kmeterdsp.h"
#include "meters/nmeterdsp.h"

namespace {

const int FS = 48000;
const int PERIOD = 256;

double now (void)
{
    timespec t;
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

// Runs fn (one period of every meter) for about `seconds`, best of 3;
// returns ns per meter-sample.
double time_it (int nmeter, const std::function<void (int)> &fn, double seconds)
{
    for (int i = 0; i < 200; i++) fn (i);   // warm up
    double best = 1e30;
    for (int r = 0; r < 3; r++)
    {
        long periods = 0;
        double t0 = now (), el = 0;
        while (el < seconds / 3)
        {
            for (int i = 0; i < 100; i++) fn (i);
            periods += 100;
            el = now () - t0;
        }
        best = std::min (best, 1e9 * el / ((double) periods * PERIOD * nmeter));
    }
    return best;
}

}


int main (int ac, char *av [])
{
    double secs = (ac > 1) ? atof (av [1]) : 1.5;
    std::mt19937 rng (1);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f);
    const int NBUF = 8, MAXM = 64;
    // A few periods of noise per meter, cycled through.
    std::vector<float> inp (NBUF * PERIOD * MAXM), out (PERIOD * MAXM);
    for (float &x : inp) x = u (rng);

    struct Chain { const char *name; int filter, dc, detect; };
    const Chain chains [] =
    {
        { "noise meter, DC + ITU-R 468 + 468 quasi-peak", Nmeterdsp::FILT_ITU468, 1, Nmeterdsp::DET_ITU468 },
        { "noise meter, A weighting + RMS", Nmeterdsp::FILT_IEC_A, 0, Nmeterdsp::DET_RMS },
    };
    printf ("periods of %d at %d Hz; ns per meter-sample\n", PERIOD, FS);
    printf ("%-46s %6s %8s %8s %16s\n", "", "meters", "level", "ns", "scalar / level");
    for (int nm : { 16, 64 })
    {
        auto src = [&] (int i, int c) { return inp.data () + ((i % NBUF) * MAXM + c) * PERIOD; };
        double base = 0;
        for (int level = SIMD_SCALAR; level <= simd_supported (); level++)
        {
            std::vector<Kmeterdsp> K (nm);
            std::vector<Kmeterdsp *> P (nm);
            for (int c = 0; c < nm; c++)
            {
                K [c].init (FS, PERIOD, 0.5f, 15.0f);
                P [c] = &K [c];
            }
            const float *ip [MAXM];
            double ns = time_it (nm, [&] (int i)
            {
                for (int c = 0; c < nm; c++) ip [c] = src (i, c);
                Kmeterdsp::process_multi (level, P.data (), ip, nm, PERIOD);
            }, secs);
            if (level == SIMD_SCALAR) base = ns;
            printf ("%-46s %6d %8s %8.3f %15.1fx\n", "level meter", nm, simd_name (level), ns, base / ns);
        }
        for (const Chain &ch : chains)
        {
            for (int level = SIMD_SCALAR; level <= simd_supported (); level++)
            {
                std::unique_ptr<Nmeterdsp []> M (new Nmeterdsp [nm]);
                std::vector<Nmeterdsp *> P (nm);
                for (int c = 0; c < nm; c++)
                {
                    M [c].init (FS);
                    M [c].set_filter (ch.filter, ch.dc);
                    M [c].set_detect (ch.detect);
                    P [c] = &M [c];
                }
                const float *ip [MAXM];
                float *op [MAXM];
                double ns = time_it (nm, [&] (int i)
                {
                    for (int c = 0; c < nm; c++)
                    {
                        ip [c] = src (i, c);
                        op [c] = out.data () + c * PERIOD;
                    }
                    Nmeterdsp::process_multi (level, P.data (), ip, op, nm, PERIOD);
                }, secs);
                if (level == SIMD_SCALAR) base = ns;
                printf ("%-46s %6d %8s %8.3f %15.1fx\n", ch.name, nm, simd_name (level), ns, base / ns);
            }
        }
    }
    return 0;
}
