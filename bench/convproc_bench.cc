// Throughput of the convolution engine, offline (process in sync mode: every
// partition computed, workers run as fast as they can).
//
//   convproc_bench run NINP NOUT TAPS B DIR [NFRAMES | XNAME]
//       Responses DIR/h_I_O.raw (float32, TAPS frames, every pair), input
//       DIR/XNAME.raw (default x; float32 interleaved, NINP channels); writes
//       the output to DIR/XNAME_y_B.raw (float32 interleaved). With DIR "-":
//       random data of NFRAMES frames. Prints one line of figures: frames/s, real-time
//       factor at 48 kHz, wall and CPU seconds, the layout and the work done
//       (model flops, complex multiply-adds, bytes of spectra streamed).
//   convproc_bench stream
//       Memory bandwidth (a triad over 256 MB, one thread), for the roofline.

#include <math.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <sys/resource.h>
#include <random>
#include <string>
#include <vector>
#include "convproc.h"

static double now (void)
{
    timespec t;
    clock_gettime (CLOCK_MONOTONIC, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

static double cpu (void)
{
    rusage u;
    getrusage (RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + 1e-6 * (u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

static bool read_raw (const std::string &path, std::vector<float> &v)
{
    FILE *F = fopen (path.c_str (), "rb");
    if (!F) return false;
    fseek (F, 0, SEEK_END);
    long n = ftell (F) / 4;
    fseek (F, 0, SEEK_SET);
    v.resize (n);
    bool ok = fread (v.data (), 4, n, F) == (size_t) n;
    fclose (F);
    return ok;
}

static int stream (void)
{
    size_t n = 1 << 26;
    std::vector<float> a (n, 1.0f), b (n, 2.0f), c (n, 0.5f);
    double best = 0;
    for (int r = 0; r < 5; r++)
    {
        double t = now ();
        for (size_t k = 0; k < n; k++) a [k] = b [k] + 0.5f * c [k];
        t = now () - t;
        best = fmax (best, 3.0 * n * 4 / t);
    }
    printf ("triad %.2f GB/s (%.0f)\n", best * 1e-9, a [n / 2]);
    return 0;
}

int main (int ac, char *av [])
{
    if (ac >= 2 && !strcmp (av [1], "stream")) return stream ();
    if (ac < 7 || strcmp (av [1], "run"))
    {
        fprintf (stderr, "usage: convproc_bench run NINP NOUT TAPS B DIR|- [NFRAMES] | convproc_bench stream\n");
        return 1;
    }
    int ninp = atoi (av [2]), nout = atoi (av [3]), taps = atoi (av [4]), B = atoi (av [5]);
    std::string dir = av [6];
    bool files = (dir != "-");
    long nframes = (ac > 7 && !files) ? atol (av [7]) : 48000 * 20;
    std::string xname = (ac > 7 && files) ? av [7] : "x";

    Convproc C;
    if (C.configure (ninp, nout, taps, B, B, 8192, 1.0f))
    {
        fprintf (stderr, "configure failed\n");
        return 1;
    }
    std::mt19937 g (1);
    std::uniform_real_distribution<float> d (-1, 1);
    std::vector<float> h (taps), x, y;
    for (int i = 0; i < ninp; i++)
    {
        for (int o = 0; o < nout; o++)
        {
            if (files)
            {
                char s [64];
                snprintf (s, sizeof (s), "/h_%d_%d.raw", i, o);
                if (!read_raw (dir + s, h) || (int) h.size () != taps)
                {
                    fprintf (stderr, "cannot read %s\n", s);
                    return 1;
                }
            }
            else for (auto &v : h) v = d (g);
            C.impdata_create (i, o, 1, h.data (), 0, taps);
        }
    }
    if (files)
    {
        if (!read_raw (dir + "/" + xname + ".raw", x))
        {
            fprintf (stderr, "cannot read x.raw\n");
            return 1;
        }
        nframes = x.size () / ninp;
    }
    else
    {
        x.resize ((size_t) nframes * ninp);
        for (auto &v : x) v = d (g);
    }
    nframes -= nframes % B;
    y.resize ((size_t) nframes * nout);

    // The work per frame, from the layout: a real transform of size N counted
    // as 2.5 N log2 N flops, a complex multiply-add as 8 flops reading 16
    // bytes of spectra (one input bin, one response bin).
    double flops = 0, cmacs = 0;
    for (int k = 0; k < C.nlevels (); k++)
    {
        double L = C.level_size (k);
        double N = 2 * L;
        flops += (ninp + nout) * 2.5 * N * log2 (N) / L;
        cmacs += (double) ninp * nout * C.level_parts (k) * (L + 1) / L;
    }
    flops += 8 * cmacs;

    if (C.start_process (0, SCHED_OTHER))
    {
        fprintf (stderr, "start failed\n");
        return 1;
    }
    double t0 = now (), c0 = cpu ();
    for (long t = 0; t < nframes; t += B)
    {
        for (int i = 0; i < ninp; i++)
        {
            float *p = C.inpbuff [i] + C.inpoffs;
            const float *q = x.data () + t * ninp + i;
            for (int n = 0; n < B; n++) p [n] = q [n * ninp];
        }
        C.process (true);
        for (int o = 0; o < nout; o++)
        {
            const float *p = C.outbuff [o] + C.outoffs;
            float *q = y.data () + t * nout + o;
            for (int n = 0; n < B; n++) q [n * nout] = p [n];
        }
    }
    double wall = now () - t0, cput = cpu () - c0;
    C.stop_process ();
    while (!C.check_stop ()) usleep (1000);

    if (files)
    {
        char s [64];
        snprintf (s, sizeof (s), "_y_%d.raw", B);
        FILE *F = fopen ((dir + "/" + xname + s).c_str (), "wb");
        if (F)
        {
            fwrite (y.data (), 4, y.size (), F);
            fclose (F);
        }
    }
    printf ("frames/s %.0f rt48k %.1f wall %.3f cpu %.3f levels %d flops/frame %.0f cmacs/frame %.0f"
            " GFLOP/s %.2f GB/s %.2f\n",
            nframes / wall, nframes / wall / 48000, wall, cput, C.nlevels (), flops, cmacs,
            flops * nframes / wall * 1e-9, 16 * cmacs * nframes / wall * 1e-9);
    return 0;
}
