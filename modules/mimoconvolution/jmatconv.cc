// JACK client of the matrix convolver.

#include <string.h>
#include <time.h>
#include "jmatconv.h"


static int clamp (int v, int lo, int hi)
{
    return (v < lo) ? lo : ((v > hi) ? hi : v);
}


Jmatconv::Jmatconv (const char *client_name, const char *server_name, int maxlen, int ninp, int nout, int nthr) :
    _cmd_state (PASSIVE),
    _cmd_req (0),
    _cmd_ack (0),
    _dconv (nullptr)
{
    ninp = clamp (ninp, 1, MAXCHAN);
    nout = clamp (nout, 1, MAXCHAN);
    if (   !_cmdsync.ok ()
        || open_jack (client_name, server_name, ninp, nout)
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    init (maxlen, nthr);
}


Jmatconv::~Jmatconv (void)
{
    fini ();
}


void Jmatconv::init (int maxlen, int nthr)
{
    // The callback does nothing until the state below is set: the engine
    // is complete before it is used.
    _dconv = new Denseconv (Jclient::ninp, Jclient::nout, clamp (maxlen, MINLEN, MAXLEN),
                            fsize, nthr, jack_priority + 10);
    if (!_dconv->ok ())
    {
        fini ();
        state = FAILED;
        return;
    }
    _cmd_state = PASSIVE;
    state = PASSIVE;
}


void Jmatconv::fini (void)
{
    state = INITIAL;
    close_jack ();
    // No callback runs any more: the workers can stop.
    delete _dconv;
    _dconv = nullptr;
}


int Jmatconv::set_state (int s)
{
    unsigned r;

    if ((s != PASSIVE) && (s != PROCESS)) return -1;
    if (state <= 0) return 1;
    _cmdsync.drain ();
    _cmd_state.store (s, std::memory_order_relaxed);
    r = _cmd_req.load (std::memory_order_relaxed) + 1;
    _cmd_req.store (r, std::memory_order_release);
    return _cmdsync.wait (*this, [&] { return _cmd_ack.load (std::memory_order_acquire) == r; }) ? 0 : 1;
}


int Jmatconv::load_impulse (const float *data, int len, ptrdiff_t step, int inp, int out, float gain)
{
    if (!_dconv) return 1;
    // The engine runs while PROCESS, and will once a pending request is taken.
    bool live = (state > 0)
             && (   (state == PROCESS)
                 || (_cmd_req.load (std::memory_order_relaxed) != _cmd_ack.load (std::memory_order_acquire)));
    if (!live) return _dconv->setimp (inp, out, gain, data, len, step);

    _cmdsync.drain ();
    int r = _dconv->stageimp (inp, out, gain, data, len, step);
    if (r) return r;
    if (_cmdsync.wait (*this, [&] { return !_dconv->staged (); })) return 0;
    return _dconv->unstage () ? 2 : 0;
}


int Jmatconv::jack_process (int nframes)
{
    float     *inp [MAXCHAN];
    float     *out [MAXCHAN];
    unsigned   r;
    bool       post = false;
    int        s;

    if (state <= 0) return 0;

    // A state request, then a staged response: both are taken between
    // periods of the engine.
    r = _cmd_req.load (std::memory_order_acquire);
    if (r != _cmd_ack.load (std::memory_order_relaxed))
    {
        state = _cmd_state.load (std::memory_order_relaxed);
        _cmd_ack.store (r, std::memory_order_release);
        post = true;
    }
    if (_dconv->takeimp ()) post = true;
    if (post) _cmdsync.post ();

    s = state;
    get_out_buffers (nframes, out, Jclient::nout);
    // The partitions are one period as it was at construction: after the
    // server changed its period the outputs stay silent.
    if ((s != PROCESS) || (nframes != _dconv->param.psize))
    {
        for (int o = 0; o < Jclient::nout; o++) memset (out [o], 0, nframes * sizeof (float));
        return 0;
    }
    get_inp_buffers (nframes, inp, Jclient::ninp);
    _dconv->process (inp, out);
    return 0;
}
