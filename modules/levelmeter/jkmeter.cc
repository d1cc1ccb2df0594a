// JACK client of the level meter.

#include "jkmeter.h"
#include "filters/simdlevel.h"


Jkmeter::Jkmeter (const char *client_name, const char *server_name, int nchan,
                  float *rms_levels, float *peak_levels) :
    dsp (nullptr),
    simd (simd_level ()),
    rms_buf (rms_levels),
    peak_buf (peak_levels)
{
    if (nchan < 0) nchan = 0;
    if (nchan > MAXPORT) nchan = MAXPORT;
    if (   open_jack (client_name, server_name, nchan, 0)
        || create_inp_ports ("in_%d", 0))
    {
        state = FAILED;
        return;
    }
    // Hold 0.5 s, fall 15 dB/s.
    dsp = new Kmeterdsp [ninp];
    for (int i = 0; i < ninp; i++) dsp [i].init (fsamp, fsize, 0.5f, 15.0f);
    state = PROCESS;
}


Jkmeter::~Jkmeter (void)
{
    state = INITIAL;
    close_jack ();
    delete [] dsp;
}


int Jkmeter::get_levels (void)
{
    if (dsp)
    {
        for (int i = 0; i < ninp; i++) dsp [i].read (rms_buf + i, peak_buf + i);
    }
    return state;
}


int Jkmeter::jack_process (int nframes)
{
    float      *inp [MAXPORT];
    Kmeterdsp  *K [MAXPORT];

    if (state != PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    // A port deleted through the client operations gives a null buffer,
    // which the meter takes as silence.
    for (int i = 0; i < ninp; i++) K [i] = dsp + i;
    Kmeterdsp::process_multi (simd, K, inp, ninp, nframes);
    return 0;
}
