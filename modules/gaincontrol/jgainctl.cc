// JACK client of the gain control.

#include "jgainctl.h"


Jgainctl::Jgainctl (const char *client_name, const char *server_name, int nchan) :
    fader (nullptr)
{
    if (nchan < 0) nchan = 0;
    if (nchan > Fader2::MAXCHAN) nchan = Fader2::MAXCHAN;
    if (   open_jack (client_name, server_name, nchan, nchan)
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    fader = new Fader2 (nchan, fsamp);
    state = PROCESS;
}


Jgainctl::~Jgainctl (void)
{
    state = INITIAL;
    close_jack ();
    delete fader;
}


int Jgainctl::jack_process (int nframes)
{
    float  *inp [MAXPORT];
    float  *out [MAXPORT];

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    fader->process (nframes, inp, out);
    return 0;
}
