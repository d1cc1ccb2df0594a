// Resampler against libsoxr (HQ, VHQ) and libsamplerate (best sinc), run
// side by side on the same input in one run.
//
// Speed: 20 s of white noise, mono and stereo, 44.1 -> 48 kHz and
// 96 -> 44.1 kHz, fed in blocks of 1024 input frames as a player would, on
// one thread; best of 3 runs timed in the thread's CPU time (the machine is
// shared), in million output samples (frames x channels)
// per second.
// Quality, per converter and rate pair, from a stepped sweep of pure tones
// (0.25 s each, 0.5 amplitude) fitted by least squares at their known
// frequency: passband ripple up to 90 % of half the lower rate, the -3 dB
// point (in % of half the lower rate), the worst residual (all that is not
// the tone: images, aliases, noise) in the passband relative to the input,
// and for downsampling the worst output level of tones between half the
// output rate and half the input rate (alias rejection), plus the 23 kHz
// tone at 96 -> 44.1 kHz.
//
// The two libraries are used as black boxes through their public API only.
// Built when they are found (libsoxr-dev, libsamplerate0-dev); run by hand:
//   build/tests/bench/resampler_bench [speed]
// and for the sweep spectrogram measure, bench/resampler_sweep.py, which calls
//   resampler_bench sweep CONVERTER IN_RATE OUT_RATE SECONDS FILE

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <algorithm>
#include <memory>
#include <vector>
#include <soxr.h>
#include <samplerate.h>
#include "resampler.h"
#include "../tests/cpp/tonefit.h"


// One streaming converter: feed() takes a block of input (null: flush/end)
// and appends all the output it can give.
class Conv
{
public:
    virtual ~Conv (void) {}
    virtual void feed (const float *x, size_t n, std::vector<float> &y) = 0;
};


class Ours : public Conv
{
public:
    Ours (unsigned fi, unsigned fo, unsigned ch) : ch (ch), ratio ((double) fo / fi)
    {
        R.setup (fi, fo, ch, 36);
        buf.resize ((size_t) 4096 * ch * (1 + fo / fi));
    }
    void feed (const float *x, size_t n, std::vector<float> &y) override
    {
        // At the end, silence to flush the look-ahead.
        if (!x) n = R.inpdist () + 2;
        R.inp_data = x;
        R.inp_count = (unsigned) n;
        while (R.inp_count)
        {
            R.out_data = buf.data ();
            R.out_count = (unsigned)(buf.size () / ch);
            R.process ();
            y.insert (y.end (), buf.data (), R.out_data);
        }
    }
    Resampler R;
    unsigned ch;
    double ratio;
    std::vector<float> buf;
};


