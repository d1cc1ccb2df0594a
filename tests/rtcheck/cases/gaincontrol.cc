// Gain control: ramps, mutes and gain changes while audio runs.

#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include "rtcheck.h"
#include "modules/gaincontrol/jgainctl.h"

RTCHECK_CASE (gaincontrol)
{
    Jgainctl A ("rt-gaincontrol", server, 4);
    Jgainctl B ("rt-gaincontrol-b", server, 100);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    for (int i = 0; i < 4; i++) rt_connect (A, i, B, i);
    for (int k = 0; k < 60; k++)
    {
        A.fader->setgain (-1, -6.0f * (k % 8));
        B.fader->setgain (-1, (k % 3) ? 0.0f : -200.0f);
        A.fader->setgain (k % 5, -3.0f * (k % 4));
        A.fader->setmute (k % 5 - 1, k & 1);
        B.fader->setmute (k % 100, k & 2);
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
    // Threads that tools start take their scheduling from JACK's process thread.
    if (jack_is_realtime (A.jack_client) && (A.jack_policy != SCHED_FIFO || A.jack_priority <= 0))
    {
        fprintf (stderr, "rtcheck: policy %d priority %d of a real-time client\n", A.jack_policy, A.jack_priority);
        exit (2);
    }
}
