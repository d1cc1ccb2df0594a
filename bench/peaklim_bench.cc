// Peak limiter benchmark, run by hand.
//
//   peaklim_bench                 cost per channel-sample at 44.1/48/96 kHz for
//                                 1, 2 and 8 channels, and the overshoot over the
//                                 test corpus by rate, threshold and period size
//   peaklim_bench IN OUT THR_DB INPGAIN_DB RELEASE_S
//                                 limits a sound file (any format libsndfile
//                                 reads) into a 32-bit float WAV in periods of
//                                 256, and prints the processing time
//   peaklim_bench compare NCH [LADSPA_SO]
//                                 DSP only, in one process on the same input:
//                                 Peaklim on NCH channels against NCH / 2
//                                 stereo instances of swh-plugins' "Fast
//                                 Lookahead limiter" (LADSPA 1913, loaded as a
//                                 black box), 44.1 kHz, periods of 256, +12 dB
//                                 input gain, -1 dB ceiling, 50 ms release;
//                                 thread CPU time, best of 7, the two sides
//                                 taking turns

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <dlfcn.h>
#include <time.h>
#include <ladspa.h>
#include <sndfile.h>
#include "dynamics/peaklim.h"
#include "../tests/cpp/limiter_corpus.h"

typedef std::chrono::steady_clock Clock;


static double seconds_since (Clock::time_point t0)
{
    return std::chrono::duration<double> (Clock::now () - t0).count ();
}


// Runs nch channels of loud noise bursts for the given duration; returns ns per channel-sample.
static double cost (float fs, int nch, double duration)
{
    const int period = 256, len = 1 << 16;
    std::vector<std::vector<float>> x (nch, std::vector<float> (len)), y (nch, std::vector<float> (period));
    uint32_t r = 1;
    for (auto &ch : x)
        for (int n = 0; n < len; n++)
        {
            r = r * 1664525u + 1013904223u;
            ch [n] = ((n & 0x3fff) < 0x2000 ? 2.0f : 0.1f) * ((int32_t) r * 4.6566e-10f);
        }
    Peaklim P;
    P.init (fs, nch);
    P.set_threshold (-1.0f);
    float *ip [Peaklim::MAXCHAN], *op [Peaklim::MAXCHAN];
    const long total = (long) (duration * fs);
    auto t0 = Clock::now ();
    for (long k = 0; k < total; k += period)
    {
        const int off = (int) (k % len);
        for (int c = 0; c < nch; c++)
        {
            ip [c] = x [c].data () + off;
            op [c] = y [c].data ();
        }
        P.process (period, ip, op);
    }
    const double t = seconds_since (t0);
    return 1e9 * t / ((double) total * nch);
}


static void overshoot_table (void)
{
    std::printf ("\nLargest output sample relative to the threshold over the corpus, +12 dB input gain:\n");
    std::printf ("%8s %7s", "rate", "period");
    const float thrs [] = { 0.0f, -6.0f, -12.0f, -20.0f, -30.0f };
    for (float t : thrs) std::printf ("   thr %3.0f dB", t);
    std::printf ("\n");
    for (double fs : { 44100.0, 48000.0, 96000.0, 192000.0 })
    {
        auto corpus = limiter_corpus (fs);
        for (int period : { 256, 21, 1 })
        {
            std::printf ("%8.0f %7d", fs, period);
            for (float thr : thrs)
            {
                double worst = -100;
                for (const Limsignal &s : corpus)
                {
                    Peaklim P;
                    P.init ((float) fs, 2);
                    P.set_inpgain (12.0f);
                    P.set_threshold (thr);
                    const int len = (int) s.ch [0].size ();
                    std::vector<float> y0 (len), y1 (len);
                    for (int k = 0; k < len; k += period)
                    {
                        float *ip [2] = { const_cast<float *> (s.ch [0].data ()) + k, const_cast<float *> (s.ch [1].data ()) + k };
                        float *op [2] = { y0.data () + k, y1.data () + k };
                        P.process (std::min (period, len - k), ip, op);
                    }
                    float pk = 0;
                    for (int n = 0; n < len; n++) pk = std::max (pk, std::max (std::fabs (y0 [n]), std::fabs (y1 [n])));
                    worst = std::max (worst, 20 * std::log10 ((double) pk) - thr);
                }
                std::printf ("   %+9.4f dB", worst);
            }
            std::printf ("\n");
        }
    }
}


