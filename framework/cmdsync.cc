// Cmdsync: bounded waits of the command handshake.

#include <time.h>
#include "framework/cmdsync.h"


Cmdsync::Cmdsync (void)
{
    _ok = (sem_init (&_sem, 0, 0) == 0);
}


Cmdsync::~Cmdsync (void)
{
    if (_ok) sem_destroy (&_sem);
}


void Cmdsync::drain (void)
{
    if (!_ok) return;
    while (sem_trywait (&_sem) == 0) {}
}


Cmdsync::Stall::Stall (const Jclient &J) :
    J (J),
    cycles (J.process_cycles ())
{
    clock_gettime (CLOCK_MONOTONIC, &seen);
}


bool Cmdsync::step (Stall &S)
{
    struct timespec  now, due;
    unsigned         c;

    clock_gettime (CLOCK_MONOTONIC, &now);
    c = S.J.process_cycles ();
    if (c != S.cycles)
    {
        S.cycles = c;
        S.seen = now;
    }
    else if (  (now.tv_sec - S.seen.tv_sec) * 1000
             + (now.tv_nsec - S.seen.tv_nsec) / 1000000 >= STALL_MS) return false;
    if (!_ok)
    {
        struct timespec ts = { 0, 10000000 };
        nanosleep (&ts, nullptr);
        return true;
    }
    due = now;
    due.tv_nsec += 10000000;
    if (due.tv_nsec >= 1000000000)
    {
        due.tv_nsec -= 1000000000;
        due.tv_sec += 1;
    }
    sem_clockwait (&_sem, CLOCK_MONOTONIC, &due);
    return true;
}
