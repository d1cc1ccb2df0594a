// JACK client of the sample-synchronous player and recorder.

#include <errno.h>
#include <math.h>
#include <string.h>
#include <time.h>
#include "jsignal.h"


Jsignal::Jsignal (const char *client_name, const char *server_name) :
    state_req (0),
    req_cnt (0),
    ack_cnt (0),
    trig_inp (0),
    trig_offs (0),
    posit (0)
{
    if (!cmdsync.ok () || open_jack (client_name, server_name, NSLOT, NSLOT))
    {
        state = FAILED;
        return;
    }
    init ();
}


Jsignal::~Jsignal (void)
{
    fini ();
}


void Jsignal::init (void)
{
    state = STANDBY;
}


void Jsignal::fini (void)
{
    state = INITIAL;
    close_jack ();
    // No callback runs any more: the arrays can go.
    for (int k = 0; k < NSLOT; k++)
    {
        outdata [k].clear ();
        inpdata [k].clear ();
    }
}


bool Jsignal::idle (void) const
{
    // PASSIVE with no request pending: the process thread leaves the slots alone.
    return (state == PASSIVE)
        && (req_cnt.load (std::memory_order_relaxed) == ack_cnt.load (std::memory_order_acquire));
}


int Jsignal::set_inp_data (int k, float *data, ptrdiff_t step, int size, Jsholder *view, int nloop, int nskip)
{
    if ((k < 0) || (k >= NSLOT) || !idle ())
    {
        delete view;
        return 1;
    }
    inpdata [k].set (data, step, size, view, nloop, nskip);
    return 0;
}


int Jsignal::set_out_data (int k, float *data, ptrdiff_t step, int size, Jsholder *view, int nloop, int nskip)
{
    if ((k < 0) || (k >= NSLOT) || !idle ())
    {
        delete view;
        return 1;
    }
    outdata [k].set (data, step, size, view, nloop, nskip);
    return 0;
}


int Jsignal::set_inp_gain (int k, float g)
{
    if ((k < 0) || (k >= NSLOT) || !idle () || !isfinite (g)) return 1;
    inpdata [k].gain = g;
    return 0;
}


int Jsignal::set_out_gain (int k, float g)
{
    if ((k < 0) || (k >= NSLOT) || !idle () || !isfinite (g)) return 1;
    outdata [k].gain = g;
    return 0;
}


void Jsignal::set_trig_inp (int k)
{
    if ((k >= 0) && (k < NSLOT)) trig_inp.store (k, std::memory_order_relaxed);
}


int Jsignal::set_state (int s)
{
    unsigned  r;

    if (state <= 0) return 1;
    cmdsync.drain ();
    state_req.store (s, std::memory_order_relaxed);
    r = req_cnt.load (std::memory_order_relaxed) + 1;
    req_cnt.store (r, std::memory_order_release);
    return cmdsync.wait (*this, [&] { return ack_cnt.load (std::memory_order_acquire) == r; }) ? 0 : 1;
}


void Jsignal::start_run (void)
{
    posit.store (0, std::memory_order_relaxed);
    trig_offs = 0;
    for (int k = 0; k < NSLOT; k++)
    {
        outdata [k].reset ();
        inpdata [k].reset ();
    }
}


void Jsignal::port_buffers (int nframes, float **inp, float **out)
{
    // Only ports that exist take part in a run: a slot without its port
    // does not keep the run going, a trigger input without a port never fires.
    get_inp_buffers (nframes, inp, NSLOT, true);
    get_out_buffers (nframes, out, NSLOT, true);
}


void Jsignal::silence (int nframes)
{
    float *out [NSLOT];
    get_out_buffers (nframes, out, NSLOT, true);
    for (int k = 0; k < NSLOT; k++)
    {
        if (out [k]) memset (out [k], 0, nframes * sizeof (float));
    }
}


int Jsignal::jack_process (int nframes)
{
    float     *inp [NSLOT];
    float     *out [NSLOT];
    unsigned   r;
    int        s, k, i, act;

    if (state <= 0) return 0;

    // Take a state request: the run is reset before the new state is
    // published, and the caller is released after that.
    r = req_cnt.load (std::memory_order_acquire);
    if (r != ack_cnt.load (std::memory_order_relaxed))
    {
        s = state_req.load (std::memory_order_relaxed);
        if ((s == TRIGWAIT) || (s == PROCESS)) start_run ();
        // JACK keeps an output buffer that nobody writes, and would repeat
        // its last period for ever: outputs go silent once on the way into
        // a state that leaves them alone.
        if (s < PASSIVE) silence (nframes);
        state = s;
        ack_cnt.store (r, std::memory_order_release);
        cmdsync.post ();
    }
    s = state;
    if (s < PASSIVE) return 0;

    port_buffers (nframes, inp, out);
    if (s == TRIGWAIT)
    {
        const float *t = inp [trig_inp.load (std::memory_order_relaxed)];
        if (t)
        {
            for (i = 0; i < nframes; i++)
            {
                if (t [i] > 0.5f)
                {
                    trig_offs = i;
                    s = PROCESS;
                    state = s;
                    break;
                }
            }
        }
    }
    if (s != PROCESS)
    {
        for (k = 0; k < NSLOT; k++)
        {
            if (out [k]) memset (out [k], 0, nframes * sizeof (float));
        }
        return 0;
    }

    act = 0;
    for (k = 0; k < NSLOT; k++)
    {
        if (out [k]) act += outdata [k].output (out [k], nframes, trig_offs);
    }
    for (k = 0; k < NSLOT; k++)
    {
        if (inp [k]) act += inpdata [k].input (inp [k], nframes, trig_offs);
    }
    // Published before the state: a reader that sees the run ended sees its final length.
    posit.store (posit.load (std::memory_order_relaxed) + nframes - trig_offs, std::memory_order_release);
    trig_offs = 0;
    if (act == 0) state = PASSIVE;
    return 0;
}
