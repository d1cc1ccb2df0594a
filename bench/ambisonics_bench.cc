// Cost of a 16-input degree-8 panner (81 outputs) per period, as a fraction
// of the period's duration at 48 kHz, for periods of 64 and 256 frames: with
// fixed directions, and with every input ramping all the time. The same for
// a degree-8 rotator, fixed and ramping.
//   cmake -S . -B build/bench -G Ninja -DVESK_BENCH=ON -DVESK_MODULES=OFF && cmake --build build/bench
//   build/bench/bench/ambisonics_bench

#include <chrono>
#include <cstdio>
#include <vector>
#include "ambisonics/ambpan8.h"
#include "ambisonics/ambrot8.h"

static const int FSAMP = 48000;

template <class F> static double per_period (int fsize, F &&run_period)
{
    for (int k = 0; k < 200; k++) run_period (k);
    const int periods = (int) (20.0 * FSAMP / fsize);   // 20 s of audio
    auto t0 = std::chrono::steady_clock::now ();
    for (int k = 0; k < periods; k++) run_period (k);
    auto t1 = std::chrono::steady_clock::now ();
    return std::chrono::duration<double> (t1 - t0).count () / periods;
}

static double panner (int fsize, bool ramping)
{
    const int ninp = 16, nch = 81;
    std::vector<std::vector<float>> inp (ninp, std::vector<float> (fsize, 0.1f));
    std::vector<std::vector<float>> out (nch, std::vector<float> (fsize));
    float *op [nch];
    for (int c = 0; c < nch; c++) op [c] = out [c].data ();
    std::vector<Ambpan8 *> P;
    for (int i = 0; i < ninp; i++)
    {
        P.push_back (new Ambpan8 (FSAMP, 8, true));
        P [i]->set_direction (22.5f * i, 10.0f, 0.0f);
    }
    double t = per_period (fsize, [&] (int k) {
        // A new direction every period with a 20 ms ramp keeps every input ramping.
        if (ramping) for (int i = 0; i < ninp; i++) P [i]->set_direction (22.5f * i + k, 10.0f, 0.02f);
        for (int i = 0; i < ninp; i++) P [i]->process (fsize, inp [i].data (), op, i > 0);
    });
    for (Ambpan8 *p : P) delete p;
    return t;
}

static double rotator (int fsize, bool ramping)
{
    const int nch = 81;
    std::vector<std::vector<float>> inp (nch, std::vector<float> (fsize, 0.1f));
    std::vector<std::vector<float>> out (nch, std::vector<float> (fsize));
    float *ip [nch], *op [nch];
    for (int c = 0; c < nch; c++) { ip [c] = inp [c].data (); op [c] = out [c].data (); }
    Ambrot8 R (FSAMP, 8);
    R.set_rotation (0.5f, 1, 1, 0, 0);
    return per_period (fsize, [&] (int k) {
        if (ramping) R.set_rotation (0.5f + 0.001f * k, 1, 1, 0, 0.02f);
        R.process (fsize, ip, op);
    });
}

int main (void)
{
    printf ("%-34s %6s %12s %12s\n", "48 kHz", "period", "us/period", "of period");
    for (int fsize : { 64, 256 })
        for (bool ramping : { false, true })
        {
            const double d = fsize / (double) FSAMP;
            double t = panner (fsize, ramping);
            printf ("panner  16 in, degree 8, %-8s %6d %12.2f %11.2f %%\n", ramping ? "ramping" : "fixed",
                    fsize, 1e6 * t, 100 * t / d);
            t = rotator (fsize, ramping);
            printf ("rotator degree 8,        %-8s %6d %12.2f %11.2f %%\n", ramping ? "ramping" : "fixed",
                    fsize, 1e6 * t, 100 * t / d);
        }
    return 0;
}
