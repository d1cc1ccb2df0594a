// JACK client of the noise source.

#include "jnoise.h"


Jnoise::Jnoise (const char *client_name, const char *server_name, int nout_) :
    noise (nullptr)
{
    if (nout_ < 0) nout_ = 0;
    if (nout_ > MAXPORT) nout_ = MAXPORT;
    if (   open_jack (client_name, server_name, 0, nout_)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    init ();
}


Jnoise::~Jnoise (void)
{
    fini ();
}


void Jnoise::init (void)
{
    noise = new Noisegen [nout];
    // Published last: the process callback only touches noise from here on.
    state = PROCESS;
}


void Jnoise::fini (void)
{
    state = INITIAL;
    close_jack ();
    delete[] noise;
    noise = nullptr;
}


int Jnoise::set_output (int index, int type, float db)
{
    if (!noise || (index < 0) || (index >= nout)) return 0;
    return noise [index].setparam (type, db);
}


int Jnoise::jack_process (int nframes)
{
    float  *out [MAXPORT];

    if (state < PROCESS) return 0;
    get_out_buffers (nframes, out, nout);
    // A port deleted through the client operations gets a scratch buffer:
    // its generator runs on unheard.
    for (int i = 0; i < nout; i++) noise [i].process (nframes, out [i]);
    return 0;
}
