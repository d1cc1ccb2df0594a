// JACK client of the binaural renderer.

#include "jambbin.h"


Jambbin::Jambbin (const char *client_name, const char *server_name, int maxlen, int degree) :
    renderer (nullptr)
{
    if (degree < 1) degree = 1;
    if (degree > 8) degree = 8;
    if (   open_jack (client_name, server_name, (degree + 1) * (degree + 1), 2)
        || create_inp_ports ("in.%d", 0)
        || create_out_port (0, "out.L")
        || create_out_port (1, "out.R"))
    {
        state = FAILED;
        return;
    }
    renderer = new Ambbin8 (fsamp, degree, maxlen, fsize);
    state = PROCESS;
}


Jambbin::~Jambbin (void)
{
    state = INITIAL;
    close_jack ();
    delete renderer;
}


int Jambbin::jack_process (int nframes)
{
    float *inp [81], *out [2];

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, 2);
    renderer->process (nframes, inp, out);
    return 0;
}
