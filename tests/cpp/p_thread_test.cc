// P_thread: the body runs once on its own thread, priorities are clamped into
// the policy's range, and a stack size of 0 leaves the default.

#include <gtest/gtest.h>
#include <atomic>
#include <semaphore.h>
#include <sched.h>
#include "framework/p_thread.h"


class Probe : public P_thread
{
public:

    Probe (void) { sem_init (&done, 0, 0); }
    ~Probe (void) { sem_destroy (&done); }

    void thr_main (void) override
    {
        sched_param p;
        pthread_getschedparam (pthread_self (), &policy, &p);
        priority = p.sched_priority;
        self = pthread_self ();
        runs++;
        sem_post (&done);
    }

    bool wait (void)
    {
        timespec t;
        clock_gettime (CLOCK_REALTIME, &t);
        t.tv_sec += 5;
        return sem_timedwait (&done, &t) == 0;
    }

    sem_t            done;
    int              policy = -1;
    int              priority = -1;
    pthread_t        self;
    std::atomic<int> runs { 0 };
};


TEST (P_thread, RunsBodyOnceOnItsOwnThread)
{
    Probe P;
    ASSERT_EQ (P.thr_start (SCHED_OTHER, 0, 0), 0);
    ASSERT_TRUE (P.wait ());
    EXPECT_TRUE (pthread_equal (P.self, P._ident));
    EXPECT_FALSE (pthread_equal (P.self, pthread_self ()));
    EXPECT_EQ (P.policy, SCHED_OTHER);
    usleep (10000);
    EXPECT_EQ (P.runs.load (), 1);
}


TEST (P_thread, FifoPriorityIsClamped)
{
    // Real-time scheduling needs a permission the test may not have; then
    // pthread_create's own error comes back and no thread runs.
    const int lo = sched_get_priority_min (SCHED_FIFO);
    const int hi = sched_get_priority_max (SCHED_FIFO);
    struct Case { int asked, expected; };
    for (const Case &c : { Case { hi + 50, hi }, Case { lo - 50, lo }, Case { lo + 3, lo + 3 } })
    {
        Probe P;
        int rc = P.thr_start (SCHED_FIFO, c.asked, 0x10000);
        if (rc == EPERM) GTEST_SKIP () << "no permission for SCHED_FIFO";
        ASSERT_EQ (rc, 0);
        ASSERT_TRUE (P.wait ());
        EXPECT_EQ (P.policy, SCHED_FIFO);
        EXPECT_EQ (P.priority, c.expected) << "asked " << c.asked;
    }
}