static int limit_file (const char *inp, const char *out, float thr, float gain, float release)
{
    SF_INFO ii = {};
    SNDFILE *A = sf_open (inp, SFM_READ, &ii);
    if (!A)
    {
        std::fprintf (stderr, "cannot read %s\n", inp);
        return 1;
    }
    const int nch = ii.channels, period = 256;
    std::vector<float> data ((size_t) ii.frames * nch);
    sf_readf_float (A, data.data (), ii.frames);
    sf_close (A);

    auto t0 = Clock::now ();
    std::vector<std::vector<float>> x (nch, std::vector<float> (ii.frames)), y (nch, std::vector<float> (ii.frames));
    for (long n = 0; n < ii.frames; n++) for (int c = 0; c < nch; c++) x [c][n] = data [n * nch + c];
    Peaklim P;
    P.init ((float) ii.samplerate, nch);
    P.set_threshold (thr);
    P.set_inpgain (gain);
    P.set_release (release);
    float *ip [Peaklim::MAXCHAN], *op [Peaklim::MAXCHAN];
    auto t1 = Clock::now ();
    for (long k = 0; k < ii.frames; k += period)
    {
        for (int c = 0; c < nch; c++)
        {
            ip [c] = x [c].data () + k;
            op [c] = y [c].data () + k;
        }
        P.process ((int) std::min<long> (period, ii.frames - k), ip, op);
    }
    const double tdsp = seconds_since (t1);
    for (long n = 0; n < ii.frames; n++) for (int c = 0; c < nch; c++) data [n * nch + c] = y [c][n];
    const double tall = seconds_since (t0);

    SF_INFO oi = {};
    oi.samplerate = ii.samplerate;
    oi.channels = nch;
    oi.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *B = sf_open (out, SFM_WRITE, &oi);
    if (!B)
    {
        std::fprintf (stderr, "cannot write %s\n", out);
        return 1;
    }
    sf_writef_float (B, data.data (), ii.frames);
    sf_close (B);
    std::printf ("frames %ld channels %d delay %d dsp_seconds %.6f dsp_ns_per_channel_sample %.3f with_deinterleave_seconds %.6f\n",
                 (long) ii.frames, nch, P.delay, tdsp, 1e9 * tdsp / ((double) ii.frames * nch), tall);
    return 0;
}


// CPU time of this thread in seconds: time spent waiting for a core on a
// shared machine is not counted.
static double thread_seconds (void)
{
    timespec t;
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}


