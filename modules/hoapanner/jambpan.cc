// JACK client of the ambisonic panner.

#include "jambpan.h"


Jambpan::Jambpan (const char *client_name, const char *server_name, int degree, int ninp_)
{
    for (int i = 0; i < MAXINP; i++) panners [i] = nullptr;
    if (degree < 1) degree = 1;
    if (degree > 8) degree = 8;
    if (ninp_ < 1) ninp_ = 1;
    if (ninp_ > MAXINP) ninp_ = MAXINP;
    if (   open_jack (client_name, server_name, ninp_, (degree + 1) * (degree + 1))
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out.%d", 0))
    {
        state = FAILED;
        return;
    }
    for (int i = 0; i < ninp; i++) panners [i] = new Ambpan8 (fsamp, degree, true);
    state = PROCESS;
}


Jambpan::~Jambpan (void)
{
    state = INITIAL;
    close_jack ();
    for (int i = 0; i < MAXINP; i++) delete panners [i];
}


void Jambpan::set_direction (int index, float azim, float elev, float tramp)
{
    if (state < PROCESS || index < 0 || index >= ninp) return;
    panners [index]->set_direction (azim, elev, tramp);
}


int Jambpan::jack_process (int nframes)
{
    float  *inp [MAXPORT];
    float  *out [MAXPORT];

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, nout);
    // Input 0 writes every output, the others add to them.
    for (int i = 0; i < ninp; i++) panners [i]->process (nframes, inp [i], out, i > 0);
    return 0;
}
