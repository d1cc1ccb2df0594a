// JACK client of the noise meter.

#include <algorithm>
#include "jnmeter.h"
#include "filters/simdlevel.h"


static int clamp_count (int n)
{
    return std::min (std::max (n, 1), (int) MAXPORT);
}


Jnmeter::Jnmeter (const char *client_name, const char *server_name, int n_inp, int n_out,
                  float *levels_, int nlev_) :
    meters (nullptr),
    simd (simd_level ()),
    levels (levels_),
    nlev (0)
{
    int r = 0;

    for (int i = 0; i < MAXPORT; i++) inputs [i] = 0;
    if (   open_jack (client_name, server_name, clamp_count (n_inp), clamp_count (n_out))
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    nlev = std::min (std::max (nlev_, 0), nout);
    meters = new Nmeterdsp [nout];
    for (int i = 0; i < nout; i++) r |= meters [i].init (fsamp);
    // An unsupported rate leaves the state INITIAL: the meter stays idle.
    if (r == 0) state = PROCESS;
}


Jnmeter::~Jnmeter (void)
{
    state = INITIAL;
    close_jack ();
    delete [] meters;
}


int Jnmeter::set_input (int inp, int meter)
{
    if (state != PROCESS || meter < -1 || meter >= nout || inp < 0 || inp >= ninp) return 1;
    if (meter < 0)
    {
        for (int i = 0; i < nout; i++) inputs [i].store (inp, std::memory_order_relaxed);
    }
    else inputs [meter].store (inp, std::memory_order_relaxed);
    return 0;
}


int Jnmeter::set_filter (int meter, int code, int dc)
{
    int r = 0;

    if (state != PROCESS || meter < -1 || meter >= nout) return 1;
    if (meter >= 0) return meters [meter].set_filter (code, dc);
    for (int i = 0; i < nout; i++) r |= meters [i].set_filter (code, dc);
    return r;
}


int Jnmeter::set_detect (int meter, int code)
{
    int r = 0;

    if (state != PROCESS || meter < -1 || meter >= nout) return 1;
    if (meter >= 0) return meters [meter].set_detect (code);
    for (int i = 0; i < nout; i++) r |= meters [i].set_detect (code);
    return r;
}


int Jnmeter::get_levels (void)
{
    if (meters)
    {
        for (int i = 0; i < nlev; i++) levels [i] = meters [i].get_level ();
    }
    return state;
}


int Jnmeter::jack_process (int nframes)
{
    float        *inp [MAXPORT];
    float        *out [MAXPORT];
    const float  *src [MAXPORT];
    Nmeterdsp    *M [MAXPORT];

    if (state != PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    for (int i = 0; i < nout; i++)
    {
        src [i] = inp [inputs [i].load (std::memory_order_relaxed)];
        M [i] = meters + i;
    }
    Nmeterdsp::process_multi (simd, M, src, out, nout, nframes);
    return 0;
}
