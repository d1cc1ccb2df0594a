// JACK client of the impulse-response convolver: ninp inputs "in_%d" and nout
// outputs "out_%d" (each 1 .. 64), every input-output pair convolved with its
// own response by a Convproc engine partitioned for the JACK period. Nothing
// is processed until the engine is configured, loaded and started.

#ifndef VESK_JCONVOLV_H
#define VESK_JCONVOLV_H

#include <atomic>
#include "jclient.h"
#include "convproc.h"


class Jconvolv : public Jclient
{
public:

    enum { MAXCHAN = 64, MAXPART = 8192 };

    Jconvolv (const char *client_name, const char *server_name, int ninp, int nout);
    virtual ~Jconvolv (void);

    // Python thread. 10 starts the engine (state PROCESS), 2 stops it (state
    // PASSIVE) and returns once it has stopped; other values do nothing.
    // With the server gone (ZOMBIE) 10 is refused and 2 only stops the engine.
    void set_state (int state);
    // -1 if the state is negative, else the engine's configure result.
    int configure (unsigned maxlen, float density);

    Convproc  *_convproc;    // owned; null if construction failed
    bool       _freewheel;   // written by JACK's freewheel callback, read by the process thread

private:

    virtual void jack_freewheel (int onoff) override;
    virtual void jack_buffsize (int nframes) override;
    virtual int jack_process (int nframes) VESK_NONBLOCKING override;

    // True while jack_process uses the engine's buffers: a stop waits for it
    // to clear, so that no period still touches buffers a clean-up may free.
    std::atomic<bool> _busy;
};

#endif
