// JACK client of the ambisonic rotator.

#include "jambrot.h"


Jambrot::Jambrot (const char *client_name, const char *server_name, int degree) :
    rotator (nullptr)
{
    if (degree < 1) degree = 1;
    if (degree > 8) degree = 8;
    const int n = (degree + 1) * (degree + 1);
    if (   open_jack (client_name, server_name, n, n)
        || create_inp_ports ("in.%d", 0)
        || create_out_ports ("out.%d", 0))
    {
        state = FAILED;
        return;
    }
    rotator = new Ambrot8 (fsamp, degree);
    state = PROCESS;
}


Jambrot::~Jambrot (void)
{
    state = INITIAL;
    close_jack ();
    delete rotator;
}


void Jambrot::set_rotation (float angle, float x, float y, float z, float tramp)
{
    if (rotator) rotator->set_rotation (angle, x, y, z, tramp);
}


void Jambrot::set_quaternion (float w, float x, float y, float z, float tramp)
{
    if (rotator) rotator->set_quaternion (w, x, y, z, tramp);
}


int Jambrot::jack_process (int nframes)
{
    float  *inp [MAXPORT];
    float  *out [MAXPORT];

    if (state < PROCESS) return 0;
    get_inp_buffers (nframes, inp, ninp);
    get_out_buffers (nframes, out, ninp);
    rotator->process (nframes, inp, out);
    return 0;
}
