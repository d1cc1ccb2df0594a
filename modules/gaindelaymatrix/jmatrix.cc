// JACK client of the gain and delay matrix.

#include "jmatrix.h"


Jmatrix::Jmatrix (const char *client_name, const char *server_name, int ninp, int nout, float maxdelay)
{
    if (ninp < 0) ninp = 0;
    if (ninp > Gdmatrix::MAXCHAN) ninp = Gdmatrix::MAXCHAN;
    if (nout < 0) nout = 0;
    if (nout > Gdmatrix::MAXCHAN) nout = Gdmatrix::MAXCHAN;
    if (   open_jack (client_name, server_name, ninp, nout)
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    init (maxdelay);
}


Jmatrix::~Jmatrix (void)
{
    fini ();
}


void Jmatrix::init (float maxdelay)
{
    matrix.init (ninp, nout, fsamp, fsize, maxdelay);
    state = PROCESS;
}


void Jmatrix::fini (void)
{
    state = INITIAL;
    close_jack ();
    matrix.fini ();
}


int Jmatrix::jack_process (int nframes)
{
    float  *inp [MAXPORT];
    float  *out [MAXPORT];

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    matrix.process (nframes, inp, out);
    return 0;
}
