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
    _sem_ok (false),
    _dconv (nullptr)
{
    _sem_ok = (sem_init (&_cmd_sem, 0, 0) == 0);
    ninp = clamp (ninp, 1, MAXCHAN);
    nout = clamp (nout, 1, MAXCHAN);
    if (   !_sem_ok
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
    if (_sem_ok) sem_destroy (&_cmd_sem);
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


template <class F> bool Jmatconv::wait_taken (F taken)
{
    struct timespec  now, due, seen;
    unsigned         c, c0;

    c0 = process_cycles ();
    clock_gettime (CLOCK_MONOTONIC, &seen);
    while (!taken ())
    {
        if (state <= 0) return taken ();
        clock_gettime (CLOCK_MONOTONIC, &now);
        c = process_cycles ();
        if (c != c0)
        {
            c0 = c;
            seen = now;
        }
        else if (  (now.tv_sec - seen.tv_sec) * 1000
                 + (now.tv_nsec - seen.tv_nsec) / 1000000 >= STALL_MS) return taken ();
        due = now;
        due.tv_nsec += 10000000;
        if (due.tv_nsec >= 1000000000)
        {
            due.tv_nsec -= 1000000000;
            due.tv_sec += 1;
        }
        sem_clockwait (&_cmd_sem, CLOCK_MONOTONIC, &due);
    }
    return true;
}


int Jmatconv::set_state (int s)
{
    unsigned r;

    if ((s != PASSIVE) && (s != PROCESS)) return -1;
    if (state <= 0) return 1;
    // Posts left over from requests that were given up on.
    while (sem_trywait (&_cmd_sem) == 0) {}
    _cmd_state.store (s, std::memory_order_relaxed);
    r = _cmd_req.load (std::memory_order_relaxed) + 1;
    _cmd_req.store (r, std::memory_order_release);
    return wait_taken ([&] { return _cmd_ack.load (std::memory_order_acquire) == r; }) ? 0 : 1;
}


int Jmatconv::load_impulse (const float *data, int len, ptrdiff_t step, int inp, int out, float gain)
{
    if (!_dconv) return 1;
    // The engine runs while PROCESS, and will once a pending request is taken.
    bool live = (state > 0)
             && (   (state == PROCESS)
                 || (_cmd_req.load (std::memory_order_relaxed) != _cmd_ack.load (std::memory_order_acquire)));
    if (!live) return _dconv->setimp (inp, out, gain, data, len, step);

    while (sem_trywait (&_cmd_sem) == 0) {}
    int r = _dconv->stageimp (inp, out, gain, data, len, step);
    if (r) return r;
    if (wait_taken ([&] { return !_dconv->staged (); })) return 0;
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
    if (post) sem_post (&_cmd_sem);

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
