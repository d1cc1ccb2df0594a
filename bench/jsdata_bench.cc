// Cost of playing and recording one slot of the array player, in ns per
// sample, for contiguous and strided arrays, periods of 256 samples.
// Run by hand: build with -DVESK_BENCH=ON, then ./jsdata_bench.

#include <stdio.h>
#include <time.h>
#include <vector>
#include "signals/jsdata.h"


static double now (void)
{
    struct timespec t;
    clock_gettime (CLOCK_MONOTONIC, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}


int main (void)
{
    const int period = 256, size = 48000, periods = 100000;
    std::vector<float> mem (2 * size, 0.25f), buf (period, 0.5f);
    for (int step : { 1, 2 })
    for (int rec : { 0, 1 })
    {
        Jsdata s;
        s.set (mem.data (), step, size, nullptr, -1, 0);
        s.gain = 0.5f;
        double best = 1e30;
        for (int rep = 0; rep < 5; rep++)
        {
            double t0 = now ();
            for (int k = 0; k < periods; k++)
            {
                if (rec) s.input (buf.data (), period, 0);
                else     s.output (buf.data (), period, 0);
            }
            double t = (now () - t0) / ((double) period * periods) * 1e9;
            if (t < best) best = t;
        }
        printf ("%-6s step %d  %6.3f ns/sample (best of 5)  [%g]\n", rec ? "record" : "play", step, best, buf [7] + mem [7]);
    }
    return 0;
}
