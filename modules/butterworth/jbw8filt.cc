// JACK client of the Butterworth filters.

#include <math.h>
#include <string.h>
#include "jbw8filt.h"
#include "filters/simdlevel.h"


Jbw8chan::Jbw8chan (void) :
    req_count (0),
    hp_freq (0),
    lp_freq (0),
    inp (0),
    ack_count (0),
    flags (0)
{
}


static int clamp_count (int n)
{
    return (n < 1) ? 1 : ((n > Jbw8filt::MAXCHAN) ? Jbw8filt::MAXCHAN : n);
}


Jbw8filt::Jbw8filt (const char *client_name, const char *server_name, int ninp_, int nout_) :
    chans (nullptr),
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
    chans = new Jbw8chan [nout];
    state = PROCESS;
}


Jbw8filt::~Jbw8filt (void)
{
    state = INITIAL;
    close_jack ();
    delete[] chans;
}


void Jbw8filt::set_filter (int inp, int out, float hpf, float lpf)
{
    if (!chans || inp < 0 || inp >= ninp || out < 0 || out >= nout) return;
    if (isnan (hpf) || isnan (lpf)) return;
    Jbw8chan *C = chans + out;
    C->inp.store ((int16_t) inp, std::memory_order_relaxed);
    C->hp_freq = hpf / fsamp;
    C->lp_freq = lpf / fsamp;
    C->req_count.store (C->req_count.load (std::memory_order_relaxed) + 1, std::memory_order_release);
}


int Jbw8filt::jack_process (int nframes)
{
    float        *inp [MAXCHAN], *out [MAXCHAN];
    // Outputs by filter kind (high-pass, low-pass, both), run side by side.
    Bw8filter    *hp [3][MAXCHAN], *lp [3][MAXCHAN];
    const float  *src [3][MAXCHAN];
    float        *dst [3][MAXCHAN];
    int           cnt [3] = { 0, 0, 0 };

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    for (int i = 0; i < nout; i++)
    {
        Jbw8chan *C = chans + i;
        uint16_t req = C->req_count.load (std::memory_order_acquire);
        if (req != C->ack_count)
        {
            C->flags = 0;
            if (C->hp_freq > 0)
            {
                C->hipass.init (C->hp_freq);
                C->flags |= 1;
            }
            if (C->lp_freq > 0)
            {
                C->lopass.init (C->lp_freq);
                C->flags |= 2;
            }
            C->ack_count++;
        }
        float *q = out [i];
        if (!q || nframes <= 0) continue;
        const float *p = inp [C->inp.load (std::memory_order_relaxed)];
        if (!p)
        {
            // Missing input port: silence.
            memset (q, 0, nframes * sizeof (float));
            p = q;
        }
        if (!C->flags)
        {
            if (p != q) memcpy (q, p, nframes * sizeof (float));
            continue;
        }
        const int m = C->flags - 1;
        hp [m][cnt [m]] = &C->hipass;
        lp [m][cnt [m]] = &C->lopass;
        src [m][cnt [m]] = p;
        dst [m][cnt [m]++] = q;
    }
    for (int m = 0; m < 3; m++)
    {
        Bw8filter::process_multi (simd, m + 1, nframes, cnt [m], hp [m], lp [m], src [m], dst [m]);
    }
    return 0;
}
