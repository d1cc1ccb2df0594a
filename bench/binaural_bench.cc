// Cost of the binaural renderer per period, as a fraction of the period's
// duration at 48 kHz (CPU time on one core): Ambbin8 of degree 3 and 8 at periods of 64
// and 256, with 512-sample filters on every channel. Each case runs the
// whole renderer (a fixed rotation, near-field compensation on) and then
// its stages alone: the rotation with a ramp running, the near-field
// filters, the convolution.
//   cmake -S . -B build/bench -DVESK_BENCH=ON -DVESK_MODULES=OFF && cmake --build build/bench
//   build/bench/bench/binaural_bench

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <functional>
#include <vector>
#include <time.h>
#include "ambisonics/ambbin8.h"

namespace {

const int FSAMP = 48000;
const double SECONDS = 1.0;   // audio time per measurement
const int REPEAT = 5;          // measurements per case; the lowest counts

// CPU time of this thread, so that other processes on a shared machine
// (preemption) do not count; their effect on the caches still does.
double cputime (void)
{
    timespec t;
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

// Mean CPU time of one call of period (k) over SECONDS of audio in periods
// of fsize, as a fraction of the period's duration: the lowest of REPEAT
// such means.
double load (int fsize, const std::function<void (long)> &period)
{
    long n = (long) (SECONDS * FSAMP / fsize);
    double best = 1e30;
    for (long k = 0; k < 100; k++) period (k);
    for (int r = 0; r < REPEAT; r++)
    {
        double t0 = cputime ();
        for (long k = 0; k < n; k++) period (k);
        best = std::min (best, (cputime () - t0) / n);
    }
    return best * FSAMP / fsize;
}

void run (int degree, int fsize)
{
    const int nch = (degree + 1) * (degree + 1);
    Ambbin8 A (FSAMP, degree, 512, fsize);
    std::vector<float> h (512);
    for (int i = 0; i < nch; i++)
    {
        for (int j = 0; j < 512; j++) h [j] = expf (-0.01f * j) * sinf (0.1f * (i + 1) * j);
        A.binconv->setimp (i, 1.0f, h.data (), 512, 1);
    }
    A.rotator->set_rotation (0.7f, 1.0f, 2.0f, 3.0f, 0.0f);
    A.set_nfcomp (1.0f);
    std::vector<std::vector<float>> in (nch, std::vector<float> (fsize)), out (2, std::vector<float> (fsize));
    std::vector<float *> ip (nch), op = { out [0].data (), out [1].data () };
    for (int i = 0; i < nch; i++)
    {
        for (int n = 0; n < fsize; n++) in [i][n] = 0.3f * sinf (0.01f * n + i);
        ip [i] = in [i].data ();
    }
    double all = load (fsize, [&] (long) { A.process (fsize, ip.data (), op.data ()); });

    double rot = load (fsize, [&] (long k)
    {
        // A new 10 ms ramp every period keeps every matrix element moving.
        A.rotator->set_rotation (0.01f * (k % 100), 1.0f, 2.0f, 3.0f, 0.01f);
        A.rotator->process (fsize, ip.data (), A.bufs);
    });
    double nf = load (fsize, [&] (long)
    {
        for (int d = 1; d <= degree; d++) A.nffilt [d - 1]->process (fsize, A.bufs + d * d, A.bufs + d * d, 1.0f);
    });
    double conv = load (fsize, [&] (long) { A.binconv->process (ip.data (), op.data ()); });
    printf ("%6d %6d %9.2f %% %9.2f %% %9.2f %% %9.2f %%\n", degree, fsize, 100 * all, 100 * rot, 100 * nf, 100 * conv);
}

}

int main (void)
{
    printf ("Binaural renderer, 512-sample filters on every channel, %d Hz: time per period\n"
            "(CPU time of this thread) as a percentage of the period.\n\n", FSAMP);
    printf ("degree period   renderer   rotation    near-field  convolution\n"
            "                           (ramping)\n");
    for (int degree : { 3, 8 })
        for (int fsize : { 64, 256 }) run (degree, fsize);
    return 0;
}
