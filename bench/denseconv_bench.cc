// Matrix convolution benchmark, run by hand (bench/matconv_compare.py runs
// it beside BruteFIR):
//
//   denseconv_bench [NINP NOUT LEN PSIZE NTHR SECONDS [RAWIN RAWOUT]]
//
// Convolves SECONDS of noise at 48 kHz through an NINP x NOUT matrix of
// LEN-frame responses in periods of PSIZE on NTHR workers, as fast as it
// can, and prints the speed against real time, the spectrum traffic that
// implies (8 M^2 LEN fs / PSIZE bytes per second of audio for a square
// matrix of size M), and the machine's read bandwidth from memory with
// one thread per processor, measured in the same run. With RAWIN and
// RAWOUT it reads the responses (float32, NINP x NOUT x LEN, input-major)
// from RAWIN and writes the outputs of a 1 s ramp-and-noise input to
// RAWOUT (interleaved float32) for comparison.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>
#include "convolution/denseconv.h"

typedef std::chrono::steady_clock Clock;


// Read bandwidth: every thread sums its own 256 MB block, several passes;
// the best pass counts.
static double read_bandwidth (int nthr)
{
    const size_t n = (256u << 20) / sizeof (float);
    std::vector<std::vector<float>> blocks (nthr, std::vector<float> (n, 1.0f));
    double best = 0;
    for (int rep = 0; rep < 5; rep++)
    {
        std::vector<std::thread> T;
        std::vector<double> sums (nthr);
        auto t0 = Clock::now ();
        for (int t = 0; t < nthr; t++)
        {
            T.emplace_back ([&, t]
            {
                const float *p = blocks [t].data ();
                float s [16] = {};
                for (size_t i = 0; i < n; i += 16)
                    for (int k = 0; k < 16; k++) s [k] += p [i + k];
                double a = 0;
                for (float v : s) a += v;
                sums [t] = a;
            });
        }
        for (auto &t : T) t.join ();
        double dt = std::chrono::duration<double> (Clock::now () - t0).count ();
        best = std::max (best, nthr * n * sizeof (float) / dt);
        if (sums [0] < 0) std::printf ("?");
    }
    return best;
}


int main (int ac, char *av [])
{
    int ninp = 16, nout = 16, len = 4096, P = 256, nthr = 2;
    double seconds = 20;
    const int fs = 48000;
    if (ac >= 7)
    {
        ninp = atoi (av [1]); nout = atoi (av [2]); len = atoi (av [3]);
        P = atoi (av [4]); nthr = atoi (av [5]); seconds = atof (av [6]);
    }
    const char *rawin = (ac >= 9) ? av [7] : nullptr;
    const char *rawout = (ac >= 9) ? av [8] : nullptr;

    Denseconv D (ninp, nout, len, P, nthr, 1);
    if (!D.ok ())
    {
        std::fprintf (stderr, "engine not built\n");
        return 1;
    }
    std::vector<float> h ((size_t) ninp * nout * len);
    std::mt19937 g (1);
    std::normal_distribution<float> nd (0.0f, 0.1f);
    if (rawin)
    {
        FILE *F = fopen (rawin, "rb");
        if (!F || fread (h.data (), sizeof (float), h.size (), F) != h.size ())
        {
            std::fprintf (stderr, "cannot read %s\n", rawin);
            return 1;
        }
        fclose (F);
    }
    else for (auto &v : h) v = nd (g);
    for (int i = 0; i < ninp; i++)
        for (int o = 0; o < nout; o++) D.setimp (i, o, 1.0f, h.data () + ((size_t) i * nout + o) * len, len, 1);

    std::vector<std::vector<float>> x (ninp, std::vector<float> (P)), y (nout, std::vector<float> (P));
    std::vector<float *> ip (ninp), op (nout);
    for (int i = 0; i < ninp; i++) ip [i] = x [i].data ();
    for (int o = 0; o < nout; o++) op [o] = y [o].data ();

    if (rawout)
    {
        // The same input as matconv_compare.py gives BruteFIR: channel c,
        // frame t: sin (0.001 (c + 1) t) * 0.5.
        FILE *F = fopen (rawout, "wb");
        std::vector<float> inter ((size_t) nout * P);
        for (int k = 0; k < fs / P; k++)
        {
            for (int i = 0; i < ninp; i++)
                for (int t = 0; t < P; t++) x [i][t] = 0.5f * std::sin (0.001 * (i + 1) * (k * P + t));
            D.process (ip.data (), op.data ());
            for (int t = 0; t < P; t++)
                for (int o = 0; o < nout; o++) inter [(size_t) t * nout + o] = y [o][t];
            fwrite (inter.data (), sizeof (float), inter.size (), F);
        }
        fclose (F);
        return 0;
    }

    for (int i = 0; i < ninp; i++)
        for (int t = 0; t < P; t++) x [i][t] = nd (g);
    int periods = (int) (seconds * fs / P);
    for (int k = 0; k < 50; k++) D.process (ip.data (), op.data ());
    auto t0 = Clock::now ();
    for (int k = 0; k < periods; k++) D.process (ip.data (), op.data ());
    double dt = std::chrono::duration<double> (Clock::now () - t0).count ();

    double speed = periods * (double) P / fs / dt;
    double need = 8.0 * ninp * nout * len * fs / P;      // bytes of spectra per second of audio
    double bw = read_bandwidth ((int) std::thread::hardware_concurrency ());
    std::printf ("denseconv %d x %d x %d, P %d, %d workers, %.1f s of audio\n", ninp, nout, len, P, D.param.nthr, seconds);
    std::printf ("time %.4f\n", dt);
    std::printf ("speed %.3f\n", speed);
    std::printf ("traffic %.4e\n", speed * need);
    std::printf ("bandwidth %.4e\n", bw);
    return 0;
}
