// Cost of the gain control's processing in ns per channel-sample, at 2 and
// 100 channels, with constant gain and with every step ramping.
//   cmake -S . -B build/bench -DVESK_BENCH=ON -DVESK_MODULES=OFF && cmake --build build/bench
//   build/bench/bench/gain_bench

#include <chrono>
#include <cstdio>
#include <vector>
#include "dynamics/fader2.h"

static double run (int nchan, bool ramping)
{
    const int fsize = 256, fsamp = 48000;
    std::vector<std::vector<float>> inp (nchan, std::vector<float> (fsize, 0.3f));
    std::vector<std::vector<float>> out (nchan, std::vector<float> (fsize));
    std::vector<float *> ip (nchan), op (nchan);
    for (int i = 0; i < nchan; i++) { ip [i] = inp [i].data (); op [i] = out [i].data (); }
    Fader2 F (nchan, fsamp);
    F.setgain (-1, -3.0f);
    for (int k = 0; k < 100; k++) F.process (fsize, ip.data (), op.data ());
    const long total = 200000000L;                  // channel-samples per measurement
    const int periods = (int) (total / ((long) nchan * fsize));
    auto t0 = std::chrono::steady_clock::now ();
    for (int k = 0; k < periods; k++)
    {
        // A new target for every 480-sample step keeps every step ramping.
        if (ramping) F.setgain (-1, ((long) k * fsize / 480) & 1 ? -3.0f : -4.0f);
        F.process (fsize, ip.data (), op.data ());
    }
    auto t1 = std::chrono::steady_clock::now ();
    volatile float sink = out [0][0];
    (void) sink;
    return std::chrono::duration<double, std::nano> (t1 - t0).count () / ((double) periods * nchan * fsize);
}

int main (void)
{
    for (int nchan : { 2, 100 })
        for (bool ramping : { false, true })
            printf ("gain control  %3d channels  %-8s  %.3f ns per channel-sample\n",
                    nchan, ramping ? "ramping" : "constant", run (nchan, ramping));
    return 0;
}
