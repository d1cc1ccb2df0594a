// Cost of noise generation in ns per sample, white and pink, over periods of
// 256 samples. Run by hand: build with -DVESK_BENCH=ON, then ./noisegen_bench.

#include <stdio.h>
#include <time.h>
#include <vector>
#include "signals/noisegen.h"


static double now (void)
{
    struct timespec t;
    clock_gettime (CLOCK_MONOTONIC, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}


int main (void)
{
    const int period = 256, periods = 200000;
    std::vector<float> out (period);
    struct { const char *name; int type; } cases [] = { { "white", Noisegen::WHITE }, { "pink", Noisegen::PINK }, { "silence", 0 } };
    for (auto &c : cases)
    {
        Noisegen g;
        g.setparam (c.type, 0.0f);
        for (int k = 0; k < 1000; k++) g.process (period, out.data ());
        double best = 1e30;
        for (int rep = 0; rep < 5; rep++)
        {
            double t0 = now ();
            for (int k = 0; k < periods; k++) g.process (period, out.data ());
            double t = (now () - t0) / ((double) period * periods) * 1e9;
            if (t < best) best = t;
        }
        printf ("%-8s %6.2f ns/sample (best of 5, %d periods of %d)  [%g]\n", c.name, best, periods, period, out [period - 1]);
    }
    return 0;
}
