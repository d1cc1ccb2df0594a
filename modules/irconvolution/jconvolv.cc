// JACK client of the impulse-response convolver.

#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include "jconvolv.h"


Jconvolv::Jconvolv (const char *client_name, const char *server_name, int ninp, int nout) :
    _convproc (nullptr),
    _freewheel (false),
    _busy (false)
{
    if (ninp < 1) ninp = 1;
    if (ninp > MAXCHAN) ninp = MAXCHAN;
    if (nout < 1) nout = 1;
    if (nout > MAXCHAN) nout = MAXCHAN;
    if (vesk_convolver_major_version () != 4)
    {
        fprintf (stderr, "Vesk-convolver does not match compile-time version.\n");
        state = FAILED;
        return;
    }
    if (   open_jack (client_name, server_name, ninp, nout)
        || create_inp_ports ("in_%d", 0)
        || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    _convproc = new Convproc;
}


Jconvolv::~Jconvolv (void)
{
    state = INITIAL;
    close_jack ();
    delete _convproc;
}


void Jconvolv::set_state (int s)
{
    if (!_convproc) return;
    if (s == PROCESS)
    {
        // A client whose server has gone (ZOMBIE) never processes again.
        if (state < 0) return;
        if (_convproc->start_process (jack_priority, jack_policy) == 0) state = PROCESS;
    }
    else if (s == PASSIVE)
    {
        // The engine is stopped in any case; a ZOMBIE stays one.
        if (state >= 0) state = PASSIVE;
        if (_convproc->stop_process () == 0)
        {
            while (!_convproc->check_stop ()) usleep (100000);
        }
        // A period that saw the engine processing may still be copying.
        while (_busy.load ()) usleep (1000);
    }
}


int Jconvolv::configure (unsigned maxlen, float density)
{
    if (state < 0 || !_convproc) return -1;
    return _convproc->configure (ninp, nout, maxlen, fsize, fsize, MAXPART, density);
}


void Jconvolv::jack_freewheel (int onoff)
{
    _freewheel = (onoff != 0);
}


void Jconvolv::jack_buffsize (int)
{
    // The engine keeps the partition size it was configured with.
}


int Jconvolv::jack_process (int nframes)
{
    float *buf [MAXCHAN];

    if (state < PASSIVE) return 0;
    Convproc *C = _convproc;
    if (!C) return 0;
    _busy.store (true);
    // A period other than the one the engine was configured for would run
    // past its buffers: silence until it is configured again.
    if (C->state.load () != Convproc::ST_PROC || nframes != C->quantum ())
    {
        _busy.store (false, std::memory_order_release);
        get_out_buffers (nframes, buf, nout);
        for (int o = 0; o < nout; o++) memset (buf [o], 0, nframes * sizeof (float));
        return 0;
    }
    get_inp_buffers (nframes, buf, ninp);
    for (int i = 0; i < ninp; i++) memcpy (C->inpbuff [i] + C->inpoffs, buf [i], nframes * sizeof (float));
    C->process (_freewheel);
    get_out_buffers (nframes, buf, nout);
    for (int o = 0; o < nout; o++) memcpy (buf [o], C->outbuff [o] + C->outoffs, nframes * sizeof (float));
    _busy.store (false, std::memory_order_release);
    return 0;
}