class Soxr : public Conv
{
public:
    Soxr (unsigned fi, unsigned fo, unsigned ch, unsigned long q) : ch (ch)
    {
        soxr_error_t e;
        soxr_io_spec_t io = soxr_io_spec (SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        soxr_quality_spec_t qs = soxr_quality_spec (q, 0);
        soxr_runtime_spec_t rs = soxr_runtime_spec (1);
        S = soxr_create (fi, fo, ch, &e, &io, &qs, &rs);
        if (!S) { fprintf (stderr, "soxr: %s\n", e); exit (1); }
        buf.resize ((size_t) 8192 * ch * (1 + fo / fi));
    }
    ~Soxr (void) { soxr_delete (S); }
    void feed (const float *x, size_t n, std::vector<float> &y) override
    {
        size_t idone, odone;
        size_t olen = buf.size () / ch;
        do
        {
            soxr_process (S, x, x ? n : 0, &idone, buf.data (), olen, &odone);
            y.insert (y.end (), buf.data (), buf.data () + odone * ch);
            if (x) { x += idone * ch; n -= idone; }
        }
        while ((x && n) || (odone == olen) || (!x && odone));
    }
    soxr_t S;
    unsigned ch;
    std::vector<float> buf;
};


class Src : public Conv
{
public:
    Src (unsigned fi, unsigned fo, unsigned ch) : ch (ch), ratio ((double) fo / fi)
    {
        int e;
        S = src_new (SRC_SINC_BEST_QUALITY, ch, &e);
        buf.resize ((size_t) 8192 * ch * (1 + fo / fi));
    }
    ~Src (void) { src_delete (S); }
    void feed (const float *x, size_t n, std::vector<float> &y) override
    {
        SRC_DATA d;
        memset (&d, 0, sizeof (d));
        d.src_ratio = ratio;
        d.end_of_input = x ? 0 : 1;
        d.data_in = x;
        d.input_frames = x ? (long) n : 0;
        do
        {
            d.data_out = buf.data ();
            d.output_frames = (long)(buf.size () / ch);
            src_process (S, &d);
            y.insert (y.end (), buf.data (), buf.data () + d.output_frames_gen * ch);
            d.data_in += d.input_frames_used * ch;
            d.input_frames -= d.input_frames_used;
        }
        while (d.input_frames || d.output_frames_gen);
    }
    SRC_STATE *S;
    unsigned ch;
    double ratio;
    std::vector<float> buf;
};


static const char *NAMES [] = { "vesk Resampler (hlen 36)", "libsoxr HQ", "libsoxr VHQ", "libsamplerate best" };

static Conv *make (int k, unsigned fi, unsigned fo, unsigned ch)
{
    switch (k)
    {
    case 0: return new Ours (fi, fo, ch);
    case 1: return new Soxr (fi, fo, ch, SOXR_HQ);
    case 2: return new Soxr (fi, fo, ch, SOXR_VHQ);
    default: return new Src (fi, fo, ch);
    }
}


static double now (void)
{
    timespec t;
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}


static void convert (int k, unsigned fi, unsigned fo, unsigned ch, const std::vector<float> &x, std::vector<float> &y)
{
    std::unique_ptr<Conv> C (make (k, fi, fo, ch));
    size_t n = x.size () / ch;
    y.clear ();
    y.reserve ((size_t)((double) n * fo / fi + 100000) * ch);
    for (size_t i = 0; i < n; i += 1024) C->feed (x.data () + i * ch, std::min<size_t> (1024, n - i), y);
    C->feed (nullptr, 0, y);
}


// Gain (dB) of a tone at f and the residual (dB re input RMS); above half
// the output rate, the gain is the whole output's level.
static void tone (int k, unsigned fi, unsigned fo, double f, double &gain, double &resid)
{
    size_t ni = fi / 4;
    std::vector<float> x (ni), y;
    for (size_t i = 0; i < ni; i++) x [i] = (float)(0.5 * sin (2 * M_PI * f * i / fi));
    convert (k, fi, fo, 1, x, y);
    size_t no = (size_t)((double) ni * fo / fi);
    size_t n0 = no / 8, n1 = no - no / 8;
    tone_fit (y.data (), n0, n1, f, fo, gain, resid);
}


static void quality (int k, unsigned fi, unsigned fo)
{
    double nyq = 0.5 * std::min (fi, fo), g, r;
    double ripple = 0, resid = -300, stop = -300;
    for (int i = 1; i <= 30; i++)
    {
        tone (k, fi, fo, 0.03 * i * nyq, g, r);
        ripple = std::max (ripple, fabs (g));
        resid = std::max (resid, r);
    }
    // -3 dB point by bisection between 80 % and 100 %.
    double lo = 0.8, hi = 1.0;
    for (int i = 0; i < 14; i++)
    {
        double m = 0.5 * (lo + hi);
        tone (k, fi, fo, m * nyq, g, r);
        if (g > -3) lo = m; else hi = m;
    }
    printf ("  %-26s ripple %.5f dB   -3 dB at %5.2f %%   residual %6.1f dB", NAMES [k], ripple, 50 * (lo + hi), resid);
    if (fi > fo)
    {
        for (int i = 0; i <= 40; i++)
        {
            double f = nyq * (1.0 + 0.0005 + i * (fi / (double) fo - 1.0) / 40);
            if (f >= 0.499 * fi) break;
            tone (k, fi, fo, f, g, r);
            stop = std::max (stop, g);
        }
        printf ("   aliases %6.1f dB", stop);
        if (fi == 96000 && fo == 44100)
        {
            tone (k, fi, fo, 23000, g, r);
            printf ("   23 kHz %6.1f dB", g);
        }
    }
    printf ("\n");
}


// A linear sweep from 0 to half the input rate, amplitude 0.5, through
// converter k, written as raw float32 for resampler_sweep.py.
static int sweep (int k, unsigned fi, unsigned fo, double secs, const char *path)
{
    size_t n = (size_t)(secs * fi);
    std::vector<float> x (n), y;
    double rate = 0.5 * fi / secs;   // Hz per second
    for (size_t i = 0; i < n; i++)
    {
        double t = (double) i / fi;
        x [i] = (float)(0.5 * sin (M_PI * rate * t * t));
    }
    convert (k, fi, fo, 1, x, y);
    FILE *F = fopen (path, "wb");
    if (!F) return 1;
    fwrite (y.data (), sizeof (float), y.size (), F);
    fclose (F);
    return 0;
}


int main (int ac, char *av [])
{
    struct { unsigned fi, fo; } pairs [] = { { 44100, 48000 }, { 96000, 44100 } };
    bool noquality = (ac > 1) && !strcmp (av [1], "speed");
    if ((ac == 7) && !strcmp (av [1], "sweep"))
    {
        return sweep (atoi (av [2]), atoi (av [3]), atoi (av [4]), atof (av [5]), av [6]);
    }

    printf ("Speed: million output samples per second, best of 3, blocks of 1024 input frames\n");
    printf ("  %-26s", "");
    for (auto &P : pairs) for (unsigned ch = 1; ch <= 2; ch++) printf ("  %5.1f->%-5.1f %s", P.fi / 1e3, P.fo / 1e3, ch == 1 ? "mono  " : "stereo");
    printf ("\n");
    for (int k = 0; k < 4; k++)
    {
        printf ("  %-26s", NAMES [k]);
        for (auto &P : pairs)
        {
            for (unsigned ch = 1; ch <= 2; ch++)
            {
                size_t n = 20 * P.fi;
                std::vector<float> x (n * ch), y;
                srand (1);
                for (auto &v : x) v = (float) rand () / RAND_MAX - 0.5f;
                double best = 1e30;
                for (int rep = 0; rep < 3; rep++)
                {
                    double t0 = now ();
                    convert (k, P.fi, P.fo, ch, x, y);
                    best = std::min (best, now () - t0);
                }
                printf ("  %18.1f", y.size () / best / 1e6);
                fflush (stdout);
            }
        }
        printf ("\n");
    }
    if (noquality) return 0;
    for (auto &P : pairs)
    {
        printf ("Quality %u -> %u Hz\n", P.fi, P.fo);
        for (int k = 0; k < 4; k++) quality (k, P.fi, P.fo);
    }
    return 0;
}
