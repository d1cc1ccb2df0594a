// JACK client of the matrix convolver: ninp inputs "in_%d" (1 .. 100) through
// a dense matrix of impulse responses of up to maxlen frames (16 .. 16384)
// into nout outputs "out_%d" (1 .. 100), computed by 1 to 16 worker threads
// with partitions of one period. Silent while PASSIVE, convolving in PROCESS.

#ifndef VESK_JMATCONV_H
#define VESK_JMATCONV_H

#include <atomic>
#include <semaphore.h>
#include "jclient.h"
#include "framework/cmdsync.h"
#include "convolution/denseconv.h"


class Jmatconv : public Jclient
{
public:

    enum { MAXCHAN = 100, MINLEN = 16, MAXLEN = 16384 };

    Jmatconv (const char *client_name, const char *server_name, int maxlen, int ninp, int nout, int nthr);
    virtual ~Jmatconv (void);

    // Hands PASSIVE or PROCESS to the process thread and waits until it is
    // taken, about one period. Waits in 10 ms steps and gives up when the
    // client is gone (state 0 or below, ZOMBIE after a server shutdown) or
    // no period has run for Cmdsync::STALL_MS. Returns 0 when taken, 1 when not (at
    // once when the state is 0 or below; a request not taken stays pending),
    // -1 for any other state, which is refused.
    int set_state (int s);

    // Loads the response from input inp to output out: data [j * step],
    // j < len, scaled by gain; data null empties it. While processing, the
    // response is prepared aside and put in place between two periods, so
    // the convolution never sees it half written; the call waits for that as
    // set_state does. Returns 0 when done, 1 for an index out of range (or
    // no engine), 2 when the process thread did not take it (client stalled
    // or gone: the old response stays).
    int load_impulse (const float *data, int len, ptrdiff_t step, int inp, int out, float gain);

private:

    void init (int maxlen, int nthr);
    void fini (void);

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;

    // State handshake. _cmd_state is stored before _cmd_req is published
    // (release), so the process thread that sees the new count (acquire)
    // sees the state it asks for. _cmd_state, _cmd_req: written by the
    // Python thread; _cmd_ack: written by the process thread. _cmdsync is
    // posted by the process thread after taking a state or a staged response.
    std::atomic<int>       _cmd_state;
    std::atomic<unsigned>  _cmd_req;
    std::atomic<unsigned>  _cmd_ack;
    Cmdsync                _cmdsync;
    Denseconv             *_dconv;    // owned; null unless built
};

#endif
