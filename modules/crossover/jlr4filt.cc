// JACK client of the crossover.

#include <math.h>
#include <string.h>
#include "jlr4filt.h"
#include "filters/simdlevel.h"


Jlr4chan::Jlr4chan (void) :
    req_count (0),
    hp_freq (0), hp_shape (0), lp_freq (0), lp_shape (0),
    inp (0), gain (1.0f), delay (0),
    ack_count (0),
    flags (0)
{
}


static int clamp_count (int n)
{
    return (n < 1) ? 1 : ((n > Jlr4filt::MAXCHAN) ? Jlr4filt::MAXCHAN : n);
}


Jlr4filt::Jlr4filt (const char *client_name, const char *server_name, int ninp_, int nout_, float maxdel) :
    chans (nullptr),
    maxdelay (0),
    simd (simd_level ())
{
    ninp_ = clamp_count (ninp_);
    nout_ = clamp_count (nout_);
    if (   open_jack (client_name, server_name, ninp_, nout_)
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    // NaN and negative become 0, anything above (infinity too) the limit.
    if (!(maxdel > 0)) maxdel = 0;
    if (maxdel > MAXDELAY) maxdel = MAXDELAY;
    init (maxdel);
    state = PROCESS;
}


Jlr4filt::~Jlr4filt (void)
{
    state = INITIAL;
    close_jack ();
    delete[] chans;
}


void Jlr4filt::init (float maxdel)
{
    chans = new Jlr4chan [nout];
    maxdelay = (int)(maxdel * fsamp + 0.5f);
    if (maxdelay) for (int i = 0; i < nout; i++) chans [i].dline.init (maxdelay, fsize);
}


void Jlr4filt::set_filter (int inp, int out, float hpf, float hps, float lpf, float lps)
{
    if (!chans || inp < 0 || inp >= ninp || out < 0 || out >= nout) return;
    if (isnan (hpf) || isnan (hps) || isnan (lpf) || isnan (lps)) return;
    Jlr4chan *C = chans + out;
    C->inp.store ((int16_t) inp, std::memory_order_relaxed);
    C->hp_freq = hpf / fsamp;
    C->hp_shape = hps;
    C->lp_freq = lpf / fsamp;
    C->lp_shape = lps;
    C->req_count.store (C->req_count.load (std::memory_order_relaxed) + 1, std::memory_order_release);
}


void Jlr4filt::set_delay (int out, float t)
{
    if (!chans || out < 0 || out >= nout || isnan (t)) return;
    // Clamped in floating point first, so that no value overflows the int.
    float d = t * fsamp + 0.5f;
    if (!(d > 0)) d = 0;
    if (d > maxdelay) d = (float) maxdelay;
    int k = (int) d;
    if (k > maxdelay) k = maxdelay;
    chans [out].delay.store (k, std::memory_order_relaxed);
}


void Jlr4filt::set_gain (int out, float g)
{
    if (!chans || out < 0 || out >= nout || !isfinite (g)) return;
    chans [out].gain.store (g, std::memory_order_relaxed);
}


int Jlr4filt::jack_process (int nframes)
{
    float        *inp [MAXCHAN], *out [MAXCHAN];
    // Outputs by filter kind (high-pass, low-pass, both), run side by side.
    Lr4filter    *hp [3][MAXCHAN], *lp [3][MAXCHAN];
    const float  *src [3][MAXCHAN];
    float        *dst [3][MAXCHAN];
    int           cnt [3] = { 0, 0, 0 };

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    for (int i = 0; i < nout; i++)
    {
        Jlr4chan *C = chans + i;
        uint16_t req = C->req_count.load (std::memory_order_acquire);
        if (req != C->ack_count)
        {
            C->flags = 0;
            if (C->hp_freq > 0)
            {
                C->hipass.setpars (C->hp_freq, C->hp_shape);
                C->flags |= 1;
            }
            if (C->lp_freq > 0)
            {
                C->lopass.setpars (C->lp_freq, C->lp_shape);
                C->flags |= 2;
            }
            C->ack_count++;
        }
        float *q = out [i];
        if (!q || nframes <= 0) continue;     // no port, nothing to write
        if (!C->flags)
        {
            memset (q, 0, nframes * sizeof (float));
            continue;
        }
        const float *p = inp [C->inp.load (std::memory_order_relaxed)];
        if (!p)
        {
            // Missing input port: silence.
            memset (q, 0, nframes * sizeof (float));
            p = q;
        }
        int d = C->delay.load (std::memory_order_relaxed);
        // The delay line works in blocks of the period size it was made
        // with; after a change of period size outputs run undelayed.
        if (d && C->dline.buff && nframes == C->dline.frag)
        {
            C->dline.write (p);
            p = C->dline.readp (d);
        }
        const int m = C->flags - 1;
        hp [m][cnt [m]] = &C->hipass;
        lp [m][cnt [m]] = &C->lopass;
        src [m][cnt [m]] = p;
        dst [m][cnt [m]++] = q;
    }
    for (int m = 0; m < 3; m++)
    {
        Lr4filter::process_multi (simd, m + 1, nframes, cnt [m], hp [m], lp [m], src [m], dst [m]);
    }
    if (nframes <= 0) return 0;
    for (int i = 0; i < nout; i++)
    {
        Jlr4chan *C = chans + i;
        float *q = out [i];
        if (!q || !C->flags) continue;
        float g = C->gain.load (std::memory_order_relaxed);
        if (g != 1.0f) for (int k = 0; k < nframes; k++) q [k] *= g;
    }
    return 0;
}
