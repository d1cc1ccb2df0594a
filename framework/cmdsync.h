// Cmdsync: the waiting half of the command handshake between the control
// (Python) thread and a client's process thread. The control thread
// publishes a request, then waits in wait() until the process thread has
// taken it and posted: in 10 ms steps, giving up when the client is gone
// (state 0 or below, ZOMBIE after a server shutdown) or when no period has
// run for STALL_MS (a server that stopped). The process thread only posts.

#ifndef VESK_CMDSYNC_H
#define VESK_CMDSYNC_H

#include <semaphore.h>
#include "jclient.h"


class Cmdsync
{
public:

    Cmdsync (void);
    ~Cmdsync (void);

    // The semaphore could be made; a client without it must not run.
    bool ok (void) const { return _ok; }

    // Control thread, before a new request: drops posts left over from
    // requests that were given up on.
    void drain (void);

    // Process thread, after taking a request.
    void post (void) VESK_NONBLOCKING { sem_post (&_sem); }

    // Control thread: waits until taken() holds. Returns taken() as it is
    // when the wait ends: true when the request was taken.
    template <class F> bool wait (const Jclient &J, F taken)
    {
        Stall S (J);
        while (!taken ())
        {
            if ((J.state <= 0) || !step (S)) return taken ();
        }
        return true;
    }

    enum { STALL_MS = 2000 };

private:

    struct Stall
    {
        Stall (const Jclient &J);
        const Jclient   &J;
        unsigned         cycles;   // process_cycles() when last seen to change
        struct timespec  seen;     // when that was
    };

    // One 10 ms step on the semaphore; false once the process thread has
    // not run for STALL_MS.
    bool step (Stall &S);

    Cmdsync (const Cmdsync&) = delete;
    Cmdsync& operator= (const Cmdsync&) = delete;

    sem_t  _sem;      // posted by the process thread, waited on by the control thread
    bool   _ok;
};

#endif
