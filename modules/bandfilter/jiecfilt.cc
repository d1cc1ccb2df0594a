// JACK client of the IEC band filters.

#include <string.h>
#include "jiecfilt.h"
#include "filters/simdlevel.h"


static int clamp_count (int n)
{
    return (n < 1) ? 1 : ((n > Jiecfilt::MAXCHAN) ? Jiecfilt::MAXCHAN : n);
}


Jiecfilt::Jiecfilt (const char *client_name, const char *server_name, int ninp_, int nout_) :
    table1 (nullptr),
    table3 (nullptr),
    simd (simd_level ())
{
    for (int i = 0; i < MAXCHAN; i++)
    {
        bands [i] = nullptr;
        inputs [i] = 0;
    }
    ninp_ = clamp_count (ninp_);
    nout_ = clamp_count (nout_);
    if (   open_jack (client_name, server_name, ninp_, nout_)
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    state = bp6_tables (fsamp, &table1, &table3) ? FAILED : PROCESS;
}


Jiecfilt::~Jiecfilt (void)
{
    state = INITIAL;
    close_jack ();
}


void Jiecfilt::set_filter (int inp, int out, int system, int band)
{
    if (inp < 0 || inp >= ninp || out < 0 || out >= nout) return;
    const Bp6table *T;
    switch (system)
    {
    case SYS_OFF:
        bands [out].store (nullptr, std::memory_order_release);
        return;
    case SYS_OCT1: T = table1; break;
    case SYS_OCT3: T = table3; break;
    default: return;
    }
    if (!T || band < 0 || band >= T->nband) return;
    inputs [out].store (inp, std::memory_order_relaxed);
    bands [out].store (T->param + band, std::memory_order_release);
}


int Jiecfilt::jack_process (int nframes)
{
    float        *inp [MAXCHAN], *out [MAXCHAN];
    Bp6filter    *F [MAXCHAN];
    const float  *src [MAXCHAN];
    float        *dst [MAXCHAN];
    int           k = 0;

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    for (int i = 0; i < nout; i++)
    {
        float *q = out [i];
        if (!q || nframes <= 0) continue;
        filters [i].setparam (bands [i].load (std::memory_order_acquire));
        const float *p = inp [inputs [i].load (std::memory_order_relaxed)];
        if (!p)
        {
            // Missing input port: silence.
            memset (q, 0, nframes * sizeof (float));
            p = q;
        }
        F [k] = filters + i;
        src [k] = p;
        dst [k++] = q;
    }
    Bp6filter::process_multi (simd, nframes, k, F, src, dst);
    return 0;
}
