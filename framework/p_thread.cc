// P_thread: detached worker threads with explicit scheduling.

#include <sched.h>
#include <string.h>
#include "framework/p_thread.h"


extern "C" void *P_thread_entry_point (void *arg)
{
    static_cast<P_thread *>(arg)->thr_main ();
    return nullptr;
}


P_thread::P_thread (void)
{
    memset (&_ident, 0, sizeof (_ident));
}


P_thread::~P_thread (void)
{
}


int P_thread::thr_start (int policy, int priority, size_t stacksize)
{
    int            min, max, rc;
    pthread_attr_t attr;
    sched_param    parm;

    min = sched_get_priority_min (policy);
    max = sched_get_priority_max (policy);
    if (priority < min) priority = min;
    if (priority > max) priority = max;
    parm.sched_priority = priority;

    // The attribute results are not checked: a value the system refuses
    // (a stack size of 0, say) leaves its default.
    pthread_attr_init (&attr);
    pthread_attr_setdetachstate (&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setschedpolicy (&attr, policy);
    pthread_attr_setschedparam (&attr, &parm);
    pthread_attr_setscope (&attr, PTHREAD_SCOPE_SYSTEM);
    pthread_attr_setinheritsched (&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setstacksize (&attr, stacksize);

    memset (&_ident, 0, sizeof (_ident));
    rc = pthread_create (&_ident, &attr, P_thread_entry_point, this);
    pthread_attr_destroy (&attr);
    return rc;
}
