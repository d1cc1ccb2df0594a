// Gain and delay matrix benchmark, run by hand: cost per route-sample of a
// 64 x 64 matrix at 48 kHz in periods of 256, with every route on and
//   constant gains, no delay lines;
//   gains changed every period (every route ramps);
//   constant delays of 0 to 20 ms through the delay lines;
//   delays changed every period (every route crossfades);
// and, for reference, with every route off.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>
#include "dynamics/gdmatrix.h"

typedef std::chrono::steady_clock Clock;

enum Mode { CONST, RAMPS, DELAYS, XFADES, OFF };


static double run (Mode mode, int nio, int periods)
{
    const int fs = 48000, n = 256;
    Gdmatrix M;
    M.init (nio, nio, fs, n, (mode == DELAYS || mode == XFADES) ? 0.05f : 0.0f);
    std::vector<std::vector<float>> x (nio, std::vector<float> (n)), y (nio, std::vector<float> (n));
    for (int i = 0; i < nio; i++) for (int j = 0; j < n; j++) x [i][j] = std::sin (0.01f * (i + 1) * j);
    float *ip [Gdmatrix::MAXCHAN], *op [Gdmatrix::MAXCHAN];
    for (int i = 0; i < nio; i++) { ip [i] = x [i].data (); op [i] = y [i].data (); }
    for (int i = 0; i < nio; i++)
        for (int o = 0; o < nio; o++)
        {
            M.set_gain (i, o, (mode == OFF) ? 0.0f : 0.01f * (1 + (i * 7 + o) % 13));
            if (mode == DELAYS) M.set_delay (i, o, 0.0003f * ((i * 5 + o * 3) % 67));
        }
    M.process (n, ip, op);    // first ramps and crossfades
    M.process (n, ip, op);
    auto t0 = Clock::now ();
    for (int p = 0; p < periods; p++)
    {
        if (mode == RAMPS)
            for (int i = 0; i < nio; i++) for (int o = 0; o < nio; o++) M.set_gain (i, o, (p & 1) ? 0.5f : 0.25f);
        if (mode == XFADES)
            for (int i = 0; i < nio; i++) for (int o = 0; o < nio; o++) M.set_delay (i, o, (p & 1) ? 0.001f : 0.002f);
        M.process (n, ip, op);
    }
    const double t = std::chrono::duration<double> (Clock::now () - t0).count ();
    return 1e9 * t / ((double) periods * n * nio * nio);
}


int main (void)
{
    const char *names [] = { "constant gains", "gain ramps every period", "constant delays",
                             "delay crossfades every period", "all routes off" };
    std::printf ("Gdmatrix 64 x 64, 48 kHz, periods of 256 (best of 5 runs of 2 s of audio):\n");
    for (int m = CONST; m <= OFF; m++)
    {
        double best = 1e9;
        for (int rep = 0; rep < 5; rep++) best = std::min (best, run ((Mode) m, 64, 375));
        std::printf ("  %-32s %7.3f ns per route-sample  (%5.1f %% of one core in real time)\n",
                     names [m], best, 100.0 * best * 1e-9 * 64 * 64 * 48000);
    }
    return 0;
}
