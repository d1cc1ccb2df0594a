// P_thread: base class of the worker threads that tools start besides JACK's
// own (the file player's disk reader, the matrix convolver's workers). A
// subclass supplies thr_main(); thr_start() runs it once on a detached POSIX
// thread with an explicit policy, priority (clamped into the policy's range)
// and stack size. The owner makes thr_main() return before destroying the
// object: the thread is never joined or cancelled here.

#ifndef VESK_P_THREAD_H
#define VESK_P_THREAD_H

#include <pthread.h>
#include <stddef.h>


class P_thread
{
public:

    P_thread (void);
    virtual ~P_thread (void);

    virtual void thr_main (void) = 0;
    // Returns 0, or the error number of pthread_create (no thread then).
    // A stack size the system refuses (0, say) leaves its default.
    virtual int thr_start (int policy, int priority, size_t stacksize);

    pthread_t  _ident;     // the thread of the last thr_start; cleared before each creation

private:

    P_thread (const P_thread&) = delete;
    P_thread& operator= (const P_thread&) = delete;
};


extern "C" void *P_thread_entry_point (void *arg);

#endif
