// Cost per channel-sample of the level meter, the weighting filters, the
// detectors and a whole noise meter channel, on periods of 256 samples of
// noise. Run by hand: build/bench/meters_bench [seconds per item]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>
#include "meters/kmeterdsp.h"
#include "meters/weighting.h"
#include "meters/detectors.h"
#include "meters/nmeterdsp.h"

namespace {

const int FS = 48000;
const int PERIOD = 256;
const int NCHAN = 16;   // channels run per period, as a multichannel meter would

// Runs fn (one period of every channel) for about `seconds`; returns ns per channel-sample.
double time_it (const std::function<void (int)> &fn, double seconds)
{
    using clock = std::chrono::steady_clock;
    long periods = 0;
    for (int i = 0; i < 200; i++) fn (i);   // warm up
    auto t0 = clock::now ();
    double el = 0;
    while (el < seconds)
    {
        for (int i = 0; i < 100; i++) fn (i);
        periods += 100;
        el = std::chrono::duration<double> (clock::now () - t0).count ();
    }
    return 1e9 * el / ((double) periods * PERIOD * NCHAN);
}

}


int main (int ac, char *av [])
{
    double secs = (ac > 1) ? atof (av [1]) : 1.0;
    std::mt19937 rng (1);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f);
    // A few periods of noise per channel, cycled through.
    const int NBUF = 8;
    std::vector<float> inp (NBUF * PERIOD * NCHAN), out (PERIOD);
    for (float &x : inp) x = u (rng);
    auto src = [&] (int i, int c) { return inp.data () + ((i % NBUF) * NCHAN + c) * PERIOD; };

    std::vector<Kmeterdsp> kmeters (NCHAN);
    for (auto &k : kmeters) k.init (FS, PERIOD, 0.5f, 15.0f);
    std::vector<Enb20kfilter> enb (NCHAN);
    std::vector<Iec_ACfilter> iec (NCHAN);
    std::vector<Itu468filter> itu (NCHAN);
    std::vector<RMSdetect> rms (NCHAN);
    std::vector<VUMdetect> vum (NCHAN);
    std::vector<Itu468detect> qpk (NCHAN);
    std::vector<Nmeterdsp> nm (NCHAN);
    for (int c = 0; c < NCHAN; c++)
    {
        enb [c].init (FS);
        iec [c].init (FS);
        itu [c].init (FS, false);
        rms [c].init (FS, false);
        vum [c].init (FS, false);
        qpk [c].init (FS);
        nm [c].init (FS);
        nm [c].set_filter (4, 1);
        nm [c].set_detect (5);
    }
    float r, p;

    struct Item { const char *name; std::function<void (int)> fn; };
    const Item items [] =
    {
        { "Kmeterdsp (level meter)",  [&] (int i) { for (int c = 0; c < NCHAN; c++) kmeters [c].process (src (i, c), PERIOD); kmeters [0].read (&r, &p); } },
        { "Enb20kfilter",             [&] (int i) { for (int c = 0; c < NCHAN; c++) enb [c].process (PERIOD, src (i, c), out.data ()); } },
        { "Iec_ACfilter, A only",     [&] (int i) { for (int c = 0; c < NCHAN; c++) iec [c].process (PERIOD, src (i, c), out.data (), nullptr); } },
        { "Iec_ACfilter, C only",     [&] (int i) { for (int c = 0; c < NCHAN; c++) iec [c].process (PERIOD, src (i, c), nullptr, out.data ()); } },
        { "Itu468filter",             [&] (int i) { for (int c = 0; c < NCHAN; c++) itu [c].process (PERIOD, src (i, c), out.data ()); } },
        { "RMSdetect",                [&] (int i) { for (int c = 0; c < NCHAN; c++) rms [c].process (PERIOD, src (i, c)); } },
        { "VUMdetect",                [&] (int i) { for (int c = 0; c < NCHAN; c++) vum [c].process (PERIOD, src (i, c)); } },
        { "Itu468detect",             [&] (int i) { for (int c = 0; c < NCHAN; c++) qpk [c].process (PERIOD, src (i, c)); } },
        { "Nmeterdsp, DC + 468 + 468 detector", [&] (int i) { for (int c = 0; c < NCHAN; c++) nm [c].process (src (i, c), out.data (), PERIOD); } },
    };
    printf ("%d channels, periods of %d at %d Hz\n", NCHAN, PERIOD, FS);
    for (const Item &it : items)
    {
        double ns = time_it (it.fn, secs);
        printf ("%-36s %6.2f ns per channel-sample (%5.1f channels at 48 kHz use 1 %% of a core)\n",
                it.name, ns, 0.01e9 / (ns * FS));
    }
    // Keep the results observable.
    volatile float sink = out [0] + rms [0].reading () + vum [0].reading () + qpk [0].reading () + r + p;
    (void) sink;
    return 0;
}
