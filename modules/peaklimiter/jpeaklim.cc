// JACK client of the peak limiter.

#include "jpeaklim.h"


Jpeaklim::Jpeaklim (const char *client_name, const char *server_name, int nchan)
{
    if (nchan < 1) nchan = 1;
    if (nchan > Peaklim::MAXCHAN) nchan = Peaklim::MAXCHAN;
    if (   open_jack (client_name, server_name, nchan, nchan)
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    peaklim.init ((float) fsamp, nchan);
    state = PROCESS;
}


Jpeaklim::~Jpeaklim (void)
{
    state = INITIAL;
    close_jack ();
    peaklim.fini ();
}


int Jpeaklim::jack_process (int nframes)
{
    float  *inp [MAXPORT];
    float  *out [MAXPORT];

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    peaklim.process (nframes, inp, out);
    return 0;
}
