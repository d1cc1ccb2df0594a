// JACK client of the parametric equaliser.

#include <math.h>
#include <string.h>
#include "jparameq.h"
#include "filters/stepgrid.h"
#include "filters/simdlevel.h"


// Publishes a change: the values are written, then the counter with release
// order (single writer, so a load and a store suffice).
static void request (std::atomic<uint16_t> &count)
{
    count.store (count.load (std::memory_order_relaxed) + 1, std::memory_order_release);
}


Jparameq::Jparameq (const char *client_name, const char *server_name, int nchan, const char *sections_) :
    step_len (0),
    step_left (0),
    nsect (0),
    simd (simd_level ())
{
    for (int i = 0; i < MAXSECT; i++) sections [i] = nullptr;
    if (nchan < 0) nchan = 0;
    if (nchan > MAXCHAN) nchan = MAXCHAN;
    if (   open_jack (client_name, server_name, nchan, nchan)
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    init (sections_);
}


Jparameq::~Jparameq (void)
{
    state = INITIAL;
    close_jack ();
    for (int i = 0; i < MAXSECT; i++) delete sections [i];
}


void Jparameq::init (const char *str)
{
    int type = Svparam2::LOSHELF;
    int n = str ? (int) strlen (str) : 0;
    if (n > MAXSECT) n = MAXSECT;
    for (int i = 0; i < n; i++)
    {
        switch (str [i])
        {
        case 'L': type = Svparam2::LOSHELF; break;
        case 'H': type = Svparam2::HISHELF; break;
        case '1': type = Svparam2::PEAK_FIXED; break;
        case '2': type = Svparam2::PEAK_SYMM; break;
        case '3': type = Svparam2::PEAK_GAINBW; break;
        default: break;   // same type as the section before
        }
        sections [i] = new Svparam2 (type);
    }
    nsect = n;
    step_len = (int) ceilf (fsamp * 0.01f);
    step_left = 0;
    state = PROCESS;
}


void Jparameq::set_filter (int index, float freq, float gain_db, float shape)
{
    if (index < 0 || index >= nsect || !sections [index]) return;
    if (isnan (freq) || isnan (gain_db) || isnan (shape)) return;
    sections [index]->setpars (freq / fsamp, powf (10.0f, gain_db / 20.0f), shape);
}


void Jparameq::set_bypass (bool on)
{
    if (eqgain.bypass != on)
    {
        eqgain.bypass = on;
        request (eqgain.req_count);
    }
    for (int i = 0; i < nsect; i++)
    {
        Svparam2 *S = sections [i];
        if (S && S->bypass != on)
        {
            S->bypass = on;
            request (S->req_count);
        }
    }
}


void Jparameq::set_gain (float gain_db)
{
    if (isnan (gain_db)) return;
    eqgain.gain = powf (10.0f, gain_db / 20.0f);
    request (eqgain.req_count);
}


int Jparameq::jack_process (int nframes)
{
    float  *inp [MAXCHAN], *out [MAXCHAN];
    int     n = ninp;

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    if (nframes <= 0) return 0;
    // Every channel runs: a deleted port reads as silence or writes to
    // scratch (see get_inp_buffers).
    step_grid (nframes, step_len, step_left, [&] (bool begin, int off, int k)
    {
        float *ip [MAXCHAN], *op [MAXCHAN];
        if (begin)
        {
            eqgain.prepare (step_len);
            for (int j = 0; j < nsect; j++) sections [j]->prepare (step_len);
        }
        for (int i = 0; i < n; i++)
        {
            ip [i] = inp [i] + off;
            op [i] = out [i] + off;
        }
        Svparam2::process_multi (simd, eqgain, sections, nsect, k, n, ip, op);
    });
    return 0;
}