static int compare (int nch, const char *so)
{
    const float fs = 44100;
    const int period = 256, len = 1 << 17;
    const float gain = 12, ceiling = -1, release = 0.05f;
    if (nch < 2 || nch > Peaklim::MAXCHAN || (nch & 1))
    {
        std::fprintf (stderr, "NCH must be even, 2 .. 100\n");
        return 1;
    }
    void *lib = dlopen (so, RTLD_NOW);
    LADSPA_Descriptor_Function df = lib ? (LADSPA_Descriptor_Function) dlsym (lib, "ladspa_descriptor") : nullptr;
    const LADSPA_Descriptor *D = df ? df (0) : nullptr;
    if (!D || D->UniqueID != 1913)
    {
        std::fprintf (stderr, "cannot load the LADSPA limiter from %s\n", so);
        return 1;
    }
    // Loud program-like input: the corpus's signals one after another,
    // channel pairs offset in time.
    auto corpus = limiter_corpus (fs);
    std::vector<float> src;
    for (const Limsignal &s : corpus) src.insert (src.end (), s.ch [0].begin (), s.ch [0].end ());
    std::vector<std::vector<float>> x (nch, std::vector<float> (len)), y (nch, std::vector<float> (len));
    for (int c = 0; c < nch; c++)
        for (int n = 0; n < len; n++) x [c][n] = src [(n + 7919 * c) % src.size ()];

    Peaklim P;
    P.init (fs, nch);
    P.set_inpgain (gain);
    P.set_threshold (ceiling);
    P.set_release (release);

    const int ninst = nch / 2;
    std::vector<LADSPA_Handle> H (ninst);
    LADSPA_Data ctl [4] = { gain, ceiling, release, 0 }, latency = 0;
    for (int i = 0; i < ninst; i++)
    {
        H [i] = D->instantiate (D, (unsigned long) fs);
        for (unsigned long p = 0; p < D->PortCount; p++)
        {
            if (p < 4) D->connect_port (H [i], p, ctl + p);
            else if (p == 8) D->connect_port (H [i], p, &latency);
        }
        if (D->activate) D->activate (H [i]);
    }

    float *ip [Peaklim::MAXCHAN], *op [Peaklim::MAXCHAN];
    auto ours = [&] ()
    {
        double t0 = thread_seconds ();
        for (int k = 0; k < len; k += period)
        {
            for (int c = 0; c < nch; c++)
            {
                ip [c] = x [c].data () + k;
                op [c] = y [c].data () + k;
            }
            P.process (period, ip, op);
        }
        return thread_seconds () - t0;
    };
    auto theirs = [&] ()
    {
        double t0 = thread_seconds ();
        for (int k = 0; k < len; k += period)
        {
            for (int i = 0; i < ninst; i++)
            {
                D->connect_port (H [i], 4, x [2 * i].data () + k);
                D->connect_port (H [i], 5, x [2 * i + 1].data () + k);
                D->connect_port (H [i], 6, y [2 * i].data () + k);
                D->connect_port (H [i], 7, y [2 * i + 1].data () + k);
                D->run (H [i], period);
            }
        }
        return thread_seconds () - t0;
    };
    double a = 1e30, b = 1e30;
    for (int r = 0; r < 7; r++)
    {
        a = std::min (a, ours ());
        b = std::min (b, theirs ());
    }
    const double cs = (double) len * nch;
    std::printf ("%d channels: vesk Peaklim %.3f ns, LADSPA 1913 %.3f ns per channel-sample; LADSPA / vesk %.2f\n",
                 nch, 1e9 * a / cs, 1e9 * b / cs, b / a);
    for (int i = 0; i < ninst; i++) if (D->cleanup) D->cleanup (H [i]);
    return 0;
}


int main (int ac, char *av [])
{
    if (ac >= 3 && !std::strcmp (av [1], "compare"))
        return compare (atoi (av [2]), ac > 3 ? av [3] : "/usr/lib/ladspa/fast_lookahead_limiter_1913.so");
    if (ac == 6) return limit_file (av [1], av [2], atof (av [3]), atof (av [4]), atof (av [5]));
    if (ac != 1)
    {
        std::fprintf (stderr, "usage: peaklim_bench [IN OUT THR_DB INPGAIN_DB RELEASE_S]\n");
        return 1;
    }
    std::printf ("Peaklim cost, periods of 256, loud noise bursts (limiting active half the time):\n");
    for (float fs : { 44100.0f, 48000.0f, 96000.0f })
        for (int nch : { 1, 2, 8 })
        {
            double best = 1e9;
            for (int rep = 0; rep < 5; rep++) best = std::min (best, cost (fs, nch, 60.0));
            std::printf ("  %6.0f Hz %2d channels: %6.3f ns per channel-sample (best of 5 x 60 s of audio)\n", fs, nch, best);
        }
    overshoot_table ();
    return 0;
}
